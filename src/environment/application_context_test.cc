#include "environment/application_context.h"

#include <cstdint>
#include <future>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "base/logging/logging.h"
#include "base/thread/executor.h"
#include "base/utils/file.h"
#include "base/utils/file_util.h"
#include "common/common_service.h"
#include "gtest/gtest.h"
#include "telemetry/telemetry.h"
#include "telemetry/telemetry_area_plugin.h"
#include "test/scoped_temp_dir.h"

namespace tlv {
namespace {

using base::utils::Path;

void WriteFile(const Path& path) {
  base::utils::File file(path, base::utils::kWrite);
  ASSERT_TRUE(file.Write("x", 1));
}

// The context is one per process and only the first successful Init counts,
// so its whole life is one test.
TEST(ApplicationContextTest, InitsOnce) {
  test::ScopedTempDir temp;
  const Path root(temp.path());
  ApplicationContext& context = ApplicationContext::Instance();
  EXPECT_EQ(&ApplicationContext::Instance(), &context);
  InstallTelemetry();

  // Only the name "telvane", exactly, keeps the process the main one; the
  // name is judged even when the rest of Init fails.
  EXPECT_TRUE(context.is_main_process());
  EXPECT_FALSE(context.Init("", base::logging::kInfo,
                            base::logging::kDestinationFile, "telvane"));
  EXPECT_TRUE(context.is_main_process());
  EXPECT_FALSE(context.Init("", base::logging::kInfo,
                            base::logging::kDestinationFile, "Telvane"));
  EXPECT_FALSE(context.is_main_process());

  // Failures leave the context uninitialised.
  WriteFile(root.Join(std::string_view("file")));
  const Path taken = root.Join(std::string_view("taken"));
  ASSERT_TRUE(base::utils::CreateDir(taken, false));
  WriteFile(taken.Join(std::string_view("crashreport")));
  for (const std::string& work_dir :
       {std::string(), std::string("/"), temp.path() + "/file",
        temp.path() + "/file/below", temp.path() + "/taken"}) {
    SCOPED_TRACE(work_dir);
    EXPECT_FALSE(context.Init(work_dir, base::logging::kInfo,
                              base::logging::kDestinationFile, "crashreport"));
    EXPECT_TRUE(context.GetWorkDir().empty());
    EXPECT_TRUE(context.GetLogFile().empty());
  }
  EXPECT_EQ(context.GetFtcSwitch(), -1);

  // The first success: missing parents are created, the Windows form of the
  // path is normalised, and logging starts in the new directory.
  ASSERT_TRUE(context.Init(temp.path() + "\\deep\\apm\\", base::logging::kInfo,
                           base::logging::kDestinationFile, "crashreport"));
  const Path work_dir = root.Join(std::string_view("deep/apm/crashreport"));
  EXPECT_EQ(context.GetWorkDir(), work_dir);
  const std::optional<base::utils::FileInfo> info =
      base::utils::GetFileInfo(work_dir);
  ASSERT_TRUE(info);
  EXPECT_TRUE(info->IsDirectory());
  const Path log_file = work_dir.Join(std::string_view("telvane.log"));
  EXPECT_EQ(context.GetLogFile(), log_file);
  EXPECT_TRUE(base::utils::PathExists(log_file));
  // The privacy level is no longer unset.
  EXPECT_EQ(context.GetFtcSwitch(), 0);

  // A second Init is refused, even for a valid directory, and says so in the
  // first one's log.
  const Path other = root.Join(std::string_view("other"));
  EXPECT_FALSE(context.Init(other.ToUtf8(), base::logging::kTrace,
                            base::logging::kDestinationFile, "crashreport"));
  EXPECT_EQ(context.GetWorkDir(), work_dir);
  EXPECT_FALSE(base::utils::PathExists(other));

  // A secondary process sends at once: here to no endpoint, there being no
  // area yet.
  TelemetryReport("CrashReport", "crash_plugin", "found",
                  {"crash_report.cc", 12, "tlv::ScanReport"});
  // Lines end with CRLF on Windows, where the log is written in text mode.
  const std::string log = base::utils::ReadFileToString(log_file);
  EXPECT_TRUE(std::regex_search(
      log, std::regex(R"(:WARN:application_context\.cc\(\d+\)\] )"
                      R"(work dir has been set\r?\n)")))
      << log;
  EXPECT_TRUE(std::regex_search(
      log, std::regex(R"(:INFO:base_reporter\.cc\(\d+\)\] block report )"
                      R"(\[\{.*"loc":"crash_report\.cc:12".*\}\]\r?\n)")))
      << log;
  EXPECT_TRUE(std::regex_search(
      log, std::regex(R"(:INFO:telemetry\.cc\(\d+\)\] )"
                      R"(BlockReport result: false url is empty\r?\n)")))
      << log;
}

TEST(ApplicationContextTest, FtcSwitchKeepsOnlyKnownLevels) {
  struct Case {
    uint32_t value;
    int32_t stored;
  };
  const std::vector<Case> cases = {
      {0, 0}, {1, 1},           {2, 2},           {3, 0},
      {7, 0}, {0x80000000u, 0}, {0xFFFFFFFFu, 0},  // -1 from the host
  };
  ApplicationContext& context = ApplicationContext::Instance();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    context.SetFtcSwitch(c.value);
    EXPECT_EQ(context.GetFtcSwitch(), c.stored);
    EXPECT_EQ(context.GetCommonService()->GetFtcSwitch(), c.stored);
  }
}

TEST(ApplicationContextTest, MainTaskRunnerIsCreatedOnceAndRuns) {
  ApplicationContext& context = ApplicationContext::Instance();
  const std::string runner = context.GetMainTaskRunner();
  EXPECT_EQ(runner, "main_task_runner");
  EXPECT_EQ(context.GetMainTaskRunner(), runner);

  std::promise<void> ran;
  context.GetExecutor()->PostTask(runner, [&ran] { ran.set_value(); });
  ran.get_future().wait();
}

TEST(ApplicationContextTest, ConcurrentFirstCallsShareOneTelemetry) {
  ApplicationContext& context = ApplicationContext::Instance();
  InstallTelemetry();
  std::promise<void> go;
  const std::shared_future<void> started = go.get_future().share();
  std::vector<Telemetry*> seen(8);
  std::vector<std::thread> threads;
  for (Telemetry*& telemetry : seen) {
    threads.emplace_back([&context, &telemetry, started] {
      started.wait();
      telemetry = context.GetTelemetry();
    });
  }
  go.set_value();
  for (std::thread& thread : threads)
    thread.join();

  ASSERT_NE(seen[0], nullptr);
  EXPECT_EQ(seen, std::vector<Telemetry*>(8, seen[0]));
  // One instance serves every area.
  context.GetCommonService()->Update(R"({"area":"os"})");
  EXPECT_EQ(context.GetTelemetry(), seen[0]);
}

}  // namespace
}  // namespace tlv
