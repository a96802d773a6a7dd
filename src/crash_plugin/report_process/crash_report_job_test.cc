// The real crashreport executable, built to send to the loopback port,
// against the local receiving service: what arrives, what is deleted, what
// is logged.

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "base/json/json_value.h"
#include "base/utils/file_util.h"
#include "crash_plugin/report_process/crash_report_job_fixture.h"
#include "gtest/gtest.h"
#include "test/unzip.h"
#include "tools/receiving_service/receiving_service.h"

namespace {

namespace fs = std::filesystem;

class CrashReportJobTest : public test::CrashReportJobFixture {};

using test::Pattern;
using test::ReadFile;

TEST_F(CrashReportJobTest, ScanReportsEachDumpAndDeletesWhatWasAccepted) {
  StartService("accept");
  const std::string a = AddFile("a.dmp", std::string("MDMP\0a", 6));
  AddFile("b.DMP", "upper case is not a dump");
  AddFile("c.dmp.bak", "neither is a backup");
  const std::string d = AddFile("sub/d.dmp", std::string(70000, 'd'));
  // A scan reports a dump with the time it was written.
  fs::last_write_time(
      a, std::chrono::file_clock::from_sys(
             std::chrono::sys_days{std::chrono::March / 1 / 2024} +
             std::chrono::hours(8) + std::chrono::milliseconds(930250)));

  Run(R"("start_mode":1,"dmp_dir_path":")" + Json(dumps_dir()) +
      R"(","use_duration_millis":"5000")");

  const std::vector<tools::ReceivedUpload> uploads = service_->uploads();
  ASSERT_EQ(uploads.size(), 2u);
  EXPECT_EQ(uploads[0].verdict, "ok");
  EXPECT_EQ(uploads[1].verdict, "ok");
  EXPECT_EQ(Received(uploads[0]), std::string("MDMP\0a", 6));
  EXPECT_EQ(Received(uploads[1]), std::string(70000, 'd'));
  EXPECT_EQ(uploads[0].occur_timestamp, "2024-03-01T08:15:30.250Z");
  EXPECT_EQ(uploads[0].local_timestamp, "2024-03-01T08:15:30.250Z");
  // The duration belongs to the host's current run, not to old dumps.
  EXPECT_EQ(PluginData(uploads[0]).GetString("UseDurationSeconds"), "");

  EXPECT_FALSE(fs::exists(a));
  EXPECT_FALSE(fs::exists(d));
  EXPECT_TRUE(fs::exists(dumps_dir() + "/b.DMP"));
  EXPECT_TRUE(fs::exists(dumps_dir() + "/c.dmp.bak"));
  EXPECT_EQ(
      JobLog(),
      (std::vector<std::string>{
          "INFO crash_report.cc: event: CrashReport, component: crash_plugin, "
          "result: ROOT/a.dmp,6",
          "INFO crash_report.cc: CrashReport report done: ROOT/a.dmp true",
          "INFO crash_report.cc: event: CrashReport, component: crash_plugin, "
          "result: ROOT/sub/d.dmp,70000",
          "INFO crash_report.cc: CrashReport report done: ROOT/sub/d.dmp true",
          "INFO crash_report.cc: event: CrashReportScan, component: "
          "crash_plugin, result: 2 files 0",
      }));
  EXPECT_EQ(Events(), (std::vector<std::string>{
                          "CrashReport: ROOT/a.dmp,6",
                          "CrashReport: ROOT/sub/d.dmp,70000",
                          "CrashReportScan: 2 files 0",
                      }));
  for (const std::string& verdict : service_->telemetry_verdicts())
    EXPECT_EQ(verdict, "ok");
}

// Single-dump mode: the dump goes out bare, even with is_package_log, and
// stays unless the service accepted it and remain_file is off.
TEST_F(CrashReportJobTest, SingleDumpIsDeletedOnlyWhenAcceptedAndNotKept) {
  struct Case {
    const char* answer;
    bool remain_file;
    size_t requests;
    bool deleted;
    std::string failure;  // the CrashReportFailed result, if any
  };
  const std::vector<Case> cases = {
      {"accept", false, 1, true, ""},
      {"accept", true, 1, false, ""},
      {"reject:7:later", false, 1, false, R"({"code":7,"message":"later"})"},
      {"status:500", false, 4, false,
       "HTTP status 500HTTP status 500HTTP status 500HTTP status 500"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.answer) + (c.remain_file ? " remain" : ""));
    StartService(c.answer);
    const std::string dump = AddFile("one.dmp", "MDMP one");
    AddFile("Player.log", "never packed in this mode");
    fs::remove(process_dir() + "/telvane.log");

    Run(R"("start_mode":2,"dmp_path":")" + Json(dump) +
        R"(","is_package_log":true,"use_duration_millis":"5000",)"
        R"("server_time":1577836800000.0,"remain_file":)" +
        (c.remain_file ? "true" : "false"));

    const std::vector<tools::ReceivedUpload> uploads = service_->uploads();
    ASSERT_EQ(uploads.size(), c.requests);
    EXPECT_EQ(uploads[0].verdict, "ok");
    EXPECT_EQ(Received(uploads[0]), "MDMP one");
    // The report's time is the server's (2020-01-01), its local time ours.
    EXPECT_EQ(uploads[0].occur_timestamp.substr(0, 15), "2020-01-01T00:0");
    EXPECT_NE(uploads[0].local_timestamp.substr(0, 4), "2020");
    EXPECT_EQ(PluginData(uploads[0]).GetString("UseDurationSeconds"), "5000");
    EXPECT_EQ(fs::exists(dump), !c.deleted);

    std::vector<std::string> expected = {
        "INFO crash_report.cc: event: CrashReport, component: crash_plugin, "
        "result: ROOT/one.dmp,8"};
    if (!c.failure.empty()) {
      expected.push_back(
          "ERROR crash_report_content.cc: event: CrashReportFailed, "
          "component: crash_plugin, result: " +
          c.failure);
    }
    expected.push_back(
        std::string("INFO crash_report.cc: CrashReport report done: "
                    "ROOT/one.dmp ") +
        (c.failure.empty() ? "true" : "false"));
    EXPECT_EQ(JobLog(), expected);
    std::vector<std::string> events = {"CrashReport: ROOT/one.dmp,8"};
    if (!c.failure.empty())
      events.push_back("CrashReportFailed: " + c.failure);
    EXPECT_EQ(Events(), events);
    service_->Stop();
  }
}

TEST_F(CrashReportJobTest, MissingPathIsReportedAndNothingIsSent) {
  StartService("accept");
  struct Case {
    const char* name;
    std::string members;
    std::string path;
  };
  const std::vector<Case> cases = {
      {"scan", R"("start_mode":1,"dmp_dir_path":")", dumps_dir() + "/none"},
      {"single dump", R"("start_mode":2,"dmp_path":")",
       dumps_dir() + "/none.dmp"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove(process_dir() + "/telvane.log");
    Run(c.members + Json(c.path) + "\"");
    EXPECT_EQ(JobLog(),
              (std::vector<std::string>{
                  "ERROR crash_report.cc: event: CrashReportPathNotExist, "
                  "component: crash_plugin, result: ROOT" +
                  c.path.substr(dumps_dir().size())}));
  }
  EXPECT_TRUE(service_->uploads().empty());
  EXPECT_EQ(Events(), (std::vector<std::string>{
                          "CrashReportPathNotExist: ROOT/none",
                          "CrashReportPathNotExist: ROOT/none.dmp",
                      }));
}

// The host's privacy level reaches the events: outside mainland, ftc switch
// 1 hides who the player is, but not the machine.
TEST_F(CrashReportJobTest, EventsHideUserIdentifiersAsTheHostAsks) {
  struct Case {
    const char* area;
    bool hidden;
  };
  for (const Case& c : std::vector<Case>{{"os", true}, {"cn", false}}) {
    SCOPED_TRACE(c.area);
    StartService("accept");
    Run(R"("start_mode":1,"ftc_switch":1,"dmp_dir_path":")" +
            Json(dumps_dir() + "/none") + "\"",
        std::string(R"({\"app_id\":\"game-7\",\"area\":\")") + c.area +
            R"(\",\"user_id\":\"player-1\",\"user_device_id\":\"ud-1\",)"
            R"(\"a_id\":\"a-1\",\"device_model\":\"Model 9\"})");
    ASSERT_EQ(Events().size(), 1u);
    const base::JsonValue event =
        base::JsonValue::Parse(service_->telemetry_events()[0]);
    EXPECT_EQ(event.GetString("area"), c.area);
    EXPECT_EQ(event.GetString("user_id"), c.hidden ? "" : "player-1");
    EXPECT_EQ(event.GetString("user_device_id"), c.hidden ? "" : "ud-1");
    EXPECT_EQ(event.GetString("a_id"), c.hidden ? "" : "a-1");
    EXPECT_EQ(event.GetString("device_model"), "Model 9");
    service_->Stop();
  }
}

// A scan with is_package_log sends each dump in an archive with its log, a
// long log by its last 10 MiB. The host's files stay as they were, and the
// archive and the cut copy are gone afterwards, whatever the service said.
TEST_F(CrashReportJobTest, DumpGoesWithTheTailOfItsLog) {
  constexpr size_t kLogSize = 20'000'000;
  constexpr size_t kKept = 10'485'760;
  const std::string log_content = Pattern(kLogSize);
  struct Case {
    const char* answer;
    bool accepted;
  };
  for (const Case& c :
       std::vector<Case>{{"accept", true}, {"reject:7:later", false}}) {
    SCOPED_TRACE(c.answer);
    StartService(c.answer);
    const std::string dump = AddFile("crash.dmp", std::string("MDMP\0x", 6));
    const std::string log = AddFile("Player.log", log_content);
    AddFile("error.log", "not packed by the default pattern");
    const fs::file_time_type log_time = fs::last_write_time(log);
    fs::remove(process_dir() + "/telvane.log");

    Run(R"("start_mode":1,"is_package_log":true,"dmp_dir_path":")" +
        Json(dumps_dir()) + "\"");

    const std::vector<tools::ReceivedUpload> uploads = service_->uploads();
    ASSERT_EQ(uploads.size(), 1u);
    EXPECT_EQ(uploads[0].verdict, "ok");
    const std::string& archive = uploads[0].stored;
    const test::ProcessResult check = test::Unzip({"-t", archive});
    EXPECT_EQ(check.status, 0) << check.output;
    EXPECT_EQ(test::ZipEntryNames(archive),
              (std::vector<std::string>{"crash.dmp", "Player.log"}));
    EXPECT_EQ(test::ZipEntryContent(archive, "crash.dmp"),
              std::string("MDMP\0x", 6));
    EXPECT_TRUE(test::ZipEntryContent(archive, "Player.log") ==
                log_content.substr(kLogSize - kKept));

    EXPECT_EQ(fs::exists(dump), !c.accepted);
    EXPECT_TRUE(base::utils::ReadFileToString(base::utils::Path(log)) ==
                log_content);
    EXPECT_EQ(fs::last_write_time(log), log_time);
    EXPECT_EQ(ProcessDirFiles(),
              (std::vector<std::string>{"delivery.db", "telvane.log"}));

    std::vector<std::string> events = {"CrashReportWithLog: ROOT/crash.dmp,6"};
    if (!c.accepted)
      events.push_back(R"(CrashReportFailed: {"code":7,"message":"later"})");
    events.push_back("CrashReportScan: 1 files 1");
    EXPECT_EQ(Events(), events);
    EXPECT_EQ(JobLog().back(),
              "INFO crash_report.cc: event: CrashReportScan, component: "
              "crash_plugin, result: 1 files 1");
    service_->Stop();
    fs::remove_all(dumps_dir());
  }
}

// The pattern picks at most three logs, in the order the directory lists
// them; a log of exactly 10 MiB goes whole.
TEST_F(CrashReportJobTest, PatternPicksTheFirstThreeLogs) {
  StartService("accept");
  AddFile("crash.dmp", "MDMP");
  for (const char* name : {"a.log", "b.log", "c.log", "d.log"})
    AddFile(name, std::string("log ") + name);
  AddFile("b.log", Pattern(10'485'760));
  AddFile("notes.txt", "not a log");
  std::vector<std::string> listed;
  for (const fs::directory_entry& entry : fs::directory_iterator(dumps_dir())) {
    const std::string name = entry.path().filename().string();
    if (name.ends_with(".log") && listed.size() < 3)
      listed.push_back(name);
  }

  Run(R"("start_mode":1,"is_package_log":true,"dmp_dir_path":")" +
      Json(dumps_dir()) + R"(","package_log_pattern":"\\.log$")");

  const std::vector<tools::ReceivedUpload> uploads = service_->uploads();
  ASSERT_EQ(uploads.size(), 1u);
  const std::vector<std::string> names = test::ZipEntryNames(uploads[0].stored);
  if (test::CrashReportUnderWine()) {
    // Wine lists a directory in an order of its own, which this process
    // does not see: any three of the logs.
    ASSERT_EQ(names.size(), 4u);
    EXPECT_EQ(names[0], "crash.dmp");
    listed.assign(names.begin() + 1, names.end());
  } else {
    std::vector<std::string> expected = {"crash.dmp"};
    expected.insert(expected.end(), listed.begin(), listed.end());
    EXPECT_EQ(names, expected);
  }
  for (const std::string& name : listed) {
    EXPECT_TRUE(test::ZipEntryContent(uploads[0].stored, name) ==
                base::utils::ReadFileToString(
                    base::utils::Path(dumps_dir() + "/" + name)))
        << name;
  }
  EXPECT_EQ(ProcessDirFiles(),
            (std::vector<std::string>{"delivery.db", "telvane.log"}));
}

// When no archive can be written in the work directory, the bare dump is
// sent, and deleted once accepted. The work directory's path is so long
// that the process's log fits below it but the archive's name does not.
TEST_F(CrashReportJobTest, ArchiveThatCannotBeWrittenSendsTheBareDump) {
  if (test::CrashReportUnderWine())
    GTEST_SKIP() << "the lengths are Linux's; Windows names no work "
                    "directory this long";
  // Paths have at most 4095 bytes: the log's name ("/telvane.log") fits
  // after 4076 of them, the archive's ("/<13 digits>-crash.zip") does not.
  constexpr size_t kProcessDirLength = 4076;
  const size_t length = kProcessDirLength - std::string("/crashreport").size();
  std::string dir = temp_.path();
  while (length - dir.size() > 250)
    dir += "/" + std::string(200, 'w');
  dir += "/" + std::string(length - dir.size() - 1, 'w');
  work_dir_ = dir;
  ASSERT_EQ(process_dir().size(), kProcessDirLength);
  fs::create_directories(work_dir_);
  StartService("accept");
  const std::string dump = AddFile("crash.dmp", "MDMP bare");
  AddFile("Player.log", "host log");

  Run(R"("start_mode":1,"is_package_log":true,"dmp_dir_path":")" +
      Json(dumps_dir()) + "\"");

  const std::vector<tools::ReceivedUpload> uploads = service_->uploads();
  ASSERT_EQ(uploads.size(), 1u);
  EXPECT_EQ(Received(uploads[0]), "MDMP bare");
  EXPECT_FALSE(fs::exists(dump));
  const std::vector<std::string> events = Events();
  ASSERT_EQ(events.size(), 3u);
  EXPECT_TRUE(std::regex_match(
      events[0], std::regex("CrashReportZipFailed: " +
                            test::PathShownByCrashReport(process_dir()) +
                            R"(/\d{13}-crash\.zip)")))
      << events[0];
  EXPECT_EQ(events[1], "CrashReportWithLog: ROOT/crash.dmp,9");
  // Nor is the delivery ledger, whose files SQLite cannot name there: the
  // run goes on without it.
  EXPECT_EQ(ProcessDirFiles(), std::vector<std::string>{"telvane.log"});
}

// Where the work directory is the dump's own directory, the temporary
// files would be among the host's: the dump goes out bare, the host's
// files are left alone, and the log says why.
TEST_F(CrashReportJobTest, NothingIsPackedInTheDumpsOwnDirectory) {
  StartService("accept");
  fs::create_directories(process_dir());
  const std::string dump = process_dir() + "/crash.dmp";
  const std::string log = process_dir() + "/Player.log";
  std::ofstream(dump, std::ios::binary) << "MDMP host";
  const std::string log_content = Pattern(10'485'761);
  std::ofstream(log, std::ios::binary) << log_content;

  Run(R"("start_mode":1,"is_package_log":true,"dmp_dir_path":")" +
      Json(process_dir()) + "\"");

  const std::vector<tools::ReceivedUpload> uploads = service_->uploads();
  ASSERT_EQ(uploads.size(), 1u);
  EXPECT_TRUE(Received(uploads[0]) == "MDMP host");
  EXPECT_FALSE(fs::exists(dump));
  EXPECT_TRUE(base::utils::ReadFileToString(base::utils::Path(log)) ==
              log_content);
  EXPECT_TRUE(
      Logged("ERROR crash_report.cc: CrashReport not packed: the "
             "work directory " +
             test::PathShownByCrashReport(process_dir()) +
             " is the dump's directory"));
}

// Host logs named like the work directory's own files, the ledger first,
// are packed under their names, a long one by the copy of its tail, and
// the work directory's files stay what they are: the ledger keeps its
// records from run to run.
TEST_F(CrashReportJobTest, LogsNamedLikeTheWorkDirectorysFilesArePacked) {
  StartService("accept");
  const std::string dump = AddFile("crash.dmp", "MDMP");
  const std::string ledger_log =
      AddFile("delivery.db", Pattern(10'485'760 + 3));
  const std::string process_log = AddFile("telvane.log", "the game's own");
  const std::string members =
      ScanMembers(R"(,"is_package_log":true,"remain_file":true,)"
                  R"("package_log_pattern":"^(delivery\\.db|telvane\\.log)$")");

  Run(members);
  Run(members);

  const std::vector<tools::ReceivedUpload> uploads = service_->uploads();
  ASSERT_EQ(uploads.size(), 1u);
  std::vector<std::string> names = test::ZipEntryNames(uploads[0].stored);
  std::sort(names.begin() + 1, names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"crash.dmp", "delivery.db",
                                             "telvane.log"}));
  EXPECT_TRUE(test::ZipEntryContent(uploads[0].stored, "delivery.db") ==
              Pattern(10'485'760 + 3).substr(3));
  EXPECT_EQ(test::ZipEntryContent(uploads[0].stored, "telvane.log"),
            "the game's own");
  // The second run found the first one's record of the acceptance.
  EXPECT_TRUE(
      Logged("INFO crash_report.cc: CrashReport accepted before, not sent "
             "again: " +
             test::PathShownByCrashReport(dump)));
  EXPECT_TRUE(ReadFile(ledger_log) == Pattern(10'485'760 + 3));
  EXPECT_EQ(ReadFile(process_log), "the game's own");
  EXPECT_EQ(ProcessDirFiles(),
            (std::vector<std::string>{"delivery.db", "telvane.log"}));
}

// A pattern that is not a regular expression packs no log; the dump still
// goes, in its archive, and is kept until the service accepts it.
TEST_F(CrashReportJobTest, PatternThatIsNotARegularExpressionPacksNoLog) {
  for (const char* answer : {"status:500", "accept"}) {
    SCOPED_TRACE(answer);
    StartService(answer);
    const std::string dump = AddFile("crash.dmp", "MDMP");
    AddFile("Player.log", "host log");
    fs::remove(process_dir() + "/telvane.log");

    Run(R"("start_mode":1,"is_package_log":true,"dmp_dir_path":")" +
        Json(dumps_dir()) + R"(","package_log_pattern":"Player(\\.log")");

    const std::vector<tools::ReceivedUpload> uploads = service_->uploads();
    ASSERT_FALSE(uploads.empty());
    EXPECT_EQ(test::ZipEntryNames(uploads[0].stored),
              std::vector<std::string>{"crash.dmp"});
    EXPECT_EQ(fs::exists(dump), std::string(answer) != "accept");
    bool logged = false;
    for (const std::string& line : JobLog()) {
      logged |= line.starts_with(
          "ERROR crash_report.cc: package_log_pattern Player(\\.log is not a "
          "valid regular expression");
    }
    EXPECT_TRUE(logged);
    service_->Stop();
  }
}

}  // namespace
