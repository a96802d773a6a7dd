#ifndef REPORT_REPORT_ENVELOPE_H_
#define REPORT_REPORT_ENVELOPE_H_

#include <cstdint>
#include <string>

#include "base/json/json_value.h"

namespace tlv {

// The JSON document of a data upload. The service reads members by name;
// their order in the text is not defined.
//
// {"applicationId":900007, "applicationName":"apm", "msgId":<id>,
//  "eventTime":"<seconds as text>", "eventId":<n>, "eventName":<name>,
//  "uploadContent":{"DeviceInfo":{...}, "AppInfo":{...}, "APMInfo":{...},
//                   "PluginData":{...}, "CustomData":{...}, "ReportId":<id>,
//                   "OccurTimestamp":<ISO-8601>, "LocalTimestamp":<ISO-8601>},
//  "dump":<Base64 of the file>}
//
// Values of the host's common information are read from the application
// context's common service when building, through its privacy filters.

// The host application: versions, channel, ids, and "Area" as "cn", "os" or,
// for any other area code, "unknown".
base::JsonValue BuildAppInfo(int32_t area);

// The machine; "DeviceName" is the argument, "IsRoot" a boolean.
base::JsonValue BuildDeviceInfo(const std::string& device_name);

// "uploadContent". APMInfo, PluginData and CustomData are copied only when
// they have members; DeviceInfo is always present. Mind the order of the two
// timestamps.
base::JsonValue BuildUploadContent(int32_t area,
                                   const std::string& report_id,
                                   const base::JsonValue& apm_info,
                                   const base::JsonValue& plugin_data,
                                   const base::JsonValue& custom_data,
                                   const std::string& device_name,
                                   const std::string& local_timestamp,
                                   const std::string& occur_timestamp);

// The event's compact text; "dump" is left out when empty. Empty when the
// document cannot be written.
std::string BuildReportEvent(const std::string& message_id,
                             int32_t event_id,
                             const std::string& event_name,
                             int64_t event_time_seconds,
                             const base::JsonValue& upload_content,
                             std::string dump);

}  // namespace tlv

#endif  // REPORT_REPORT_ENVELOPE_H_
