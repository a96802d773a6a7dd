#ifndef CRASH_PLUGIN_REPORT_PROCESS_CRASH_REPORT_H_
#define CRASH_PLUGIN_REPORT_PROCESS_CRASH_REPORT_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/json/json_value.h"
#include "base/net/http_body.h"
#include "base/utils/file_path.h"
#include "crash_plugin/report_process/launch_configuration.h"

namespace tlv {

// The crash-report job. It runs on the calling thread, one dump and one
// request after the other, and tells its outcome only through telemetry
// events (component "crash_plugin") and log lines. A dump is deleted only
// after the data-upload service accepted it, and never with remain_file.
//
// Every report claims its dump first (DumpClaim), so that runs at the same
// time never send one dump twice, and records its attempt and its outcome
// in the delivery ledger (DeliveryLedger), the acceptance before the
// deletion; every report of one dump carries the id its first attempt drew.
// While the data-upload service asks every player to wait (ServicePauses,
// kept in the ledger across runs), a dump is not sent and keeps its turn.

// First removes the archives and claims that killed runs left in the work
// directory, but none that a live run holds; then start_mode 1 runs
// ScanReport, 2 runs BlockReport, anything else nothing.
void RunCrashReport(const LaunchConfiguration& config);

// Reports every file under dmp_dir_path, subdirectories included, whose name
// ends in ".dmp" (case-sensitive), each with its logs when is_package_log is
// set, then raises "CrashReportScan" with
// "<count> files <is_package_log as 0 or 1>". A scan reports each dump with
// its last-write time. A dump that the ledger knows as accepted, unchanged,
// is not sent again (only its deletion is tried again), and dumps that
// failed in earlier runs come after the others.
void ScanReport(const LaunchConfiguration& config);

// Reports the one dump dmp_path as it is. A dump is deleted only when it is
// unchanged since before it was read; a FIFO or device is never read.
void BlockReport(const LaunchConfiguration& config);

// Reports the dump dmp_path packed into a zip archive together with up to
// three of the host's log files beside it (package_log_pattern, by default
// "Player.log$"), a log over 10 MiB by a copy of its last 10 MiB. The
// archive and the copies live in the work directory for this one report,
// held so that no other run sharing the directory removes them, and are
// removed on every path before the dump is. Their names are the archive's,
// so they never take the place of a host's file or of the work directory's
// own (the log, the ledger, the claims); when the archive cannot be made,
// the bare dump is reported. The host's logs are only ever
// read: packing is skipped (and the bare dump reported) when the work
// directory is the dump's own directory.
void BlockReportWithLog(const LaunchConfiguration& config);

// Up to three files in the dump's directory (not below it) whose names match
// pattern, an ECMAScript regular expression in UTF-8, in the directory's
// listing order. The dump itself is one of them if its name matches. A
// pattern that is not a valid regular expression selects nothing and is
// logged.
std::vector<base::utils::Path> FindLogFiles(const base::utils::Path& dump,
                                            const std::string& pattern);

// The archive path for this moment: the work directory joined with the
// local clock's milliseconds since 1970 and "-crash.zip".
base::utils::Path MakeZipPath();

// The paths of the cut copies of count logs packed into archive: beside it,
// named after it, "<archive's name without .zip>.<index>.cut".
std::vector<base::utils::Path> MakeCutLogPaths(const base::utils::Path& archive,
                                               size_t count);

// The kit's crash plug-in: "SDKVersion", "PluginId" 1006, "PluginName",
// "PluginVersion".
void FillApmInfo(base::JsonValue& object);

// What the host said about the crash: "CrashType" (always empty),
// "UseDurationSeconds", "FreeMemory", "FreeDiskSize", "FileExists" (always
// true) and "SymbolId".
void FillPluginData(const LaunchConfiguration& config, base::JsonValue& object);

// How far an upload got, for the delivery ledger: on_progress is the
// caller's, the rest is filled in by the upload.
struct UploadTracking {
  // Called after every piece of the body that an attempt hands to the
  // transport, with the bytes it has handed over so far and the body's
  // size. It runs on the transport's body-reading thread, one call at a
  // time, while the calling thread waits in the transport; every call has
  // returned before the attempt ends. So it may touch what the caller does
  // not touch during the send.
  std::function<void(int64_t sent, int64_t size)> on_progress;
  // The most bytes of the body that one attempt handed to the transport.
  int64_t sent = 0;
  // The XXH3 of the sent file's bytes in the pass that signed the report;
  // none when no pass read it whole.
  std::optional<uint64_t> file_xxh3;
};

// Builds the report of the file at path (its bytes as Base64 in "dump"; no
// "dump" when the file is missing or empty) under report_id, its message id
// and ReportId, and sends it, streaming the file rather than holding it in
// memory. True only when the service accepted it.
// A file that exists but cannot be read whole, or that changes while it is
// sent, is not delivered: false, so the caller keeps it. tracking, when
// given, follows the upload.
bool UploadDump(const base::utils::Path& path,
                const base::JsonValue& plugin_data,
                const LaunchConfiguration& config,
                const std::string& local_time,
                const std::string& occur_time,
                const std::string& report_id,
                UploadTracking* tracking = nullptr);

// Signs and posts "[" + body + "]" to the area's data-upload service with up
// to 3 retries. True when the answer is a JSON object whose "code" is the
// integer 0; otherwise raises "CrashReportFailed" with the answer text.
bool ReportContent(const std::string& body);

// The same for a whole request body, "[" + event + "]", which is read once
// to sign it and again for every attempt. A body whose signing pass fails is
// not sent: false, with no event (the body logs why). tracking, when given,
// follows how far the attempts get. request stays the caller's: the report
// reads it through a stream of its own that does not own it, and is gone
// when the call returns.
bool ReportContent(base::net::HTTPBodyStream& request,
                   UploadTracking* tracking = nullptr);

}  // namespace tlv

#endif  // CRASH_PLUGIN_REPORT_PROCESS_CRASH_REPORT_H_
