// The priority of the real crashreport executable's threads while it sends
// a report beside the game: every thread in the background, but the
// watchdog's.

#include <linux/ioprio.h>
#include <sched.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "crash_plugin/report_process/crash_report_job_fixture.h"
#include "gtest/gtest.h"
#include "test/http_server.h"
#include "test/process.h"
#include "test/thread_priority.h"

namespace {

// Threads at the host's priority besides the watchdog's: ThreadSanitizer's
// runtime starts one of its own before main, in the executable under test as
// in this one.
#if defined(__SANITIZE_THREAD__)
constexpr int kRuntimeThreads = 1;
#else
constexpr int kRuntimeThreads = 0;
#endif

// Plays the data-upload service that takes an upload's headers and then
// reads no more of it: the process stays in the middle of sending the body,
// with every thread that it starts for a report. Telemetry is answered at
// once.
class StallingService final {
 public:
  StallingService() {
    server_.server().Post(".*", [this](const httplib::Request& request,
                                       httplib::Response& response,
                                       const httplib::ContentReader& content) {
      if (request.path != "/apm/dataUpload") {
        content([](const char*, size_t) { return true; });
        response.set_content(R"({"retcode":0})", "application/json");
        return;
      }
      std::unique_lock lock(mutex_);
      upload_begun_ = true;
      changed_.notify_all();
      changed_.wait(lock, [this] { return stopping_; });
    });
  }
  StallingService(const StallingService&) = delete;
  StallingService& operator=(const StallingService&) = delete;
  // Lets a stalled upload go, so that the server can stop.
  ~StallingService() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    changed_.notify_all();
  }

  bool Start(int port) { return server_.Start(port); }

  bool WaitForUpload(std::chrono::seconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [this] { return upload_begun_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool upload_begun_ = false;
  bool stopping_ = false;
  // Last: stops before what its route uses is gone.
  test::HttpServer server_;
};

class CrashProcessPriorityTest : public test::CrashReportJobFixture {};

// Stalled in the middle of an upload, the process runs its main thread, the
// task runner's and the thread that reads the body for the transport: each
// in the background, with the idle scheduling policy and the idle I/O
// class. The watchdog's thread, started before the process went to the
// background, keeps the priority the host started it with, and fires on
// time however busy the game keeps the machine. Under Wine the threads are
// Wine's, which maps no Windows priority onto Linux's (they stay at nice 0):
// there the test checks what the Windows build logged it did.
TEST_F(CrashProcessPriorityTest,
       EveryThreadButTheWatchdogsRunsInTheBackground) {
  StallingService service;
  ASSERT_TRUE(service.Start(LOOPBACK_PORT));
  AddFile("crash.dmp", test::Pattern(16 << 20));
  const test::Command command = test::CrashReportCommand(
      CRASHREPORT_EXE, {Argument(R"("start_mode":2,"dmp_path":")" +
                                 Json(dumps_dir()) + R"(/crash.dmp")")});
  test::ChildProcess process(command.program, command.arguments);
  ASSERT_TRUE(service.WaitForUpload(std::chrono::seconds(60)));

  // Logged at start-up, long before the upload.
  const std::regex kLine(
      test::CrashReportUnderWine()
          ? R"(INFO crash_process_main\.cc: Background priority: background processing mode|)"
            R"(WARN crash_process_main\.cc: Background priority: idle priority class )"
            R"(\(SetPriorityClass PROCESS_MODE_BACKGROUND_BEGIN: error 0x[0-9a-f]+\))"
          : R"(INFO crash_process_main\.cc: Background priority: )"
            R"(scheduling policy SCHED_IDLE, I/O class idle)");
  std::vector<std::string> lines;
  for (const std::string& line : ProcessLog()) {
    if (line.find("Background priority") != std::string::npos)
      lines.push_back(line);
  }
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(std::regex_match(lines[0], kLine)) << lines[0];

  if (!test::CrashReportUnderWine()) {
    const pid_t pid = process.pid();
    // The test runs at the host's priority, which the process started with.
    const test::ThreadPriority host = *test::ReadThreadPriority(gettid());
    const test::ThreadPriority background = {SCHED_IDLE, host.nice,
                                             IOPRIO_CLASS_IDLE};
    std::vector<std::pair<pid_t, test::ThreadPriority>> threads;
    for (const pid_t tid : test::ThreadIds(pid)) {
      if (const auto priority = test::ReadThreadPriority(tid))
        threads.emplace_back(tid, *priority);
    }
    int at_the_hosts = 0;
    for (const auto& [tid, priority] : threads) {
      SCOPED_TRACE(tid == pid ? "main thread"
                              : "thread " + std::to_string(tid));
      if (priority == host && tid != pid) {
        ++at_the_hosts;  // the watchdog's
      } else {
        EXPECT_EQ(priority, background);
      }
    }
    EXPECT_EQ(at_the_hosts, 1 + kRuntimeThreads)
        << "the watchdog's thread, and no other of the process's own";
    // The main thread, the watchdog's, the task runner's and the reading
    // thread of the upload at least.
    EXPECT_GE(threads.size(), 4u);
  }

  process.Kill(SIGKILL);
  process.Wait();
}

}  // namespace
