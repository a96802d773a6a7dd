#include <errno.h>
#include <linux/filter.h>
#include <linux/ioprio.h>
#include <linux/seccomp.h>
#include <sched.h>
#include <stddef.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/utils/background_priority.h"
#include "gtest/gtest.h"
#include "test/thread_priority.h"

namespace base::utils {
namespace {

using test::ReadThreadPriority;
using test::ThreadPriority;

// Makes the kernel refuse the given system calls with EPERM, as a locked-down
// system would, to the calling thread and the threads it starts from now on;
// the test's other threads go on as before. False when the kernel takes no
// filter.
bool RefuseSystemCalls(const std::vector<int>& calls) {
  std::vector<sock_filter> filter = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr))};
  for (const int call : calls) {
    filter.push_back(
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<uint32_t>(call), 0, 1));
    filter.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EPERM));
  }
  filter.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
  const sock_fprog program = {static_cast<unsigned short>(filter.size()),
                              filter.data()};
  // Without privileges a filter needs no_new_privs, which also stays with
  // the thread.
  return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
         prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

// A thread that waits until it is destroyed, so that its priority can be
// read from outside.
class WaitingThread final {
 public:
  WaitingThread() : thread_([this] { Run_(); }) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return tid_ != 0; });
  }
  WaitingThread(const WaitingThread&) = delete;
  WaitingThread& operator=(const WaitingThread&) = delete;
  ~WaitingThread() {
    {
      std::lock_guard lock(mutex_);
      done_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }

  pid_t tid() const { return tid_; }

 private:
  void Run_() {
    std::unique_lock lock(mutex_);
    tid_ = gettid();
    changed_.notify_all();
    changed_.wait(lock, [this] { return done_; });
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  pid_t tid_ = 0;
  bool done_ = false;
  std::thread thread_;  // last: starts once the members it uses exist
};

// What one call did, and the priorities it left.
struct Observed {
  BackgroundPriority result;
  std::optional<ThreadPriority> caller;
  std::optional<ThreadPriority> earlier;  // a thread started before the call
  std::optional<ThreadPriority> later;    // and one the caller started after
  bool filter_taken = true;               // the refusals could be set up
};

// Enters the background on a thread of its own, with the given system calls
// refused, so that the test's own threads keep their priority.
Observed EnterOnAThreadOfItsOwn(const std::vector<int>& refused_calls) {
  Observed observed;
  std::thread([&] {
    const WaitingThread earlier;
    if (!refused_calls.empty() && !RefuseSystemCalls(refused_calls)) {
      observed.filter_taken = false;
      return;
    }
    observed.result = EnterBackgroundPriority();
    const WaitingThread later;
    observed.caller = ReadThreadPriority(gettid());
    observed.earlier = ReadThreadPriority(earlier.tid());
    observed.later = ReadThreadPriority(later.tid());
  }).join();
  return observed;
}

// The calling thread takes the background priority, or its fallback where
// the system refuses it, and passes it to the threads it starts afterwards;
// a thread already running (the watchdog's, in the process) keeps its own.
// A refusal is named in the result and stops nothing.
TEST(BackgroundPriorityTest, CallerAndItsLaterThreadsGoToTheBackground) {
  const std::optional<ThreadPriority> before = ReadThreadPriority(gettid());
  ASSERT_TRUE(before);
  ASSERT_EQ(before->policy, SCHED_OTHER) << "the test must start unchanged";
  const ThreadPriority idle = {SCHED_IDLE, before->nice, IOPRIO_CLASS_IDLE};
  const ThreadPriority nice_19 = {SCHED_OTHER, 19, IOPRIO_CLASS_IDLE};
  const ThreadPriority idle_cpu_only = {SCHED_IDLE, before->nice,
                                        before->io_class};
  const std::string refused = ": Operation not permitted";

  struct Case {
    const char* name;
    std::vector<int> refused_calls;
    ThreadPriority expected;
    bool complete;
    std::string description;
  };
  const std::vector<Case> cases = {
      {"nothing refused",
       {},
       idle,
       true,
       "scheduling policy SCHED_IDLE, I/O class idle"},
      {"SCHED_IDLE refused",
       {SYS_sched_setscheduler},
       nice_19,
       false,
       "nice 19 (sched_setscheduler SCHED_IDLE" + refused +
           "), I/O class idle"},
      {"the idle I/O class refused",
       {SYS_ioprio_set},
       idle_cpu_only,
       false,
       "scheduling policy SCHED_IDLE, I/O class unchanged "
       "(ioprio_set IOPRIO_CLASS_IDLE" +
           refused + ")"},
      {"every change refused",
       {SYS_sched_setscheduler, SYS_setpriority, SYS_ioprio_set},
       *before,
       false,
       "scheduling unchanged (sched_setscheduler SCHED_IDLE" + refused +
           "; setpriority 19" + refused +
           "), I/O class unchanged (ioprio_set IOPRIO_CLASS_IDLE" + refused +
           ")"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Observed observed = EnterOnAThreadOfItsOwn(c.refused_calls);
    if (!observed.filter_taken)
      GTEST_SKIP() << "the kernel takes no seccomp filter";
    EXPECT_EQ(observed.result.complete, c.complete);
    EXPECT_EQ(observed.result.description, c.description);
    EXPECT_EQ(observed.caller, c.expected);
    EXPECT_EQ(observed.later, c.expected);
    EXPECT_EQ(observed.earlier, *before);
  }
  EXPECT_EQ(ReadThreadPriority(gettid()), *before);
}

}  // namespace
}  // namespace base::utils
