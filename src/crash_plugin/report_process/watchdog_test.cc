#include "crash_plugin/report_process/watchdog.h"

#include <thread>

#include "gtest/gtest.h"

namespace tlv {
namespace {

// The watchdog must end the process with code 0 while the main thread is
// still busy, as it would be inside a request that never returns.
TEST(WatchdogDeathTest, EndsABusyProcessWithCodeZero) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        StartWatchdog(std::chrono::milliseconds(50));
        for (;;)
          std::this_thread::sleep_for(std::chrono::seconds(1));
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(WatchdogTest, ProcessThatEndsFirstIsNotDisturbed) {
  // A far deadline: the test process ends first, and its exit status is
  // the test runner's own.
  StartWatchdog(std::chrono::hours(1));
  SUCCEED();
}

}  // namespace
}  // namespace tlv
