#include "base/thread/task_runners.h"

namespace base {

namespace {

constexpr char kMainTaskRunnerName[] = "main_task_runner";

}  // namespace

TaskRunners::TaskRunners() = default;

TaskRunners::~TaskRunners() = default;

std::string TaskRunners::GetMainTaskRunner() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (main_task_runner_.empty()) {
    main_task_runner_ = executor_.CreateTaskRunner(kMainTaskRunnerName);
  }
  return main_task_runner_;
}

}  // namespace base
