#include "base/utils/background_priority.h"

#include <errno.h>
#include <linux/ioprio.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <string>
#include <system_error>

namespace base::utils {

namespace {

// Nice's lowest priority, where SCHED_IDLE is refused.
constexpr int kLowestNice = 19;

// "<call>: <the system's reason>" for the errno that the call left.
std::string Refusal(const char* call, int error) {
  return std::string(call) + ": " + std::generic_category().message(error);
}

}  // namespace

BackgroundPriority EnterBackgroundPriority() {
  BackgroundPriority result;
  result.complete = true;

  // SCHED_IDLE runs the thread only in what the other threads leave over.
  // Nice 19 alone still takes visible time from a frame loop, so it is only
  // the fallback. Neither needs a privilege to lower the priority.
  const sched_param param = {};  // SCHED_IDLE has the one static priority 0
  if (sched_setscheduler(0, SCHED_IDLE, &param) == 0) {
    result.description = "scheduling policy SCHED_IDLE";
  } else {
    result.complete = false;
    const std::string refused = Refusal("sched_setscheduler SCHED_IDLE", errno);
    if (setpriority(PRIO_PROCESS, 0, kLowestNice) == 0) {
      result.description = "nice 19 (" + refused + ")";
    } else {
      const int error = errno;
      result.description = "scheduling unchanged (" + refused + "; " +
                           Refusal("setpriority 19", error) + ")";
    }
  }

  // The idle I/O class is served only while no one else uses the disk. glibc
  // has no wrapper for the call. With who 0 it is the calling thread's.
  if (syscall(SYS_ioprio_set, IOPRIO_WHO_PROCESS, 0,
              IOPRIO_PRIO_VALUE(IOPRIO_CLASS_IDLE, 0)) == 0) {
    result.description += ", I/O class idle";
  } else {
    const int error = errno;
    result.complete = false;
    result.description += ", I/O class unchanged (" +
                          Refusal("ioprio_set IOPRIO_CLASS_IDLE", error) + ")";
  }
  return result;
}

}  // namespace base::utils
