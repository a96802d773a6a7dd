// The report of one dump, built and judged in this process, against a
// server on the loopback port that this test build's endpoints name.

#include "crash_plugin/report_process/crash_report.h"

#include <httplib.h>

#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "base/json/base64.h"
#include "base/logging/logging.h"
#include "base/utils/file_path.h"
#include "base/utils/string_util.h"
#include "base/utils/time.h"
#include "common/common_service.h"
#include "environment/application_context.h"
#include "gtest/gtest.h"
#include "telemetry/telemetry_area_plugin.h"
#include "test/http_server.h"
#include "test/process_log.h"
#include "test/scoped_temp_dir.h"

namespace tlv {
namespace {

// Answers every upload with the body it was given, and keeps the requests'
// bodies.
class CrashReportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The job's events go through the telemetry, as in the executable.
    InstallTelemetry();
    ApplicationContext::Instance().GetCommonService()->Update(
        R"({"app_id":"game-7","area":"cn","compile_type":"release",)"
        R"("symbol_id":"sym-1"})");
    server_.server().Post(
        "/apm/dataUpload",
        [this](const httplib::Request& request, httplib::Response& response) {
          std::lock_guard lock(mutex_);
          bodies_.push_back(request.body);
          response.set_content(answer_, "application/json");
        });
    ASSERT_TRUE(server_.Start(LOOPBACK_PORT));
  }

  void Answer(const std::string& text) {
    std::lock_guard lock(mutex_);
    answer_ = text;
  }
  std::vector<std::string> Bodies() {
    std::lock_guard lock(mutex_);
    return bodies_;
  }
  // The one event inside the request body "[...]".
  base::JsonValue SentEvent(size_t index) {
    const std::string body = Bodies().at(index);
    EXPECT_EQ(body.front(), '[');
    EXPECT_EQ(body.back(), ']');
    const base::JsonValue array = base::JsonValue::Parse(body);
    EXPECT_EQ(array.Elements().size(), 1u);
    return array.Elements().empty() ? base::JsonValue() : array.Elements()[0];
  }
  // The job's event lines among what was logged since the last call.
  std::string EventLines() {
    std::string lines;
    std::istringstream in(log_.Take());
    for (std::string line; std::getline(in, line);) {
      if (line.find("event: ") != std::string::npos)
        lines += line + "\n";
    }
    return lines;
  }

  test::ProcessLog log_;
  test::ScopedTempDir dir_;

 private:
  std::mutex mutex_;
  std::string answer_ = R"({"code":0})";
  std::vector<std::string> bodies_;
  // Last, so that it stops before what its routes use is gone.
  test::HttpServer server_;
};

std::string WriteFile(const std::string& dir,
                      const std::string& name,
                      const std::string& content) {
  const std::string path = dir + "/" + name;
  std::ofstream(path, std::ios::binary) << content;
  return path;
}

// Only an integer "code" of 0 accepts a report.
TEST_F(CrashReportTest, AnswerDecides) {
  struct Case {
    std::string answer;
    bool accepted;
  };
  const std::vector<Case> cases = {
      {R"({"code":0,"message":"ok"})", true},
      {R"({"code":0.0})", false},
      {R"({"code":"0"})", false},
      {R"({"code":1,"message":"busy"})", false},
      {R"({"message":"ok"})", false},
      {R"([{"code":0}])", false},
      {"<html><body>Bad Gateway</body></html>", false},
      {"", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer);
    Answer(c.answer);
    EXPECT_EQ(ReportContent("{}"), c.accepted);
    EXPECT_EQ(EventLines(),
              c.accepted ? ""
                         : "4 tlv::ReportContent: event: CrashReportFailed, "
                           "component: crash_plugin, result: " +
                               c.answer + "\n");
  }
  EXPECT_EQ(Bodies().size(), cases.size());
}

TEST_F(CrashReportTest, ReportCarriesTheFileAndWhatTheHostSaid) {
  const std::string bytes("MDMP\0\x01\xff tail", 12);
  const std::string dump = WriteFile(dir_.path(), "a.dmp", bytes);
  LaunchConfiguration config;
  config.use_duration_millis = "61000";
  config.free_memory = "512";
  config.custom_data = base::JsonValue::Parse(R"({"level":"3-2","n":1.5})");
  base::JsonValue plugin_data;
  FillPluginData(config, plugin_data);

  const std::string report_id = base::utils::RandomString();
  ASSERT_TRUE(UploadDump(base::utils::Path(dump), plugin_data, config,
                         "local-time", "occur-time", report_id));

  const base::JsonValue event = SentEvent(0);
  EXPECT_EQ(base::utils::Base64Decode(*event.GetString("dump")), bytes);
  EXPECT_EQ(event.GetInt("eventId"), 100011);
  EXPECT_EQ(event.GetString("eventName"), "APMReport");
  const base::JsonValue content = *event.GetValue("uploadContent");
  EXPECT_EQ(event.GetString("msgId"), report_id);
  EXPECT_EQ(content.GetString("ReportId"), report_id);
  EXPECT_EQ(content.GetString("LocalTimestamp"), "local-time");
  EXPECT_EQ(content.GetString("OccurTimestamp"), "occur-time");
  EXPECT_EQ(content.GetValue("CustomData")->GetReal("n"), 1.5);

  const base::JsonValue apm = *content.GetValue("APMInfo");
  EXPECT_EQ(apm.GetString("SDKVersion"), "2.40.0.9");
  EXPECT_EQ(apm.GetInt("PluginId"), 1006);
  EXPECT_EQ(apm.GetString("PluginName"), "CrashPlugin");
  EXPECT_EQ(apm.GetString("PluginVersion"), "2.40.0.9");

  const base::JsonValue plugin = *content.GetValue("PluginData");
  EXPECT_EQ(plugin.GetString("CrashType"), "");
  EXPECT_EQ(plugin.GetString("UseDurationSeconds"), "61000");
  EXPECT_EQ(plugin.GetString("FreeMemory"), "512");
  EXPECT_EQ(plugin.GetString("FreeDiskSize"), "");
  EXPECT_EQ(plugin.GetBool("FileExists"), true);
  EXPECT_EQ(plugin.GetString("SymbolId"), "sym-1");
}

// An empty or vanished file still makes a report, only without "dump"; a
// path that cannot be read whole makes none, so its dump is kept.
TEST_F(CrashReportTest, DumpMemberFollowsTheFile) {
  struct Case {
    const char* name;
    std::string path;
    bool sent;
  };
  const std::vector<Case> cases = {
      {"empty file", WriteFile(dir_.path(), "empty.dmp", ""), true},
      {"missing file", dir_.path() + "/missing.dmp", true},
      {"a directory", dir_.path(), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const size_t before = Bodies().size();
    log_.Take();
    EXPECT_EQ(UploadDump(base::utils::Path(c.path), base::JsonValue(),
                         LaunchConfiguration(), "l", "o", "id"),
              c.sent);
    if (c.sent) {
      ASSERT_EQ(Bodies().size(), before + 1);
      EXPECT_FALSE(SentEvent(before).GetValue("dump"));
    } else {
      EXPECT_EQ(Bodies().size(), before);
      EXPECT_NE(log_.Take().find("4 tlv::UploadDump: read dump failed: " +
                                 base::utils::Path(c.path).ToUtf8()),
                std::string::npos);
    }
  }
}

// The process's work directory, set up once per test process; the logger
// stays the one the test log configured first.
const base::utils::Path& WorkDir() {
  static const test::ScopedTempDir* const parent = new test::ScopedTempDir();
  static const bool ready = ApplicationContext::Instance().Init(
      parent->path(), base::logging::kTrace, base::logging::kDestinationFile,
      "crashreport");
  EXPECT_TRUE(ready);
  return ApplicationContext::Instance().GetWorkDir();
}

TEST_F(CrashReportTest, FindLogFiles) {
  for (const char* name : {"crash.dmp", "Player.log", "Player.log.1", "a.log",
                           "b.log", "c.log", "d.log", "x.txt"})
    WriteFile(dir_.path(), name, name);
  std::filesystem::create_directory(dir_.path() + "/sub");
  WriteFile(dir_.path(), "sub/Player.log", "below");
  // Logs come in the directory's own order.
  std::vector<std::string> listed_logs;
  for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) {
    const std::string name = entry.path().filename().string();
    if (name.size() == 5 && name.ends_with(".log") && listed_logs.size() < 3)
      listed_logs.push_back(name);
  }

  struct Case {
    const char* pattern;
    std::vector<std::string> names;
  };
  const std::vector<Case> cases = {
      {"Player.log$", {"Player.log"}},
      {"^[a-d]\\.log$", listed_logs},
      {"\\.dmp$", {"crash.dmp"}},
      {"player", {}},
      {"(", {}},
  };
  const base::utils::Path dump(dir_.path() + "/crash.dmp");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pattern);
    std::vector<std::string> names;
    for (const base::utils::Path& path : FindLogFiles(dump, c.pattern)) {
      EXPECT_EQ(path.Parent(), dump.Parent());
      names.push_back(path.FileNameUtf8());
    }
    EXPECT_EQ(names, c.names);
  }
  EXPECT_NE(log_.Take().find("4 tlv::FindLogFiles: package_log_pattern ( is "
                             "not a valid regular expression"),
            std::string::npos);
}

TEST_F(CrashReportTest, TemporaryPathsLieInTheWorkDirectory) {
  const base::utils::Path& work_dir = WorkDir();
  const int64_t before = base::Time::Now() / base::Time::kTicksPerMillisecond;
  const base::utils::Path archive = MakeZipPath();
  const int64_t after = base::Time::Now() / base::Time::kTicksPerMillisecond;
  EXPECT_EQ(archive.Parent(), work_dir);
  const std::string name = archive.FileNameUtf8();
  ASSERT_EQ(name.size(), 13 + std::string("-crash.zip").size()) << name;
  EXPECT_TRUE(name.ends_with("-crash.zip"));
  const int64_t millis = std::stoll(name.substr(0, 13));
  EXPECT_GE(millis, before);
  EXPECT_LE(millis, after);

  // Named after the archive, whatever the logs are called.
  EXPECT_EQ(MakeCutLogPaths(archive, 2),
            (std::vector<base::utils::Path>{
                work_dir.Join(name.substr(0, 13) + "-crash.0.cut"),
                work_dir.Join(name.substr(0, 13) + "-crash.1.cut")}));
}

// An archive without the whole dump must not stand in for it: the bare dump
// is tried instead, and kept when it cannot be read either.
TEST_F(CrashReportTest, DumpThatCannotBePackedIsNotReplacedByTheArchive) {
  WorkDir();
  const std::string dump = dir_.path() + "/x.dmp";
  std::filesystem::create_directory(dump);
  WriteFile(dir_.path(), "Player.log", "host log");
  LaunchConfiguration config;
  config.start_mode = 1;
  config.dmp_path = dump;
  log_.Take();

  BlockReportWithLog(config);

  EXPECT_TRUE(Bodies().empty());
  EXPECT_TRUE(std::filesystem::is_directory(dump));
  const std::string log = log_.Take();
  // The file layer names the dump in its normal form ('/' only); the job
  // names it as the host gave it.
  const std::string normal = base::utils::Path(dump).ToUtf8();
  EXPECT_NE(log.find("4 tlv::{anonymous}::PackDump: CrashReport dump not "
                     "packed whole: " +
                     normal),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("event: CrashReportZipFailed"), std::string::npos);
  EXPECT_NE(log.find("4 tlv::UploadDump: read dump failed: " + normal),
            std::string::npos);
  EXPECT_NE(log.find("CrashReport report done: " + dump + " false"),
            std::string::npos);
  std::vector<std::string> left;
  for (const auto& entry :
       std::filesystem::directory_iterator(WorkDir().ToUtf8()))
    left.push_back(entry.path().filename().string());
  // Only the delivery ledger, which remembers the failed attempt.
  EXPECT_EQ(left, std::vector<std::string>{"delivery.db"});
}

}  // namespace
}  // namespace tlv
