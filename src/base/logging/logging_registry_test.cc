#include <regex>
#include <string>

#include "base/logging/logging.h"
#include "base/utils/file.h"
#include "base/utils/file_util.h"
#include "gtest/gtest.h"
#include "test/file_setup.h"
#include "test/scoped_temp_dir.h"

namespace base::logging {
namespace {

// The registry lives once per process, so its whole life is one test: before
// Init, the first Init, and a second Init.
TEST(LoggerRegistryTest, ConfiguresOnceFromTheFirstInit) {
  test::ScopedTempDir dir;
  const utils::Path log_path = utils::Path(dir.path()).Join("telvane.log");
  LoggerRegistry& registry = LoggerRegistry::Instance();
  int evaluated = 0;

  // Before Init: a logger without sinks drops everything.
  VariadicLogger* const fallback = registry.GetLogger();
  EXPECT_EQ(registry.GetLogger(), fallback);
  EXPECT_EQ(fallback->name(), "DEDaveziz");
  EXPECT_EQ(fallback->level(), kInfo);
  EXPECT_TRUE(fallback->sinks().empty());
  testing::internal::CaptureStdout();
  TLV_LOG(kFatal, "before init {}", ++evaluated);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(evaluated, 0);

  // The first Init: console and file get the same lines, and the file starts
  // empty even when an earlier run left lines in it.
  {
    utils::File earlier_run(log_path, utils::kWrite);
    ASSERT_TRUE(earlier_run.Write("old line\n", 9));
  }
  registry.Init(kWarn, kDestinationConsole | kDestinationFile, log_path);
  VariadicLogger* const logger = registry.GetLogger();
  EXPECT_NE(logger, fallback);
  EXPECT_EQ(logger->name(), "DEDaveziz");
  EXPECT_EQ(logger->level(), kWarn);
  EXPECT_EQ(utils::ReadFileToString(log_path), "");

  testing::internal::CaptureStdout();
  TLV_LOG(kInfo, "filtered {}", ++evaluated);
  const int line = __LINE__ + 1;
  TLV_LOG(kError, "written {}", ++evaluated);
  const std::string console = testing::internal::GetCapturedStdout();
  EXPECT_EQ(evaluated, 1);
  EXPECT_TRUE(std::regex_match(
      console, std::regex(R"(\[Telvane:\d+:\d+:\d{4}/\d{6}\.\d{3}:\d+:ERROR:)"
                          R"(logging_registry_test\.cc\()" +
                          std::to_string(line) + R"(\)\] written 1\n)")))
      << console;
  EXPECT_EQ(test::ReadTextFile(log_path), console);

  // A second Init changes nothing: not the logger, its level or its sinks.
  const utils::Path other_path = utils::Path(dir.path()).Join("other.log");
  registry.Init(kTrace, 0, other_path);
  EXPECT_EQ(registry.GetLogger(), logger);
  EXPECT_EQ(logger->level(), kWarn);
  EXPECT_EQ(logger->sinks().size(), 2u);
  EXPECT_FALSE(utils::PathExists(other_path));
}

}  // namespace
}  // namespace base::logging
