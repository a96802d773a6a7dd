#ifndef BASE_THREAD_THREAD_POOL_H_
#define BASE_THREAD_THREAD_POOL_H_

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace base::detail {

// A first-in-first-out task queue served by thread_count worker threads.
// With one thread, tasks run one at a time in the order they were posted.
//
// PostTask may be called from any thread. Start and Stop belong to the
// pool's owner and are not called concurrently with each other; a pool must
// not be stopped or destroyed from one of its own tasks, because joining the
// current thread fails with the standard library's resource-deadlock error.
// A task must not let an exception escape: nothing catches it on the worker,
// so it ends the process.
class ThreadPool final {
 public:
  using Task = std::function<void()>;

  ThreadPool(std::string name, int32_t thread_count);
  ThreadPool(const ThreadPool&) = delete;
  ThreadPool& operator=(const ThreadPool&) = delete;
  // Does what Stop does; tasks still queued are destroyed without being run.
  ~ThreadPool();

  // Creates the workers. False if the pool is already started. A pool that
  // was stopped stays stopped: its new workers leave at once. The standard
  // library's error for a refused thread propagates.
  bool Start();
  // Returns after every worker has finished its current task and left its
  // loop. Tasks still queued are not run.
  void Stop();
  // Queues task. Discarded (destroyed here, without a log) when the pool is
  // stopped or not started, and when task is empty.
  void PostTask(Task task);

  const std::string& name() const { return name_; }

 private:
  struct ThreadInfo;

  void WorkerLoop_();

  // Touched only by Start and Stop.
  std::vector<std::unique_ptr<ThreadInfo>> threads_;

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Task> tasks_;  // Guarded by mutex_.

  const std::string name_;
  const int32_t thread_count_;
  // Read by PostTask without the lock. stop_ is set once and never cleared;
  // started_ is set by Start and cleared by Stop.
  std::atomic<bool> stop_{false};
  std::atomic<bool> started_{false};
};

}  // namespace base::detail

#endif  // BASE_THREAD_THREAD_POOL_H_
