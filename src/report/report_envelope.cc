#include "report/report_envelope.h"

#include <utility>

#include "common/common_service.h"
#include "environment/application_context.h"

namespace tlv {
namespace {

const char* AreaText(int32_t area) {
  switch (area) {
    case kAreaMainland:
      return "cn";
    case kAreaOversea:
      return "os";
    default:
      return "unknown";
  }
}

// Copies source's members into a member called name, unless it has none.
void SetIfNotEmpty(base::JsonValue& target,
                   const char* name,
                   const base::JsonValue& source) {
  if (!source.Members().empty())
    target.SetObject(name, source.Members());
}

}  // namespace

base::JsonValue BuildAppInfo(int32_t area) {
  CommonService* const common =
      ApplicationContext::Instance().GetCommonService();
  base::JsonValue info;
  info.SetString("AppVersion", common->GetAppVersion());
  info.SetString("PackageName", common->GetPackageName());
  info.SetString("Channel", common->GetChannel());
  info.SetString("AppId", common->GetAppId());
  info.SetString("Region", common->GetRegion());
  info.SetString("CompileType", common->GetCompileType());
  info.SetString("Area", AreaText(area));
  info.SetString("UserDeviceId", common->GetUserDeviceId());
  info.SetString("UserId", common->GetUserId());
  info.SetString("Aid", common->GetAId());
  info.SetString("LifecycleId", common->GetLifecycleId());
  return info;
}

base::JsonValue BuildDeviceInfo(const std::string& device_name) {
  CommonService* const common =
      ApplicationContext::Instance().GetCommonService();
  base::JsonValue info;
  info.SetString("Platform", common->GetPlatform());
  info.SetString("DeviceModel", common->GetDeviceModel());
  info.SetString("Brand", common->GetBrand());
  info.SetString("DeviceName", device_name);
  info.SetString("SystemVersion", common->GetSystemVersion());
  info.SetString("CPUArchitecture", common->GetCpuArchitecture());
  info.SetString("Rom", common->GetRom());
  info.SetBool("IsRoot", common->IsRoot());
  info.SetString("DeviceId", common->GetDeviceId());
  return info;
}

base::JsonValue BuildUploadContent(int32_t area,
                                   const std::string& report_id,
                                   const base::JsonValue& apm_info,
                                   const base::JsonValue& plugin_data,
                                   const base::JsonValue& custom_data,
                                   const std::string& device_name,
                                   const std::string& local_timestamp,
                                   const std::string& occur_timestamp) {
  base::JsonValue content;
  content.SetObject("DeviceInfo", BuildDeviceInfo(device_name).Members());
  SetIfNotEmpty(content, "AppInfo", BuildAppInfo(area));
  SetIfNotEmpty(content, "APMInfo", apm_info);
  SetIfNotEmpty(content, "PluginData", plugin_data);
  SetIfNotEmpty(content, "CustomData", custom_data);
  content.SetString("ReportId", report_id);
  content.SetString("OccurTimestamp", occur_timestamp);
  content.SetString("LocalTimestamp", local_timestamp);
  return content;
}

std::string BuildReportEvent(const std::string& message_id,
                             int32_t event_id,
                             const std::string& event_name,
                             int64_t event_time_seconds,
                             const base::JsonValue& upload_content,
                             std::string dump) {
  base::JsonValue event;
  event.SetInt("applicationId", ApplicationContext::GetApplicationId());
  event.SetString("applicationName", ApplicationContext::GetApplicationName());
  event.SetString("msgId", message_id);
  event.SetString("eventTime", std::to_string(event_time_seconds));
  event.SetInt("eventId", event_id);
  event.SetString("eventName", event_name);
  event.SetObject("uploadContent", upload_content.Members());
  if (!dump.empty())
    event.SetString("dump", std::move(dump));
  return event.ToText();
}

}  // namespace tlv
