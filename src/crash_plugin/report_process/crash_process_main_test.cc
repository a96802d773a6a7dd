// Runs the real crashreport executable as the host does and checks the exit
// codes of its start-up, and that the early exits touch no file.

#include <filesystem>
#include <string>
#include <vector>

#include "base/json/base64.h"
#include "base/utils/file.h"
#include "base/utils/file_util.h"
#include "gtest/gtest.h"
#include "test/crashreport_under_test.h"
#include "test/log_lines.h"
#include "test/scoped_temp_dir.h"

namespace {

int RunCrashReport(const std::vector<std::string>& arguments) {
  return test::RunCrashReport(CRASHREPORT_EXE, arguments);
}

std::string Argument(const std::string& json) {
  return base::utils::Base64Encode(json);
}

// "WORK_DIR" in the JSON text becomes dir, as the executable is given it.
std::string Fill(std::string text, const std::string& dir) {
  const std::string path = test::JsonPathForCrashReport(dir);
  for (size_t at; (at = text.find("WORK_DIR")) != std::string::npos;)
    text.replace(at, 8, path);
  return text;
}

TEST(CrashReportProcessTest, NoArgumentEndsWithMinusOne) {
  EXPECT_EQ(RunCrashReport({}), 255);
}

// Each case starts the process with a work directory that exists; an early
// exit must leave it as it was (no crashreport directory, no log file).
TEST(CrashReportProcessTest, BadStartModeEndsWithMinusThreeAndTouchesNothing) {
  struct Case {
    const char* name;
    std::string json;  // "WORK_DIR" is replaced by the temporary directory
    std::vector<std::string> extra_json;  // further arguments
  };
  const std::vector<Case> cases = {
      {"start_mode 3",
       R"({"start_mode":3,"work_dir":"WORK_DIR","log_dest":3,"log_level":0})",
       {}},
      {"start_mode 0", R"({"start_mode":0,"work_dir":"WORK_DIR"})", {}},
      {"negative start_mode", R"({"start_mode":-1,"work_dir":"WORK_DIR"})", {}},
      {"a JSON array", R"(["WORK_DIR"])", {}},
      {"a JSON string", R"("WORK_DIR")", {}},
      {"only the first argument counts",
       R"({"start_mode":3,"work_dir":"WORK_DIR"})",
       {R"({"start_mode":1,"work_dir":"WORK_DIR"})"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::ScopedTempDir work_dir;
    std::vector<std::string> arguments = {
        Argument(Fill(c.json, work_dir.path()))};
    for (const std::string& extra : c.extra_json)
      arguments.push_back(Argument(Fill(extra, work_dir.path())));

    EXPECT_EQ(RunCrashReport(arguments), 253);
    EXPECT_TRUE(std::filesystem::is_empty(work_dir.path()));
  }
}

TEST(CrashReportProcessTest, InitFailureEndsWithMinusOne) {
  struct Case {
    const char* name;
    // A JSON object, encoded once "WORK_DIR" is the temporary directory;
    // anything else is passed as it is.
    std::string argument;
  };
  const std::vector<Case> cases = {
      {"not Base64", "%%%"},
      {"Base64 of no JSON", Argument("work_dir=WORK_DIR")},
      {"empty work_dir", Argument(R"({"work_dir":"","log_dest":1})")},
      {"work_dir below a regular file",
       R"({"work_dir":"WORK_DIR/file/below","log_dest":1})"},
      {"a regular file named crashreport",
       R"({"work_dir":"WORK_DIR/taken","log_dest":1})"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::ScopedTempDir temp;
    const base::utils::Path root(temp.path());
    const base::utils::Path taken_file =
        root.Join(std::string_view("taken/crashreport"));
    ASSERT_TRUE(base::utils::CreateDir(taken_file.Parent(), false));
    for (const base::utils::Path& path :
         {root.Join(std::string_view("file")), taken_file}) {
      base::utils::File file(path, base::utils::kWrite);
      ASSERT_TRUE(file.Write("x", 1));
    }

    const std::string argument = c.argument.starts_with("{")
                                     ? Argument(Fill(c.argument, temp.path()))
                                     : c.argument;
    EXPECT_EQ(RunCrashReport({argument}), 255);
    // Nothing was created and the file in the way is unchanged.
    std::vector<base::utils::DirectoryEntry> entries;
    ASSERT_TRUE(base::utils::ListDirectory(root, entries));
    EXPECT_EQ(entries.size(), 2u);
    EXPECT_EQ(base::utils::ReadFileToString(taken_file), "x");
  }
}

// Runs that get past the initialisation, and what they log.
TEST(CrashReportProcessTest, StartUpEndsWithTheCommonInformation) {
  const std::string valid = R"(\"app_id\":\"1001\",\"area\":\"cn\")";
  // The job runs, finds no dump path and says so.
  const std::string kNoDumpDir =
      "ERROR crash_report.cc: event: CrashReportPathNotExist, component: "
      "crash_plugin, result: ";
  // What the process set to stay out of the game's way; Wine refuses
  // background processing mode.
  const std::string kBackground =
      test::CrashReportUnderWine()
          ? "WARN crash_process_main.cc: Background priority: idle priority "
            "class (SetPriorityClass PROCESS_MODE_BACKGROUND_BEGIN: error "
            "0x57)"
          : "INFO crash_process_main.cc: Background priority: scheduling "
            "policy SCHED_IDLE, I/O class idle";
  struct Case {
    const char* name;
    std::string json;  // "WORK_DIR" is replaced by the temporary directory
    int exit_code;
    std::vector<std::string> log;  // "ARG" stands for the launch argument
    bool work_dir_exists = false;  // work_dir/crashreport made beforehand
  };
  const std::vector<Case> cases = {
      {"invalid common information at INFO",
       R"({"work_dir":"WORK_DIR","log_level":2,"log_dest":1,)"
       R"("common_info":"{\"area\":\"cn\"}"})",
       254,
       {"INFO crash_process_main.cc: Init success 2 ARG", kBackground,
        "ERROR timer_service.cc: TimerService::StartWithServerTime failed",
        "ERROR crash_process_main.cc: Common Service Invalid"}},
      {"invalid common information at the default level",
       R"({"work_dir":"WORK_DIR","log_dest":1,"common_info":"not json"})",
       254,
       {"ERROR timer_service.cc: TimerService::StartWithServerTime failed",
        "ERROR crash_process_main.cc: Common Service Invalid"}},
      {"a bad area",
       R"({"work_dir":"WORK_DIR","log_dest":1,"server_time":1.0e3,)"
       R"("common_info":"{\"app_id\":\"1001\",\"area\":\"CN\"}"})",
       254,
       {"ERROR common_service.cc: Invalid area: CN",
        "ERROR crash_process_main.cc: Common Service Invalid"}},
      {"valid common information",
       R"({"work_dir":"WORK_DIR","log_level":2,"log_dest":1,)"
       R"("server_time":1.0e3,"common_info":"{)" +
           valid + R"(}"})",
       0,
       {"INFO crash_process_main.cc: Init success 2 ARG", kBackground,
        kNoDumpDir, "INFO crash_process_main.cc: crashreport process done"}},
      {"an existing work directory is taken as it is",
       R"({"work_dir":"WORK_DIR","log_level":2,"log_dest":1,"start_mode":2,)"
       R"("common_info":"{)" +
           valid + R"(}"})",
       0,
       {"INFO crash_process_main.cc: Init success 2 ARG", kBackground,
        "ERROR timer_service.cc: TimerService::StartWithServerTime failed",
        kNoDumpDir, "INFO crash_process_main.cc: crashreport process done"},
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::ScopedTempDir temp;
    const base::utils::Path work_dir =
        base::utils::Path(temp.path()).Join(std::string_view("crashreport"));
    if (c.work_dir_exists) {
      ASSERT_TRUE(base::utils::CreateDir(work_dir, false));
    }
    const std::string argument = Argument(Fill(c.json, temp.path()));

    EXPECT_EQ(RunCrashReport({argument}), c.exit_code);
    std::vector<std::string> expected = c.log;
    for (std::string& line : expected) {
      if (size_t at = line.find("ARG"); at != std::string::npos) {
        line.replace(at, 3, argument);
      }
    }
    // The job's telemetry goes to this build's unset hosts and fails; what
    // it sends and logs is the job tests' business.
    std::vector<std::string> lines =
        test::LogLines(base::utils::ReadFileToString(
            work_dir.Join(std::string_view("telvane.log"))));
    std::erase_if(lines, [](const std::string& line) {
      return line.find(" telemetry.cc: ") != std::string::npos ||
             line.find(" base_reporter.cc: ") != std::string::npos ||
             line.find(" http_transport") != std::string::npos;
    });
    EXPECT_EQ(lines, expected);
  }
}

// Without log_dest nothing is logged, and no log file is made.
TEST(CrashReportProcessTest, NoLogDestinationWritesNoLog) {
  test::ScopedTempDir temp;
  EXPECT_EQ(RunCrashReport({Argument(Fill(
                R"({"work_dir":"WORK_DIR","log_level":0,"common_info":"{}"})",
                temp.path()))}),
            254);
  const base::utils::Path work_dir =
      base::utils::Path(temp.path()).Join(std::string_view("crashreport"));
  EXPECT_TRUE(base::utils::PathExists(work_dir));
  EXPECT_FALSE(
      base::utils::PathExists(work_dir.Join(std::string_view("telvane.log"))));
}

}  // namespace
