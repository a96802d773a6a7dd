#include "base/thread/thread_pool.h"

#include <atomic>
#include <future>
#include <memory>
#include <thread>
#include <vector>

#include "gtest/gtest.h"

namespace base::detail {
namespace {

// Whether pool discards what it is given right now. A discarded task is
// destroyed inside PostTask, so the reference it captured is gone when
// PostTask returns; a queued one still holds it.
bool Discards(ThreadPool& pool) {
  auto witness = std::make_shared<int>(0);
  pool.PostTask([witness] {});
  return witness.use_count() == 1;
}

// Posts a task that signals when it runs and waits for it.
void RunOnPool(ThreadPool& pool) {
  std::promise<void> ran;
  pool.PostTask([&ran] { ran.set_value(); });
  ran.get_future().wait();
}

TEST(ThreadPoolTest, RunsTasksInPostingOrderOnOneThread) {
  ThreadPool pool("order", 1);
  ASSERT_TRUE(pool.Start());

  // Written only by the worker; read after RunOnPool has seen it finish.
  std::vector<int> order;
  std::vector<std::thread::id> threads;
  constexpr int kTasks = 100;
  for (int i = 0; i < kTasks; ++i) {
    pool.PostTask([i, &order, &threads] {
      order.push_back(i);
      threads.push_back(std::this_thread::get_id());
    });
  }
  RunOnPool(pool);

  ASSERT_EQ(order.size(), static_cast<size_t>(kTasks));
  for (int i = 0; i < kTasks; ++i) {
    EXPECT_EQ(order[i], i);
    EXPECT_EQ(threads[i], threads[0]);
  }
  EXPECT_NE(threads[0], std::this_thread::get_id());
}

TEST(ThreadPoolTest, StopFinishesRunningTaskAndDropsQueuedOnes) {
  ThreadPool pool("stop", 1);
  ASSERT_TRUE(pool.Start());

  std::promise<void> running;
  std::promise<void> release;
  std::future<void> released = release.get_future();
  bool running_task_finished = false;
  pool.PostTask([&] {
    running.set_value();
    released.wait();
    running_task_finished = true;
  });
  std::atomic<int> queued_runs{0};
  for (int i = 0; i < 3; ++i) {
    pool.PostTask([&queued_runs] { ++queued_runs; });
  }
  running.get_future().wait();

  std::thread stopper([&pool] { pool.Stop(); });
  // The running task may return only once Stop has set its flag, which shows
  // in posts being discarded; otherwise the worker could take a queued task
  // before it sees the flag.
  while (!Discards(pool)) {
    std::this_thread::yield();
  }
  release.set_value();
  stopper.join();

  EXPECT_TRUE(running_task_finished);
  EXPECT_EQ(queued_runs.load(), 0);
}

TEST(ThreadPoolTest, DiscardsTasksUnlessRunning) {
  struct Case {
    const char* state;
    void (*prepare)(ThreadPool&);
  };
  const std::vector<Case> cases = {
      {"never started", [](ThreadPool&) {}},
      {"stopped",
       [](ThreadPool& pool) {
         pool.Start();
         pool.Stop();
       }},
      {"started again after a stop",
       [](ThreadPool& pool) {
         pool.Start();
         pool.Stop();
         pool.Start();
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.state);
    ThreadPool pool("discard", 1);
    c.prepare(pool);
    EXPECT_TRUE(Discards(pool));
  }
}

TEST(ThreadPoolTest, EmptyTaskIsDiscarded) {
  ThreadPool pool("empty", 1);
  ASSERT_TRUE(pool.Start());
  // Running an empty task on the worker would end the process.
  pool.PostTask(ThreadPool::Task());
  RunOnPool(pool);
}

TEST(ThreadPoolTest, StartsOnce) {
  ThreadPool pool("twice", 1);
  EXPECT_TRUE(pool.Start());
  EXPECT_FALSE(pool.Start());
  RunOnPool(pool);
}

}  // namespace
}  // namespace base::detail
