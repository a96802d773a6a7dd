#ifndef CRASH_PLUGIN_REPORT_PROCESS_CRASH_EVENT_H_
#define CRASH_PLUGIN_REPORT_PROCESS_CRASH_EVENT_H_

#include <string>

#include "base/logging/logging.h"
#include "environment/application_context.h"

namespace tlv {

inline constexpr char kCrashPluginComponent[] = "crash_plugin";

}  // namespace tlv

// Sends a telemetry event of the crash-report job, then writes the same
// event to the log at level. Event and line both carry the place where the
// macro is written.
#define TLV_CRASH_EVENT(level, event, result)                         \
  do {                                                                \
    const std::string tlv_event_result = (result);                    \
    ::tlv::TelemetryReport((event), ::tlv::kCrashPluginComponent,     \
                           tlv_event_result, TLV_SOURCE_LOCATION());  \
    TLV_LOG((level), "event: {}, component: {}, result: {}", (event), \
            ::tlv::kCrashPluginComponent, tlv_event_result);          \
  } while (false)

#endif  // CRASH_PLUGIN_REPORT_PROCESS_CRASH_EVENT_H_
