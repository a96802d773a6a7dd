#include "test/thread_priority.h"

#include <errno.h>
#include <linux/ioprio.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <system_error>

namespace test {

std::ostream& operator<<(std::ostream& out, const ThreadPriority& priority) {
  const char* const policies[] = {"SCHED_OTHER", "SCHED_FIFO", "SCHED_RR",
                                  "SCHED_BATCH", "4",          "SCHED_IDLE"};
  const char* const io_classes[] = {"none", "realtime", "best-effort", "idle"};
  if (priority.policy >= 0 && priority.policy <= SCHED_IDLE)
    out << policies[priority.policy];
  else
    out << "policy " << priority.policy;
  out << ", nice " << priority.nice << ", I/O class ";
  if (priority.io_class >= IOPRIO_CLASS_NONE &&
      priority.io_class <= IOPRIO_CLASS_IDLE)
    return out << io_classes[priority.io_class];
  return out << priority.io_class;
}

std::optional<ThreadPriority> ReadThreadPriority(pid_t tid) {
  // Each call takes a thread id where it asks for a process id.
  ThreadPriority priority;
  priority.policy = sched_getscheduler(tid);
  if (priority.policy < 0)
    return std::nullopt;
  // -1 is a nice value as well as the failure.
  errno = 0;
  priority.nice = getpriority(PRIO_PROCESS, static_cast<id_t>(tid));
  if (errno != 0)
    return std::nullopt;
  const long io = syscall(SYS_ioprio_get, IOPRIO_WHO_PROCESS, tid);
  if (io < 0)
    return std::nullopt;
  priority.io_class = static_cast<int>(IOPRIO_PRIO_CLASS(io));
  return priority;
}

std::vector<pid_t> ThreadIds(pid_t pid) {
  std::vector<pid_t> tids;
  // A process that ends while it is listed ends the listing, without an
  // exception.
  std::error_code error;
  for (std::filesystem::directory_iterator it(
           "/proc/" + std::to_string(pid) + "/task", error);
       !error && it != std::filesystem::directory_iterator();
       it.increment(error)) {
    tids.push_back(static_cast<pid_t>(std::stoi(it->path().filename())));
  }
  return tids;
}

}  // namespace test
