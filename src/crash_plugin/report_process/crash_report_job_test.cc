// The real crashreport executable, built to send to the loopback port,
// against the local receiving service: what arrives, what is deleted, what
// is logged.

#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "base/json/base64.h"
#include "base/json/json_value.h"
#include "base/utils/file_util.h"
#include "gtest/gtest.h"
#include "test/log_lines.h"
#include "test/process.h"
#include "test/scoped_temp_dir.h"
#include "tools/receiving_service/receiving_service.h"

namespace {

namespace fs = std::filesystem;

class CrashReportJobTest : public ::testing::Test {
 protected:
  // Starts the service with the given upload answer.
  void StartService(const std::string& upload_answer) {
    tools::ReceivingService::Options options;
    options.port = LOOPBACK_PORT;
    options.out_dir = temp_.path() + "/received";
    options.upload.initial = *tools::ParseAnswer(upload_answer);
    service_ = std::make_unique<tools::ReceivingService>(std::move(options));
    ASSERT_TRUE(service_->Start());
  }

  // Runs crashreport with the launch configuration's members besides the
  // work directory, the log settings and the common information, which is
  // valid unless given.
  void Run(const std::string& members,
           const std::string& common_info =
               R"({\"app_id\":\"game-7\",\"area\":\"cn\",)"
               R"(\"compile_type\":\"release\"})") {
    const std::string json = R"({"work_dir":")" + temp_.path() +
                             R"(/work","log_level":2,"log_dest":1,)"
                             R"("common_info":")" +
                             common_info + "\"," + members + "}";
    ASSERT_EQ(
        test::RunProcess(CRASHREPORT_EXE, {base::utils::Base64Encode(json)}),
        0);
  }

  // The job's lines of the process's log, "ROOT" standing for dumps_dir().
  std::vector<std::string> JobLog() {
    std::vector<std::string> lines;
    for (std::string line :
         test::LogLines(base::utils::ReadFileToString(base::utils::Path(
             temp_.path() + "/work/crashreport/telvane.log")))) {
      if (line.find(" crash_report") == std::string::npos)
        continue;
      for (size_t at; (at = line.find(dumps_dir())) != std::string::npos;)
        line.replace(at, dumps_dir().size(), "ROOT");
      lines.push_back(line);
    }
    return lines;
  }

  // The telemetry events received, as "event: result" with "ROOT" standing
  // for dumps_dir(). Each must be the job's, with the common fields of the
  // process and the place in the source that raised it.
  std::vector<std::string> Events() {
    std::vector<std::string> events;
    for (const std::string& text : service_->telemetry_events()) {
      const base::JsonValue event = base::JsonValue::Parse(text);
      EXPECT_EQ(event.GetString("component"), "crash_plugin") << text;
      EXPECT_TRUE(std::regex_match(event.GetString("loc").value_or(""),
                                   std::regex(R"(crash_report\w*\.cc:\d+)")))
          << text;
      EXPECT_EQ(event.GetString("app_id"), "game-7") << text;
      EXPECT_EQ(event.GetString("telemetry_version"), "2.40.0.9") << text;
      EXPECT_EQ(event.GetString("client_type"), "Windows") << text;
      EXPECT_EQ(event.GetString("device_id").value_or("").size(), 32u) << text;
      EXPECT_TRUE(std::regex_match(
          event.GetString("@timestamp").value_or(""),
          std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z)")))
          << text;
      std::string line = event.GetString("event").value_or("?") + ": " +
                         event.GetString("result").value_or("?");
      for (size_t at; (at = line.find(dumps_dir())) != std::string::npos;)
        line.replace(at, dumps_dir().size(), "ROOT");
      events.push_back(line);
    }
    return events;
  }

  std::string dumps_dir() const { return temp_.path() + "/dumps"; }

  std::string AddFile(const std::string& name, const std::string& content) {
    const fs::path path = fs::path(dumps_dir()) / name;
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
    return path.string();
  }

  // The stored dump of an upload.
  static std::string Received(const tools::ReceivedUpload& upload) {
    return upload.stored.empty() ? "<no dump>"
                                 : base::utils::ReadFileToString(
                                       base::utils::Path(upload.stored));
  }

  static base::JsonValue PluginData(const tools::ReceivedUpload& upload) {
    return *base::JsonValue::Parse(upload.body)
                .Elements()
                .at(0)
                .GetValue("uploadContent")
                ->GetValue("PluginData");
  }

  test::ScopedTempDir temp_;
  std::unique_ptr<tools::ReceivingService> service_;
};

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

  Run(R"("start_mode":1,"dmp_dir_path":")" + dumps_dir() +
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
    fs::remove(temp_.path() + "/work/crashreport/telvane.log");

    Run(R"("start_mode":2,"dmp_path":")" + dump +
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
    fs::remove(temp_.path() + "/work/crashreport/telvane.log");
    Run(c.members + c.path + "\"");
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
    Run(R"("start_mode":1,"ftc_switch":1,"dmp_dir_path":")" + dumps_dir() +
            R"(/none")",
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

}  // namespace
