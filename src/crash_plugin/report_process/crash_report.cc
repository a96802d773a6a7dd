#include "crash_plugin/report_process/crash_report.h"

#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "base/utils/file_util.h"
#include "base/utils/held_file.h"
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
// The names MakeZipPath gives.
constexpr wchar_t kArchivePattern[] = L"^[0-9]+-crash\\.zip$";

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

// The dump's information as it is before anything reads it; none, after
// raising "CrashReportPathNotExist", when it is missing, or after logging,
// when it is a FIFO or a device, whose reading could wait until the
// watchdog ends the process. config.dmp_path names it in the messages.
std::optional<base::utils::FileInfo> FindDump(const LaunchConfiguration& config,
                                              const base::utils::Path& dump) {
  std::optional<base::utils::FileInfo> info = base::utils::GetFileInfo(dump);
  if (!info) {
    TLV_CRASH_EVENT(base::logging::kError, "CrashReportPathNotExist",
                    config.dmp_path);
  } else if (info->IsDevice()) {
    TLV_LOG(base::logging::kError, "CrashReport not a file: {}",
            config.dmp_path);
    info.reset();
  }
  return info;
}

// Fills the report of the dump that info describes, sends upload_file (the
// dump or its archive) and tells whether the service accepted it.
bool SendDump(const LaunchConfiguration& config,
              const base::utils::FileInfo& info,
              const base::utils::Path& upload_file) {
  base::JsonValue plugin_data;
  FillPluginData(config, plugin_data);

  TimerService::Times times =
      ApplicationContext::Instance().GetTimerService()->CurrentTimes();
  std::string occur_time = times.corrected.ToIso8601();
  std::string local_time = times.local.ToIso8601();
  // A dump found by a scan may be days old: report when it was written.
  if (config.start_mode == kStartModeScan) {
    occur_time = base::Time(info.last_write).ToIso8601();
    local_time = occur_time;
  }

  const bool ok =
      UploadDump(upload_file, plugin_data, config, local_time, occur_time);
  TLV_LOG(base::logging::kInfo, "CrashReport report done: {} {}",
          config.dmp_path, ok);
  return ok;
}

// Deletes the accepted dump unless remain_file keeps it. A dump that
// changed since before it was read (before) holds bytes that the service
// has not seen, say because the crash handler was still writing it: it
// stays for the next run.
void DeleteAcceptedDump(const LaunchConfiguration& config,
                        const base::utils::Path& dump,
                        const base::utils::FileInfo& before) {
  if (config.remain_file)
    return;
  const std::optional<base::utils::FileInfo> now =
      base::utils::GetFileInfo(dump);
  if (now && (now->size != before.size ||
              now->last_write.ticks() != before.last_write.ticks())) {
    TLV_LOG(base::logging::kError,
            "CrashReport dump changed while it was reported, kept: {}",
            config.dmp_path);
    return;
  }
  if (!base::utils::RemoveFile(dump)) {
    TLV_LOG(base::logging::kError, "CrashReport remove file failed: {}",
            config.dmp_path);
  }
}

// Creates and holds the files of one report in the work directory; null
// for a path that is not this report's to write. Two runs may share the
// work directory: a file of the same name that another live run holds
// stays its own, and a leftover of a run that was killed is removed first.
// Each file goes with its holder, however the report ends.
std::vector<std::unique_ptr<base::utils::HeldFile>> HoldTemporaryFiles(
    const std::vector<base::utils::Path>& paths) {
  std::vector<std::unique_ptr<base::utils::HeldFile>> held;
  for (const base::utils::Path& path : paths) {
    base::utils::RemoveUnheldFile(path);
    held.push_back(base::utils::HeldFile::Create(path));
  }
  return held;
}

// Removes the archives that killed runs left in the work directory. An
// archive that a live run holds, writing or sending it, stays.
void RemoveLeftoverArchives() {
  base::utils::DirectoryWalker walker(
      ApplicationContext::Instance().GetWorkDir(), /*recursive=*/false,
      base::utils::DirectoryWalker::kFiles, kArchivePattern);
  while (std::optional<base::utils::Path> archive = walker.Next())
    base::utils::RemoveUnheldFile(*archive);
}

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
// copy of its tail at the index-aligned cut path where that path is held
// (cut_held). True when the archive holds the whole dump.
bool PackDump(const base::utils::Path& dump,
              const std::vector<base::utils::Path>& logs,
              const std::vector<base::utils::Path>& cut_paths,
              const std::vector<bool>& cut_held,
              const base::utils::Path& archive) {
  base::utils::ZipWrapper zip(archive);
  zip.AddFile(dump);
  for (size_t i = 0; i < logs.size(); ++i) {
    const std::optional<base::utils::FileInfo> info =
        base::utils::GetFileInfo(logs[i]);
    if (!info || info->size <= kMaxLogSize) {
      zip.AddFile(logs[i]);
    } else if (cut_held[i] &&
               base::utils::CopyFileFrom(logs[i], cut_paths[i],
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

void ReportDump(const LaunchConfiguration& config,
                const base::utils::Path& dump) {
  const std::optional<base::utils::FileInfo> info = FindDump(config, dump);
  if (!info)
    return;
  TLV_CRASH_EVENT(base::logging::kInfo, "CrashReport",
                  config.dmp_path + "," + std::to_string(info->size));
  if (SendDump(config, *info, dump))
    DeleteAcceptedDump(config, dump, *info);
}

void ReportDumpWithLogs(const LaunchConfiguration& config,
                        const base::utils::Path& dump) {
  const std::optional<base::utils::FileInfo> info = FindDump(config, dump);
  if (!info)
    return;

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
  bool accepted;
  {
    // Held only where the paths are the process's own.
    const std::vector<std::unique_ptr<base::utils::HeldFile>> held =
        safe ? HoldTemporaryFiles(temporary)
             : std::vector<std::unique_ptr<base::utils::HeldFile>>();
    base::utils::Path upload_file = dump;
    if (safe) {
      std::vector<bool> cut_held;
      for (size_t i = 0; i < cut_paths.size(); ++i)
        cut_held.push_back(held[i] != nullptr);
      if (held.back() && PackDump(dump, logs, cut_paths, cut_held, archive)) {
        upload_file = archive;
      } else {
        TLV_CRASH_EVENT(base::logging::kError, "CrashReportZipFailed",
                        archive.ToUtf8());
      }
    }

    // The dump's size, not the archive's.
    TLV_CRASH_EVENT(base::logging::kInfo, "CrashReportWithLog",
                    config.dmp_path + "," + std::to_string(info->size));
    accepted = SendDump(config, *info, upload_file);
  }
  // Only once the temporary files are gone: a run killed before this point
  // leaves the dump, and the dump's next report clears what is left of
  // them.
  if (accepted)
    DeleteAcceptedDump(config, dump, *info);
}

}  // namespace

void RunCrashReport(const LaunchConfiguration& config) {
  RemoveLeftoverArchives();
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
    // For the messages only: *dump keeps the bytes of a name that is not
    // UTF-8, which this text cannot.
    copy.dmp_path = dump->ToUtf8();
    if (config.is_package_log)
      ReportDumpWithLogs(copy, *dump);
    else
      ReportDump(copy, *dump);
    ++count;
  }
  TLV_CRASH_EVENT(
      base::logging::kInfo, "CrashReportScan",
      std::to_string(count) + " files " + (config.is_package_log ? "1" : "0"));
}

void BlockReport(const LaunchConfiguration& config) {
  ReportDump(config, base::utils::Path(config.dmp_path));
}

void BlockReportWithLog(const LaunchConfiguration& config) {
  ReportDumpWithLogs(config, base::utils::Path(config.dmp_path));
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
