#include "base/thread/task_token.h"

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "gtest/gtest.h"

namespace base {
namespace {

TEST(TaskTokenTest, ReferencesExpireWithTheOwner) {
  TaskToken token;
  const std::weak_ptr<MemDummy> first = token.GetWeak();
  EXPECT_FALSE(first.expired());
  EXPECT_EQ(token.GetWeak().lock(), first.lock());

  token.Invalidate();
  EXPECT_TRUE(first.expired());
  // A task posted while the owner is being destroyed does nothing either.
  EXPECT_TRUE(token.GetWeak().expired());
}

// The owner may go on one thread while its task runs on another: Invalidate
// returns only after the task has let go.
TEST(TaskTokenTest, InvalidateWaitsForARunningTask) {
  TaskToken token;
  std::promise<void> entered;
  std::atomic<bool> finished{false};
  std::thread task([&entered, &finished, weak = token.GetWeak()] {
    const std::shared_ptr<MemDummy> alive = weak.lock();
    ASSERT_TRUE(alive);
    entered.set_value();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    finished = true;
  });
  entered.get_future().wait();
  token.Invalidate();
  EXPECT_TRUE(finished);
  task.join();
}

}  // namespace
}  // namespace base
