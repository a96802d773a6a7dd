#ifndef BASE_THREAD_TASK_RUNNERS_H_
#define BASE_THREAD_TASK_RUNNERS_H_

#include <mutex>
#include <string>

#include "base/thread/executor.h"

namespace base {

// The application context's executor, and the name of its main task runner.
class TaskRunners final {
 public:
  TaskRunners();
  TaskRunners(const TaskRunners&) = delete;
  TaskRunners& operator=(const TaskRunners&) = delete;
  ~TaskRunners();

  Executor* executor() { return &executor_; }

  // The name the main task runner was registered under. The first call
  // creates the runner; concurrent first calls create it once.
  std::string GetMainTaskRunner();

 private:
  // Held while the main runner is created, so the registry's lock is taken
  // inside this one, never the other way round.
  std::mutex mutex_;
  std::string main_task_runner_;  // Guarded by mutex_; empty until created.

  // Declared last so that its runners are joined before the rest goes.
  Executor executor_;
};

}  // namespace base

#endif  // BASE_THREAD_TASK_RUNNERS_H_
