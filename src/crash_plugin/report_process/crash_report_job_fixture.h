#ifndef CRASH_PLUGIN_REPORT_PROCESS_CRASH_REPORT_JOB_FIXTURE_H_
#define CRASH_PLUGIN_REPORT_PROCESS_CRASH_REPORT_JOB_FIXTURE_H_

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/json/json_value.h"
#include "gtest/gtest.h"
#include "test/crashreport_under_test.h"
#include "test/scoped_temp_dir.h"
#include "tools/receiving_service/receiving_service.h"

namespace test {

// Runs the real crashreport executable, built to send to the loopback port,
// against the local receiving service, in a temporary directory: the dumps
// under dumps_dir(), the work directory beside them. The executable is this
// build's or a Windows build's under Wine (test/crashreport_under_test.h):
// paths in launch arguments go through Json(), and the log and the events
// show dumps_dir() as "ROOT" either way.
class CrashReportJobFixture : public ::testing::Test {
 protected:
  // Starts the service with the given upload answer.
  void StartService(const std::string& upload_answer);
  // Starts the service as options say; the port and the output directory
  // are the fixture's.
  void StartService(tools::ReceivingService::Options options);

  // The launch argument with the launch configuration's members besides the
  // work directory, the log settings and the common information, which is
  // valid unless given.
  std::string Argument(const std::string& members,
                       const std::string& common_info = kCommonInfo) const;
  // Runs crashreport with Argument(members, common_info), which must exit
  // with 0.
  void Run(const std::string& members,
           const std::string& common_info = kCommonInfo) const;

  // path as a JSON string of the launch argument holds it.
  static std::string Json(const std::string& path) {
    return JsonPathForCrashReport(path);
  }

  // The job's lines of the process's log, "ROOT" standing for dumps_dir().
  std::vector<std::string> JobLog() const;
  // Every line of the process's log, as test::LogLines gives them.
  std::vector<std::string> ProcessLog() const;
  bool Logged(const std::string& line) const;
  // Whether the run ended by itself rather than by the watchdog.
  bool RanToTheEnd() const;

  // Waits until the service has received count uploads, at the most until
  // the watchdog has surely ended the run that should send them.
  void WaitForUploads(size_t count) const;

  // How often the service accepted each dump, by the dump's SHA-256: a
  // whole request it answered with an acceptance, the dump itself or, in an
  // archive, the archive's first entry. Archives already read are looked up
  // in hashes.
  std::map<std::string, int> AcceptedDumps(
      std::map<std::string, std::string>& hashes) const;

  // Scan mode over dumps_dir(), with the members that more adds.
  std::string ScanMembers(const std::string& more = "") const {
    return R"("start_mode":1,"dmp_dir_path":")" + Json(dumps_dir()) + "\"" +
           more;
  }
  // Packs each dump with the logs beside it.
  static constexpr char kWithLogs[] =
      R"(,"is_package_log":true,"package_log_pattern":"\\.log$")";

  // The telemetry events received, as "event: result" with "ROOT" standing
  // for dumps_dir(). Each must be the job's, with the common fields of the
  // process and the place in the source that raised it.
  std::vector<std::string> Events() const;

  std::string dumps_dir() const { return temp_.path() + "/dumps"; }
  // The process's own directory inside the work directory.
  std::string process_dir() const { return work_dir_ + "/crashreport"; }

  // The names in the process's directory, sorted.
  std::vector<std::string> ProcessDirFiles() const;
  // Those of the job's files for one report, archives and cut log copies:
  // all but the log, the delivery ledger and the claims on dumps.
  std::vector<std::string> TemporaryFiles() const;

  // Writes content to name below dumps_dir(), with any missing directories.
  std::string AddFile(const std::string& name,
                      const std::string& content) const;

  // The stored dump of an upload.
  static std::string Received(const tools::ReceivedUpload& upload);

  // A scan delivered the one dump, dumps_dir()/crash.dmp that held content:
  // one upload of it passed its checks, the dump is gone, and the scan's
  // events arrived.
  void ExpectOneDumpDelivered(const std::string& content) const;

  static base::JsonValue PluginData(const tools::ReceivedUpload& upload);

  // Escaped for a JSON string inside the launch argument's common_info.
  static constexpr char kCommonInfo[] =
      R"({\"app_id\":\"game-7\",\"area\":\"cn\",\"compile_type\":\"release\"})";

  ScopedTempDir temp_;
  std::string work_dir_ = temp_.path() + "/work";
  // The launch argument's log_level: 2 (INFO) unless a test needs DEBUG.
  int log_level_ = 2;
  std::unique_ptr<tools::ReceivingService> service_;
};

// Distinct bytes at every offset, so that a copy from the wrong offset shows.
std::string Pattern(size_t size);

// Lowercase hex.
std::string Sha256(const std::string& bytes);

std::string ReadFile(const std::string& path);

}  // namespace test

#endif  // CRASH_PLUGIN_REPORT_PROCESS_CRASH_REPORT_JOB_FIXTURE_H_
