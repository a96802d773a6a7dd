#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <future>
#include <string>

#include "base/utils/background_priority.h"
#include "gtest/gtest.h"

namespace base::utils {
namespace {

// ERROR_THREAD_MODE_ALREADY_BACKGROUND, which MinGW-w64's winerror.h lacks.
constexpr DWORD kThreadModeAlreadyBackground = 400;

// What is wrong unless the calling thread is in background processing mode:
// only the thread itself can ask, by entering the mode again, which fails
// for a thread in it. Asking puts a thread that is not in it there, which
// the check's own process can afford.
std::string CheckThreadInBackgroundMode(const char* thread) {
  if (SetThreadPriority(GetCurrentThread(), THREAD_MODE_BACKGROUND_BEGIN))
    return std::string(thread) + " thread was not in background mode\n";
  const DWORD error = GetLastError();
  if (error != kThreadModeAlreadyBackground) {
    return std::string(thread) + " thread: THREAD_MODE_BACKGROUND_BEGIN " +
           std::to_string(error) + "\n";
  }
  return "";
}

// Enters the background beside a thread started before, as the watchdog's
// is, and one started after, and checks the process and the three threads
// as the result says it left them. Writes what it found wrong to stderr and
// exits with 0 only when it found nothing.
[[noreturn]] void CheckBackgroundAndExit() {
  // Told once the call is made whether to check itself.
  std::promise<bool> check_earlier;
  std::future<std::string> earlier = std::async(
      std::launch::async, [check = check_earlier.get_future()]() mutable {
        return check.get() ? CheckThreadInBackgroundMode("earlier")
                           : std::string();
      });
  const BackgroundPriority result = EnterBackgroundPriority();

  std::string wrong;
  if (result.description == "background processing mode") {
    // The mode belongs to the process and to each of its threads.
    check_earlier.set_value(true);
    if (!result.complete)
      wrong += "background mode reported incomplete\n";
    if (SetPriorityClass(GetCurrentProcess(), PROCESS_MODE_BACKGROUND_BEGIN))
      wrong += "the process was not in background mode\n";
    wrong += CheckThreadInBackgroundMode("calling");
    wrong += std::async(std::launch::async, [] {
               return CheckThreadInBackgroundMode("later");
             }).get();
  } else {
    // Wine refuses background mode. The idle class is the process's.
    check_earlier.set_value(false);
    if (!result.description.starts_with("idle priority class ("))
      wrong += "unexpected result: " + result.description + "\n";
    if (result.complete)
      wrong += "the fallback reported complete\n";
    if (GetPriorityClass(GetCurrentProcess()) != IDLE_PRIORITY_CLASS)
      wrong += "the process is not in the idle priority class\n";
  }
  wrong += earlier.get();
  std::fputs(wrong.c_str(), stderr);
  std::fflush(stderr);
  std::_Exit(wrong.empty() ? 0 : 1);
}

// The mode or class is the whole process's, so the check runs in a child
// process of its own, as a death test does.
TEST(BackgroundPriorityDeathTest, ProcessAndEveryThreadGoToTheBackground) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(CheckBackgroundAndExit(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace base::utils
