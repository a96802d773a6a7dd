#include "base/thread/task_token.h"

#include <thread>

namespace base {

std::weak_ptr<MemDummy> TaskToken::GetWeak() {
  std::lock_guard lock(mutex_);
  if (!dummy_ && !invalidated_)
    dummy_ = std::make_shared<MemDummy>();
  return dummy_;
}

void TaskToken::Invalidate() {
  std::weak_ptr<MemDummy> last;
  {
    std::lock_guard lock(mutex_);
    invalidated_ = true;
    last = dummy_;
    dummy_.reset();
  }
  // A task that locked the token before it was dropped is still using the
  // owner. Tasks are short (they queue an event), so waiting is brief.
  while (!last.expired())
    std::this_thread::yield();
}

}  // namespace base
