#include "crash_plugin/report_process/crash_report.h"

#include <optional>
#include <string>
#include <utility>

#include "base/utils/file_util.h"
#include "base/utils/minizip/zip_wrapper.h"
#include "base/utils/string_util.h"
#include "crash_plugin/report_process/crash_event.h"
#include "environment/application_context.h"
#include "timer/timer_service.h"

namespace tlv {
namespace {

constexpr int32_t kStartModeScan = 1;
constexpr int32_t kStartModeSingle = 2;
constexpr wchar_t kDumpPattern[] = L"\\.dmp$";

constexpr char kDefaultLogPattern[] = "Player.log$";
constexpr size_t kMaxLogFiles = 3;
// A log larger than this is packed as a copy of its last kMaxLogSize bytes,
// which bounds the archive to the dump plus three times this.
constexpr uint64_t kMaxLogSize = 10'485'760;

// False, after raising "CrashReportPathNotExist", when path names nothing.
bool PathFound(const std::string& path) {
  if (base::utils::PathExists(base::utils::Path(path)))
    return true;
  TLV_CRASH_EVENT(base::logging::kError, "CrashReportPathNotExist", path);
  return false;
}

// Fills the report of dump, sends upload_file (the dump or its archive) and
// deletes the dump once the service accepted it. info is the dump's own.
void SendDump(const LaunchConfiguration& config,
              const base::utils::Path& dump,
              std::optional<base::utils::FileInfo> info,
              const base::utils::Path& upload_file) {
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

  const bool ok =
      UploadDump(upload_file, plugin_data, config, local_time, occur_time);
  TLV_LOG(base::logging::kInfo, "CrashReport report done: {} {}",
          config.dmp_path, ok);
  if (ok && !config.remain_file && !base::utils::RemoveFile(dump)) {
    TLV_LOG(base::logging::kError, "CrashReport remove file failed: {}",
            config.dmp_path);
  }
}

// Removes the files of one report when it ends, however it ends; a file
// that was never made is no error. Also used at the start, so that a copy
// an interrupted run left behind is never written through (it could be a
// link to a file that is not ours).
class ScopedTemporaryFiles final {
 public:
  explicit ScopedTemporaryFiles(std::vector<base::utils::Path> paths)
      : paths_(std::move(paths)) {
    RemoveAll();
  }
  ScopedTemporaryFiles(const ScopedTemporaryFiles&) = delete;
  ScopedTemporaryFiles& operator=(const ScopedTemporaryFiles&) = delete;
  ~ScopedTemporaryFiles() { RemoveAll(); }

 private:
  void RemoveAll() const {
    for (const base::utils::Path& path : paths_)
      base::utils::RemoveFile(path);
  }

  const std::vector<base::utils::Path> paths_;
};

// Whether the archive and the cut copies may be written and removed without
// touching a file that is not the process's own. Comparing the files
// themselves, not their names, also catches links and other spellings.
bool TemporaryPathsAreSafe(const base::utils::Path& dump,
                           const std::vector<base::utils::Path>& logs,
                           const std::vector<base::utils::Path>& temporary) {
  const base::utils::Path work_dir =
      ApplicationContext::Instance().GetWorkDir();
  if (work_dir.empty() || base::utils::IsSameFile(work_dir, dump.Parent()))
    return false;
  std::vector<base::utils::Path> protected_files = logs;
  protected_files.push_back(dump);
  protected_files.push_back(ApplicationContext::Instance().GetLogFile());
  for (const base::utils::Path& path : temporary) {
    for (const base::utils::Path& file : protected_files) {
      if (path == file || base::utils::IsSameFile(path, file))
        return false;
    }
  }
  return true;
}

// Packs the dump and the logs into archive, each log over kMaxLogSize as a
// copy of its tail at the index-aligned cut path. True when the archive
// holds the whole dump.
bool PackDump(const base::utils::Path& dump,
              const std::vector<base::utils::Path>& logs,
              const std::vector<base::utils::Path>& cut_paths,
              const base::utils::Path& archive) {
  base::utils::ZipWrapper zip(archive);
  zip.AddFile(dump);
  for (size_t i = 0; i < logs.size(); ++i) {
    const std::optional<base::utils::FileInfo> info =
        base::utils::GetFileInfo(logs[i]);
    if (!info || info->size <= kMaxLogSize) {
      zip.AddFile(logs[i]);
    } else if (base::utils::CopyFileFrom(logs[i], cut_paths[i],
                                         info->size - kMaxLogSize)) {
      zip.AddFile(cut_paths[i]);
    } else {
      TLV_CRASH_EVENT(base::logging::kError, "CrashReportCutFailed",
                      logs[i].ToUtf8());
      zip.AddFile(logs[i]);
    }
  }
  if (!zip.Finish())
    return false;
  // An archive without the whole dump would be accepted in its place, and
  // the dump deleted.
  if (!zip.packed().front()) {
    TLV_LOG(base::logging::kError, "CrashReport dump not packed whole: {}",
            dump.ToUtf8());
    return false;
  }
  return true;
}

}  // namespace

void RunCrashReport(const LaunchConfiguration& config) {
  if (config.start_mode == kStartModeScan)
    ScanReport(config);
  else if (config.start_mode == kStartModeSingle)
    BlockReport(config);
}

void ScanReport(const LaunchConfiguration& config) {
  if (!PathFound(config.dmp_dir_path))
    return;
  const base::utils::Path dump_dir(config.dmp_dir_path);

  base::utils::DirectoryWalker walker(dump_dir, /*recursive=*/true,
                                      base::utils::DirectoryWalker::kFiles,
                                      kDumpPattern);
  int count = 0;
  while (std::optional<base::utils::Path> dump = walker.Next()) {
    LaunchConfiguration copy = config;
    copy.dmp_path = dump->ToUtf8();
    if (config.is_package_log)
      BlockReportWithLog(copy);
    else
      BlockReport(copy);
    ++count;
  }
  TLV_CRASH_EVENT(
      base::logging::kInfo, "CrashReportScan",
      std::to_string(count) + " files " + (config.is_package_log ? "1" : "0"));
}

void BlockReport(const LaunchConfiguration& config) {
  if (!PathFound(config.dmp_path))
    return;
  const base::utils::Path dump(config.dmp_path);
  std::optional<base::utils::FileInfo> info = base::utils::GetFileInfo(dump);
  TLV_CRASH_EVENT(
      base::logging::kInfo, "CrashReport",
      config.dmp_path + "," + std::to_string(info ? info->size : 0));
  SendDump(config, dump, std::move(info), dump);
}

void BlockReportWithLog(const LaunchConfiguration& config) {
  if (!PathFound(config.dmp_path))
    return;
  const base::utils::Path dump(config.dmp_path);

  const std::vector<base::utils::Path> logs = FindLogFiles(
      dump, config.package_log_pattern.empty() ? kDefaultLogPattern
                                               : config.package_log_pattern);
  const base::utils::Path archive = MakeZipPath();
  const std::vector<base::utils::Path> cut_paths = MakeCutLogPaths(logs);
  std::vector<base::utils::Path> temporary = cut_paths;
  temporary.push_back(archive);

  const bool safe = TemporaryPathsAreSafe(dump, logs, temporary);
  if (!safe) {
    TLV_LOG(base::logging::kError,
            "CrashReport not packed: the work directory {} is the dump's "
            "directory or holds its files",
            ApplicationContext::Instance().GetWorkDir().ToUtf8());
  }
  // Armed only for paths that are the process's own.
  const ScopedTemporaryFiles cleanup(safe ? std::move(temporary)
                                          : std::vector<base::utils::Path>());
  base::utils::Path upload_file = dump;
  if (safe) {
    if (PackDump(dump, logs, cut_paths, archive)) {
      upload_file = archive;
    } else {
      TLV_CRASH_EVENT(base::logging::kError, "CrashReportZipFailed",
                      archive.ToUtf8());
    }
  }

  // The dump's size, not the archive's.
  std::optional<base::utils::FileInfo> info = base::utils::GetFileInfo(dump);
  TLV_CRASH_EVENT(
      base::logging::kInfo, "CrashReportWithLog",
      config.dmp_path + "," + std::to_string(info ? info->size : 0));
  SendDump(config, dump, std::move(info), upload_file);
}

std::vector<base::utils::Path> FindLogFiles(const base::utils::Path& dump,
                                            const std::string& pattern) {
  base::utils::DirectoryWalker walker(dump.Parent(), /*recursive=*/false,
                                      base::utils::DirectoryWalker::kFiles,
                                      base::utils::Utf8ToWide(pattern));
  if (!walker.pattern_error().empty()) {
    TLV_LOG(base::logging::kError,
            "package_log_pattern {} is not a valid regular expression ({}); "
            "no log is packed",
            pattern, walker.pattern_error());
  }
  std::vector<base::utils::Path> logs;
  while (logs.size() < kMaxLogFiles) {
    std::optional<base::utils::Path> log = walker.Next();
    if (!log)
      break;
    logs.push_back(std::move(*log));
  }
  return logs;
}

base::utils::Path MakeZipPath() {
  ApplicationContext& context = ApplicationContext::Instance();
  const int64_t now =
      context.GetTimerService()->CurrentTimes().local.ToMilliseconds();
  return context.GetWorkDir().Join(std::to_string(now) + "-crash.zip");
}

std::vector<base::utils::Path> MakeCutLogPaths(
    const std::vector<base::utils::Path>& logs) {
  const base::utils::Path& work_dir =
      ApplicationContext::Instance().GetWorkDir();
  std::vector<base::utils::Path> cut_paths;
  for (const base::utils::Path& log : logs)
    cut_paths.push_back(work_dir.Join(log.FileName()));
  return cut_paths;
}

}  // namespace tlv
