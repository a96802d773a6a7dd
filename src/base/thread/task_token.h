#ifndef BASE_THREAD_TASK_TOKEN_H_
#define BASE_THREAD_TASK_TOKEN_H_

#include <memory>
#include <mutex>

namespace base {

// An empty object whose life stands for its owner's: tasks hold it weakly.
struct MemDummy {};

// Lets a task that an object posts find out, when it runs, whether the
// object still exists:
//
//   runner.PostTask([this, token = token_.GetWeak()] {
//     if (const std::shared_ptr<MemDummy> alive = token.lock())
//       DoWork_();
//   });
//
// The task keeps `alive` for as long as it uses the object, and Invalidate
// waits for such a task to finish, so an object can be destroyed on one
// thread while its task runs on another. Invalidate must therefore not run
// inside one of the owner's own tasks.
class TaskToken final {
 public:
  TaskToken() = default;
  TaskToken(const TaskToken&) = delete;
  TaskToken& operator=(const TaskToken&) = delete;
  ~TaskToken() { Invalidate(); }

  // The weak reference for a task; the shared object is made on first use.
  // Once invalidated, the reference is expired from the start.
  std::weak_ptr<MemDummy> GetWeak();

  // Expires every reference handed out and returns once no task uses its
  // owner any more. Declare the token as the owner's last member, so that it
  // goes first, or call this at the start of the owner's destructor.
  void Invalidate();

 private:
  std::mutex mutex_;
  std::shared_ptr<MemDummy> dummy_;  // Guarded by mutex_.
  bool invalidated_ = false;         // Guarded by mutex_.
};

}  // namespace base

#endif  // BASE_THREAD_TASK_TOKEN_H_
