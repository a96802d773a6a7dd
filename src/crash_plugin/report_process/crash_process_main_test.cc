// Runs the real crashreport executable as the host does and checks the exit
// codes of its start-up, and that the early exits touch no file.

#include <filesystem>
#include <string>
#include <vector>

#include "base/json/base64.h"
#include "gtest/gtest.h"
#include "test/process.h"
#include "test/scoped_temp_dir.h"

namespace {

int RunCrashReport(const std::vector<std::string>& arguments) {
  return test::RunProcess(CRASHREPORT_EXE, arguments);
}

std::string Argument(const std::string& json) {
  return base::utils::Base64Encode(json);
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
    auto fill = [&work_dir](std::string text) {
      for (size_t at; (at = text.find("WORK_DIR")) != std::string::npos;)
        text.replace(at, 8, work_dir.path());
      return text;
    };
    std::vector<std::string> arguments = {Argument(fill(c.json))};
    for (const std::string& extra : c.extra_json)
      arguments.push_back(Argument(fill(extra)));

    EXPECT_EQ(RunCrashReport(arguments), 253);
    EXPECT_TRUE(std::filesystem::is_empty(work_dir.path()));
  }
}

}  // namespace
