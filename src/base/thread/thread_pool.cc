#include "base/thread/thread_pool.h"

#include <algorithm>
#include <thread>
#include <utility>

#include "base/utils/check.h"

namespace base::detail {

// One worker, owned by the pool alone. Destroying it joins the thread first,
// because destroying a thread that is still joinable ends the process.
struct ThreadPool::ThreadInfo final {
  ThreadInfo() = default;
  ThreadInfo(const ThreadInfo&) = delete;
  ThreadInfo& operator=(const ThreadInfo&) = delete;
  ~ThreadInfo() {
    if (thread.joinable()) {
      thread.join();
    }
  }

  std::thread thread;
};

ThreadPool::ThreadPool(std::string name, int32_t thread_count)
    : name_(std::move(name)), thread_count_(thread_count) {}

ThreadPool::~ThreadPool() {
  Stop();
}

bool ThreadPool::Start() {
  if (started_.exchange(true)) {
    return false;
  }
  for (int32_t i = 0; i < thread_count_; ++i) {
    // The entry is stored before its thread starts, so that if the thread is
    // refused, the workers already running are still joined by Stop.
    threads_.push_back(std::make_unique<ThreadInfo>());
    threads_.back()->thread = std::thread(&ThreadPool::WorkerLoop_, this);
  }
  return true;
}

void ThreadPool::Stop() {
  // A worker would wait here for itself.
  TLV_DCHECK(std::none_of(threads_.begin(), threads_.end(),
                          [](const std::unique_ptr<ThreadInfo>& info) {
                            return info->thread.get_id() ==
                                   std::this_thread::get_id();
                          }));
  if (started_.load()) {
    {
      // Set under the lock: a worker that has just found the queue empty
      // holds it until it waits, so it cannot miss the wake-up below.
      std::lock_guard<std::mutex> lock(mutex_);
      stop_.store(true);
    }
    wake_.notify_all();
    started_.store(false);
  }
  threads_.clear();
}

void ThreadPool::PostTask(Task task) {
  if (stop_.load() || !started_.load() || !task) {
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    tasks_.push_back(std::move(task));
  }
  wake_.notify_all();
}

void ThreadPool::WorkerLoop_() {
  for (;;) {
    Task task;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [this] { return stop_.load() || !tasks_.empty(); });
      // Tested before the queue: a stopped pool's workers leave even when
      // tasks are still queued.
      if (stop_.load()) {
        return;
      }
      task = std::move(tasks_.front());
      tasks_.pop_front();
    }
    task();
  }
}

}  // namespace base::detail
