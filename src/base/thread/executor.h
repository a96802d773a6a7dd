#ifndef BASE_THREAD_EXECUTOR_H_
#define BASE_THREAD_EXECUTOR_H_

#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "base/thread/thread_pool.h"

namespace base {

// The home of delayed work: its pool would serve tasks once their time has
// come. Nothing in this process schedules delayed work, so the pool is built
// and never started and no timer thread exists. The executor destroys the
// timer after its runners, because runner tasks are where delayed work would
// be scheduled from.
class ExecutorTimer final {
 private:
  detail::ThreadPool pool_{"ExecutorTimer", 1};
};

// Named task runners. A runner is a one-thread pool known only by its name:
// code keeps the name CreateTaskRunner returned and posts by it. Runners are
// never removed one by one; they live until the executor is destroyed.
class Executor final {
 public:
  Executor();
  Executor(const Executor&) = delete;
  Executor& operator=(const Executor&) = delete;
  // Stops and joins every runner, then destroys the timer. Tasks still queued
  // are not run. Must not run on a runner's own thread.
  ~Executor();

  // Creates and starts a one-thread runner and returns the name it was
  // registered under: name itself when it is not empty and still free,
  // otherwise the next free decimal number from a process-wide counter
  // ("1", "2", ...). The standard library's error for a refused thread
  // propagates.
  std::string CreateTaskRunner(const std::string& name);

  // Hands task to the runner registered under runner_name; discarded when
  // there is none.
  void PostTask(const std::string& runner_name, detail::ThreadPool::Task task);

 private:
  using Registry =
      std::unordered_map<std::string, std::unique_ptr<detail::ThreadPool>>;

  // Declared before the registry so that it is destroyed after it.
  ExecutorTimer timer_;

  // Never held together with a pool's own lock, nor while a runner is joined.
  std::mutex registry_mutex_;
  Registry registry_;  // Guarded by registry_mutex_.
};

}  // namespace base

#endif  // BASE_THREAD_EXECUTOR_H_
