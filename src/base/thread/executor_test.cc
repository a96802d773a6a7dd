#include "base/thread/executor.h"

#include <charconv>
#include <cstdint>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "gtest/gtest.h"

namespace base {
namespace {

// The generated-name counter is shared by the whole process, so names are
// checked against the first one this test gets rather than against "1".
TEST(ExecutorTest, CreateTaskRunnerNames) {
  Executor executor;
  const std::string first = executor.CreateTaskRunner("");
  uint64_t base = 0;
  const auto [end, error] =
      std::from_chars(first.data(), first.data() + first.size(), base);
  ASSERT_EQ(error, std::errc()) << first;
  ASSERT_EQ(end, first.data() + first.size()) << first;
  auto number = [base](uint64_t offset) {
    return std::to_string(base + offset);
  };

  struct Step {
    std::string requested;
    std::string expected;
  };
  const std::vector<Step> steps = {
      {"", number(1)},         // Empty: the next number.
      {"audio", "audio"},      // Free: kept.
      {"audio", number(2)},    // Taken: the next number.
      {number(3), number(3)},  // A number taken by name...
      {"", number(4)},         // ...is skipped by the generator.
      {"audio", number(5)},    // Still taken after a generated name.
  };
  for (const Step& step : steps) {
    SCOPED_TRACE("requested \"" + step.requested + "\"");
    EXPECT_EQ(executor.CreateTaskRunner(step.requested), step.expected);
  }
}

TEST(ExecutorTest, PostTaskRunsOnTheNamedRunner) {
  Executor executor;
  const std::vector<std::string> names = {executor.CreateTaskRunner("a"),
                                          executor.CreateTaskRunner("b")};
  std::vector<std::thread::id> threads;
  for (const std::string& name : names) {
    std::promise<std::thread::id> ran;
    executor.PostTask(name,
                      [&ran] { ran.set_value(std::this_thread::get_id()); });
    threads.push_back(ran.get_future().get());
  }
  EXPECT_NE(threads[0], threads[1]);
  EXPECT_NE(threads[0], std::this_thread::get_id());
  EXPECT_NE(threads[1], std::this_thread::get_id());
}

TEST(ExecutorTest, PostTaskToUnknownRunnerIsDiscarded) {
  Executor executor;
  executor.CreateTaskRunner("known");
  // A discarded task is destroyed at once, releasing what it captured.
  auto witness = std::make_shared<int>(0);
  executor.PostTask("unknown", [witness] {});
  EXPECT_EQ(witness.use_count(), 1);
}

}  // namespace
}  // namespace base
