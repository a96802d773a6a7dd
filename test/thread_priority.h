#ifndef TEST_THREAD_PRIORITY_H_
#define TEST_THREAD_PRIORITY_H_

#include <sys/types.h>

#include <optional>
#include <ostream>
#include <vector>

namespace test {

// What Linux keeps per thread of the processor and the disk it gives the
// thread: the scheduling policy, the nice value and the I/O class.
struct ThreadPriority {
  int policy = 0;    // SCHED_OTHER, SCHED_IDLE, ...
  int nice = 0;      // counts under SCHED_OTHER and SCHED_BATCH only
  int io_class = 0;  // IOPRIO_CLASS_NONE (the class follows nice), ..._IDLE

  bool operator==(const ThreadPriority&) const = default;
};

std::ostream& operator<<(std::ostream& out, const ThreadPriority& priority);

// Of the thread tid of any process; nothing once the thread has ended.
std::optional<ThreadPriority> ReadThreadPriority(pid_t tid);

// The ids of the threads of process pid (its /proc/<pid>/task); empty once
// it has ended.
std::vector<pid_t> ThreadIds(pid_t pid);

}  // namespace test

#endif  // TEST_THREAD_PRIORITY_H_
