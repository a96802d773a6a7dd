#include "crash_plugin/report_process/crash_report.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "base/utils/file_util.h"
#include "base/utils/held_file.h"
#include "base/utils/string_util.h"
#include "common/common_service.h"
#include "crash_plugin/report_process/crash_event.h"
#include "crash_plugin/report_process/crash_report_packing.h"
#include "crash_plugin/report_process/delivery_ledger.h"
#include "environment/application_context.h"
#include "report/endpoints.h"
#include "report/service_pauses.h"
#include "timer/timer_service.h"

namespace tlv {
namespace {

constexpr int32_t kStartModeScan = 1;
constexpr int32_t kStartModeSingle = 2;
constexpr wchar_t kDumpPattern[] = L"\\.dmp$";

constexpr char kDefaultLogPattern[] = "Player.log$";
constexpr size_t kMaxLogFiles = 3;

// A dump that has not been accepted in this many runs in a row is named in
// the log in every run that tries it again, for whoever runs the service.
constexpr int32_t kRepeatedFailureRuns = 3;
// How often, at most, the ledger learns how far a long upload has got.
constexpr auto kProgressInterval = std::chrono::seconds(1);

// False, after raising "CrashReportPathNotExist", when path names nothing.
bool PathFound(const std::string& path) {
  if (base::utils::PathExists(base::utils::Path(path)))
    return true;
  TLV_CRASH_EVENT(base::logging::kError, "CrashReportPathNotExist", path);
  return false;
}

// A dump whose data is elsewhere (a cloud file that is only online) is not
// read: reading it would make the system download it, on the player's
// connection and at the player's cost, during the crash report.
void LogNotOnDisk(const std::string& path) {
  TLV_LOG(base::logging::kWarn, "CrashReport not on disk, skipped: {}", path);
}

// The dump's information as it is before anything reads it; none, after
// raising "CrashReportPathNotExist", when it is missing, or after logging,
// when it is a FIFO or a device, whose reading could wait until the
// watchdog ends the process, or not on disk. config.dmp_path names it in the
// messages.
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
  } else if (info->IsNotOnDisk()) {
    LogNotOnDisk(config.dmp_path);
    info.reset();
  }
  return info;
}

// sent of size bytes, in whole percent; 0 of nothing.
int32_t Percent(int64_t sent, int64_t size) {
  return size > 0 ? static_cast<int32_t>(sent * 100 / size) : 0;
}

// Fills the report of the dump that info describes under report_id, sends
// upload_file (the dump or its archive) and tells whether the service
// accepted it.
bool SendDump(const LaunchConfiguration& config,
              const base::utils::FileInfo& info,
              const base::utils::Path& upload_file,
              const std::string& report_id,
              UploadTracking& tracking) {
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

  const bool ok = UploadDump(upload_file, plugin_data, config, local_time,
                             occur_time, report_id, &tracking);
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

// Removes the archives, cut copies and claims that killed runs left in the
// work directory. What a live run holds, an archive it writes or sends or a
// claim on a dump it reports, stays.
void RemoveLeftovers() {
  for (const wchar_t* pattern :
       {kTemporaryNamePattern, DumpClaim::kNamePattern}) {
    base::utils::DirectoryWalker walker(
        ApplicationContext::Instance().GetWorkDir(), /*recursive=*/false,
        base::utils::DirectoryWalker::kFiles, pattern);
    while (std::optional<base::utils::Path> file = walker.Next())
      base::utils::RemoveUnheldFile(*file);
  }
}

// Packs the dump and its logs into the package's archive. The XXH3 of the
// dump's bytes when the archive holds the whole dump; none otherwise.
std::optional<uint64_t> PackDump(const base::utils::Path& dump,
                                 DumpPackage& package) {
  const std::optional<base::utils::ZipWrapper::Packed> packed =
      package.Write([](const base::utils::Path& log) {
        TLV_CRASH_EVENT(base::logging::kError, "CrashReportCutFailed",
                        log.ToUtf8());
      });
  if (!packed)
    return std::nullopt;
  // An archive without the whole dump would be accepted in its place, and
  // the dump deleted.
  if (!packed->whole) {
    TLV_LOG(base::logging::kError, "CrashReport dump not packed whole: {}",
            dump.ToUtf8());
    return std::nullopt;
  }
  return packed->xxh3;
}

// Sends one claimed dump that info describes, bare or packed, under
// report_id, and tells whether the service accepted it.
using DumpSender = std::function<bool(const base::utils::FileInfo& info,
                                      const std::string& report_id,
                                      UploadTracking& tracking)>;

// Reports the dump at dump (config.dmp_path) under the rules of delivery:
// only with the claim on it; in a scan, not again once the service has
// accepted it as it is; with every attempt and its outcome in the ledger,
// and the acceptance there before the dump is deleted, so that a dump that
// cannot be deleted is not sent again. Every report of one dump carries the
// id its first attempt drew, which the ledger holds from before that
// attempt sent anything: a resend after a run that ended between the
// service's acceptance and the ledger's record of it is one the service
// can tell for what it is.
void DeliverDump(const LaunchConfiguration& config,
                 const base::utils::Path& dump,
                 DeliveryLedger& ledger,
                 const DumpSender& send) {
  const DumpClaim claim(ApplicationContext::Instance().GetWorkDir(), dump);
  if (claim.status() == DumpClaim::Status::kHeldElsewhere) {
    TLV_LOG(base::logging::kInfo,
            "CrashReport claimed by another run, skipped: {}", config.dmp_path);
    return;
  }
  const std::optional<DeliveryRecord> record = ledger.Find(dump);
  const bool accepted_before =
      record && record->state == DeliveryRecord::State::kAccepted;
  // Opening the ledger dropped the records of dumps that were gone, so this
  // one went while this run was walking.
  if (accepted_before && !base::utils::PathExists(dump)) {
    TLV_LOG(base::logging::kInfo, "CrashReport delivered by another run: {}",
            config.dmp_path);
    return;
  }
  const std::optional<base::utils::FileInfo> info = FindDump(config, dump);
  if (!info)
    return;
  // A record is of this very dump when size and time agree and, once the
  // service accepted it, the content too: a new crash written over an
  // accepted dump with the same size and time is a new dump.
  const bool same_dump =
      record && record->Describes(*info) &&
      (!accepted_before || ContentHashOfFile(dump) == record->content_hash);
  // A scan finds again what could not be deleted; the host that names one
  // dump gets it sent.
  if (config.start_mode == kStartModeScan && accepted_before && same_dump) {
    TLV_LOG(base::logging::kInfo,
            "CrashReport accepted before, not sent again: {}", config.dmp_path);
    DeleteAcceptedDump(config, dump, *info);
    return;
  }
  // The service asked every player to wait: the dump keeps its place for a
  // later run, with no attempt counted against it.
  if (ServicePauses::Instance().PausedUntil(GetDataUploadUrl(
          ApplicationContext::Instance().GetCommonService()->GetArea()))) {
    TLV_LOG(base::logging::kInfo,
            "CrashReport kept for a later run, the data-upload service asked "
            "to wait: {}",
            config.dmp_path);
    return;
  }
  if (same_dump && !accepted_before &&
      record->failed_runs >= kRepeatedFailureRuns) {
    TLV_LOG(base::logging::kError,
            "CrashReport not accepted in {} runs in a row: {}, {} bytes, the "
            "last send got to {}% of the report",
            record->failed_runs, config.dmp_path, info->size,
            record->sent_percent);
  }

  const std::string report_id = ledger.RecordAttempt(dump, *info, same_dump);
  if (same_dump && report_id == record->report_id) {
    TLV_LOG(base::logging::kInfo,
            "CrashReport sent again under its first id {}: {}", report_id,
            config.dmp_path);
  }
  UploadTracking tracking;
  int64_t body_size = 0;
  auto last_record = std::chrono::steady_clock::now();
  tracking.on_progress = [&](int64_t sent, int64_t size) {
    body_size = size;
    // A whole body is always worth a record: a run that is ended while it
    // waits for the answer has sent everything.
    const auto now = std::chrono::steady_clock::now();
    if (sent < size && now - last_record < kProgressInterval)
      return;
    last_record = now;
    ledger.RecordProgress(dump, Percent(sent, size));
  };
  if (!send(*info, report_id, tracking)) {
    ledger.RecordFailure(dump, Percent(tracking.sent, body_size));
    return;
  }
  // A content that no pass read whole gets a hash that matches nothing.
  ledger.RecordAcceptance(
      dump, *info,
      tracking.file_xxh3 ? ContentHash(*tracking.file_xxh3) : std::string(),
      report_id);
  DeleteAcceptedDump(config, dump, *info);
}

void ReportDump(const LaunchConfiguration& config,
                const base::utils::Path& dump,
                DeliveryLedger& ledger) {
  DeliverDump(config, dump, ledger,
              [&](const base::utils::FileInfo& info,
                  const std::string& report_id, UploadTracking& tracking) {
                TLV_CRASH_EVENT(
                    base::logging::kInfo, "CrashReport",
                    config.dmp_path + "," + std::to_string(info.size));
                return SendDump(config, info, dump, report_id, tracking);
              });
}

// Sends the dump packed with its logs. Its temporary files are gone when
// this returns, whatever the outcome, and so before the dump is deleted: a
// run killed before that leaves the dump, and the dump's next report clears
// what is left of them.
bool SendDumpWithLogs(const LaunchConfiguration& config,
                      const base::utils::Path& dump,
                      const base::utils::FileInfo& info,
                      const std::string& report_id,
                      UploadTracking& tracking) {
  DumpPackage package(dump,
                      FindLogFiles(dump, config.package_log_pattern.empty()
                                             ? kDefaultLogPattern
                                             : config.package_log_pattern));
  const bool safe = package.PathsAreSafe();
  if (!safe) {
    TLV_LOG(base::logging::kError,
            "CrashReport not packed: the work directory {} is the dump's "
            "directory",
            ApplicationContext::Instance().GetWorkDir().ToUtf8());
  }
  base::utils::Path upload_file = dump;
  std::optional<uint64_t> packed_xxh3;
  // Held only where the paths are the process's own.
  if (safe) {
    if (package.Hold())
      packed_xxh3 = PackDump(dump, package);
    if (packed_xxh3) {
      upload_file = package.archive();
    } else {
      TLV_CRASH_EVENT(base::logging::kError, "CrashReportZipFailed",
                      package.archive().ToUtf8());
    }
  }

  // The dump's size, not the archive's.
  TLV_CRASH_EVENT(base::logging::kInfo, "CrashReportWithLog",
                  config.dmp_path + "," + std::to_string(info.size));
  const bool accepted =
      SendDump(config, info, upload_file, report_id, tracking);
  // The archive was signed and sent; the dump's own bytes are what the
  // archive holds.
  if (packed_xxh3)
    tracking.file_xxh3 = packed_xxh3;
  return accepted;
}

void ReportDumpWithLogs(const LaunchConfiguration& config,
                        const base::utils::Path& dump,
                        DeliveryLedger& ledger) {
  DeliverDump(config, dump, ledger,
              [&](const base::utils::FileInfo& info,
                  const std::string& report_id, UploadTracking& tracking) {
                return SendDumpWithLogs(config, dump, info, report_id,
                                        tracking);
              });
}

}  // namespace

void RunCrashReport(const LaunchConfiguration& config) {
  RemoveLeftovers();
  if (config.start_mode == kStartModeScan)
    ScanReport(config);
  else if (config.start_mode == kStartModeSingle)
    BlockReport(config);
}

void ScanReport(const LaunchConfiguration& config) {
  // Open before the first event, which may go to a service that asked
  // earlier runs to wait.
  DeliveryLedger ledger(ApplicationContext::Instance().GetWorkDir());
  const ServicePauses::ScopedStore pauses(ledger);
  if (!PathFound(config.dmp_dir_path))
    return;
  const base::utils::Path dump_dir(config.dmp_dir_path);

  base::utils::DirectoryWalker walker(dump_dir, /*recursive=*/true,
                                      base::utils::DirectoryWalker::kFiles,
                                      kDumpPattern);
  int count = 0;
  const auto report = [&](const base::utils::Path& dump) {
    LaunchConfiguration copy = config;
    // For the messages only: dump keeps the bytes of a name that is not
    // UTF-8, which this text cannot.
    copy.dmp_path = dump.ToUtf8();
    if (config.is_package_log)
      ReportDumpWithLogs(copy, dump, ledger);
    else
      ReportDump(copy, dump, ledger);
    ++count;
  };
  // A dump that did not get through before waits until the dumps that have
  // not failed have had their turn, so that one that can never get through
  // holds up no other; the fewer runs it failed in, the sooner it comes.
  // Among equals the walk's order holds.
  struct Deferred {
    int32_t failed_runs;
    base::utils::Path dump;
  };
  std::vector<Deferred> deferred;
  while (std::optional<base::utils::Path> dump = walker.Next()) {
    if (const int32_t failed_runs = ledger.FailedRunsAtOpen(*dump)) {
      TLV_LOG(base::logging::kInfo,
              "CrashReport not accepted in an earlier run, goes last: {}",
              dump->ToUtf8());
      deferred.push_back({failed_runs, std::move(*dump)});
      continue;
    }
    report(*dump);
  }
  std::stable_sort(deferred.begin(), deferred.end(),
                   [](const Deferred& a, const Deferred& b) {
                     return a.failed_runs < b.failed_runs;
                   });
  for (const Deferred& late : deferred)
    report(late.dump);
  for (const base::utils::Path& skipped : walker.not_on_disk())
    LogNotOnDisk(skipped.ToUtf8());
  TLV_CRASH_EVENT(
      base::logging::kInfo, "CrashReportScan",
      std::to_string(count) + " files " + (config.is_package_log ? "1" : "0"));
}

void BlockReport(const LaunchConfiguration& config) {
  DeliveryLedger ledger(ApplicationContext::Instance().GetWorkDir());
  const ServicePauses::ScopedStore pauses(ledger);
  ReportDump(config, base::utils::Path(config.dmp_path), ledger);
}

void BlockReportWithLog(const LaunchConfiguration& config) {
  DeliveryLedger ledger(ApplicationContext::Instance().GetWorkDir());
  const ServicePauses::ScopedStore pauses(ledger);
  ReportDumpWithLogs(config, base::utils::Path(config.dmp_path), ledger);
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

}  // namespace tlv
