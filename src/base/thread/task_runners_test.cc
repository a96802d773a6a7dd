#include "base/thread/task_runners.h"

#include <future>
#include <latch>
#include <string>
#include <thread>
#include <vector>

#include "gtest/gtest.h"

namespace base {
namespace {

TEST(TaskRunnersTest, ConcurrentFirstCallsCreateOneMainRunner) {
  TaskRunners runners;
  // Creating the main runner twice would use up a generated name, so the
  // numbers before and after the race must be consecutive.
  const std::string before = runners.executor()->CreateTaskRunner("");

  constexpr int kThreads = 8;
  std::latch start(kThreads);
  std::vector<std::string> names(kThreads);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&start, &runners, &names, i] {
      start.arrive_and_wait();
      names[i] = runners.GetMainTaskRunner();
    });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }

  for (const std::string& name : names) {
    EXPECT_EQ(name, "main_task_runner");
  }
  EXPECT_EQ(runners.executor()->CreateTaskRunner(""),
            std::to_string(std::stoull(before) + 1));
}

TEST(TaskRunnersTest, MainRunnerRunsPostedTasks) {
  TaskRunners runners;
  std::promise<std::thread::id> ran;
  runners.executor()->PostTask(runners.GetMainTaskRunner(), [&ran] {
    ran.set_value(std::this_thread::get_id());
  });
  EXPECT_NE(ran.get_future().get(), std::this_thread::get_id());
}

}  // namespace
}  // namespace base
