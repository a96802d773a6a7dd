#include "crash_plugin/report_process/crash_report.h"

#include <optional>
#include <string>

#include "base/utils/file_util.h"
#include "crash_plugin/report_process/crash_event.h"
#include "environment/application_context.h"
#include "timer/timer_service.h"

namespace tlv {
namespace {

constexpr int32_t kStartModeScan = 1;
constexpr int32_t kStartModeSingle = 2;
constexpr wchar_t kDumpPattern[] = L"\\.dmp$";

}  // namespace

void RunCrashReport(const LaunchConfiguration& config) {
  if (config.start_mode == kStartModeScan)
    ScanReport(config);
  else if (config.start_mode == kStartModeSingle)
    BlockReport(config);
}

void ScanReport(const LaunchConfiguration& config) {
  const base::utils::Path dump_dir(config.dmp_dir_path);
  if (!base::utils::PathExists(dump_dir)) {
    TLV_CRASH_EVENT(base::logging::kError, "CrashReportPathNotExist",
                    config.dmp_dir_path);
    return;
  }

  // The logs of a dump are packed with it by the with-logs report, which
  // does not exist yet: every dump goes out bare for now.
  base::utils::DirectoryWalker walker(dump_dir, /*recursive=*/true,
                                      base::utils::DirectoryWalker::kFiles,
                                      kDumpPattern);
  int count = 0;
  while (std::optional<base::utils::Path> dump = walker.Next()) {
    LaunchConfiguration copy = config;
    copy.dmp_path = dump->ToUtf8();
    BlockReport(copy);
    ++count;
  }
  TLV_CRASH_EVENT(
      base::logging::kInfo, "CrashReportScan",
      std::to_string(count) + " files " + (config.is_package_log ? "1" : "0"));
}

void BlockReport(const LaunchConfiguration& config) {
  const base::utils::Path dump(config.dmp_path);
  if (!base::utils::PathExists(dump)) {
    TLV_CRASH_EVENT(base::logging::kError, "CrashReportPathNotExist",
                    config.dmp_path);
    return;
  }
  std::optional<base::utils::FileInfo> info = base::utils::GetFileInfo(dump);
  TLV_CRASH_EVENT(
      base::logging::kInfo, "CrashReport",
      config.dmp_path + "," + std::to_string(info ? info->size : 0));

  base::JsonValue plugin_data;
  FillPluginData(config, plugin_data);

  TimerService::Times times =
      ApplicationContext::Instance().GetTimerService()->CurrentTimes();
  std::string occur_time = times.corrected.ToIso8601();
  std::string local_time = times.local.ToIso8601();
  // A dump found by a scan may be days old: report when it was written.
  if (config.start_mode == kStartModeScan && info) {
    occur_time = info->last_write.ToIso8601();
    local_time = occur_time;
  }

  const bool ok = UploadDump(dump, plugin_data, config, local_time, occur_time);
  TLV_LOG(base::logging::kInfo, "CrashReport report done: {} {}",
          config.dmp_path, ok);
  if (ok && !config.remain_file && !base::utils::RemoveFile(dump)) {
    TLV_LOG(base::logging::kError, "CrashReport remove file failed: {}",
            config.dmp_path);
  }
}

}  // namespace tlv
