#ifndef CRASH_PLUGIN_REPORT_PROCESS_CRASH_REPORT_H_
#define CRASH_PLUGIN_REPORT_PROCESS_CRASH_REPORT_H_

#include <string>

#include "base/json/json_value.h"
#include "base/utils/file_path.h"
#include "crash_plugin/report_process/launch_configuration.h"

namespace tlv {

// The crash-report job. It runs on the calling thread, one dump and one
// request after the other, and tells its outcome only through telemetry
// events (component "crash_plugin") and log lines. A dump is deleted only
// after the data-upload service accepted it, and never with remain_file.

// start_mode 1 runs ScanReport, 2 runs BlockReport, anything else nothing.
void RunCrashReport(const LaunchConfiguration& config);

// Reports every file under dmp_dir_path, subdirectories included, whose name
// ends in ".dmp" (case-sensitive), then raises "CrashReportScan" with
// "<count> files <is_package_log as 0 or 1>". A scan reports each dump with
// its last-write time.
void ScanReport(const LaunchConfiguration& config);

// Reports the one dump dmp_path as it is.
void BlockReport(const LaunchConfiguration& config);

// The kit's crash plug-in: "SDKVersion", "PluginId" 1006, "PluginName",
// "PluginVersion".
void FillApmInfo(base::JsonValue& object);

// What the host said about the crash: "CrashType" (always empty),
// "UseDurationSeconds", "FreeMemory", "FreeDiskSize", "FileExists" (always
// true) and "SymbolId".
void FillPluginData(const LaunchConfiguration& config, base::JsonValue& object);

// Builds the report of the file at path (its bytes as Base64 in "dump"; no
// "dump" when the file is missing or empty) and sends it. True only when the
// service accepted it. A file that exists but cannot be read whole is not
// sent: false, so the caller keeps it.
bool UploadDump(const base::utils::Path& path,
                const base::JsonValue& plugin_data,
                const LaunchConfiguration& config,
                const std::string& local_time,
                const std::string& occur_time);

// Signs and posts "[" + body + "]" to the area's data-upload service with up
// to 3 retries. True when the answer is a JSON object whose "code" is the
// integer 0; otherwise raises "CrashReportFailed" with the answer text.
bool ReportContent(const std::string& body);

}  // namespace tlv

#endif  // CRASH_PLUGIN_REPORT_PROCESS_CRASH_REPORT_H_
