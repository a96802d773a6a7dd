#include "base/thread/executor.h"

#include <atomic>
#include <cstdint>
#include <utility>

namespace base {

namespace {

// The last generated runner name, shared by every executor so that a number
// is never handed out twice in one process. It is only touched under a
// registry lock; it is atomic because two executors hold different locks.
std::atomic<uint64_t> g_last_generated_name{0};

}  // namespace

Executor::Executor() = default;

Executor::~Executor() {
  // A task still running may post by name while the runners are taken down.
  // Taken out of the registry first, they are no longer found; a runner
  // looked up just before stays alive until every runner is stopped and no
  // task runs any more, and a stopped runner discards what it is given.
  Registry runners;
  {
    std::lock_guard<std::mutex> lock(registry_mutex_);
    runners.swap(registry_);
  }
  for (auto& [name, pool] : runners) {
    pool->Stop();
  }
}

std::string Executor::CreateTaskRunner(const std::string& name) {
  std::lock_guard<std::mutex> lock(registry_mutex_);
  std::string candidate = name;
  while (candidate.empty() || registry_.contains(candidate)) {
    candidate = std::to_string(++g_last_generated_name);
  }
  auto pool = std::make_unique<detail::ThreadPool>(candidate, 1);
  // Started before it is registered, so that no name ever refers to a runner
  // whose thread was refused.
  pool->Start();
  registry_.emplace(candidate, std::move(pool));
  return candidate;
}

void Executor::PostTask(const std::string& runner_name,
                        detail::ThreadPool::Task task) {
  detail::ThreadPool* pool = nullptr;
  {
    std::lock_guard<std::mutex> lock(registry_mutex_);
    auto it = registry_.find(runner_name);
    if (it != registry_.end()) {
      pool = it->second.get();
    }
  }
  // Valid without the lock: runners leave the registry only when the
  // executor is destroyed.
  if (pool) {
    pool->PostTask(std::move(task));
  }
}

}  // namespace base
