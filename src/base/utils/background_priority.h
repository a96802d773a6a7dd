#ifndef BASE_UTILS_BACKGROUND_PRIORITY_H_
#define BASE_UTILS_BACKGROUND_PRIORITY_H_

#include <string>

namespace base::utils {

// What EnterBackgroundPriority set, for the process's log.
struct BackgroundPriority {
  // Everything asked for was set; false after a fallback or a refusal.
  bool complete = false;
  // What was set and, for each call that was refused, the call and the
  // system's reason: "scheduling policy SCHED_IDLE, I/O class idle".
  std::string description;
};

// Gives the processor and the disk to every other program first: the process
// runs beside a game that has just started, and must not make it stutter.
// Never fails outward: a refused call is named in the result, and the
// process goes on at the priority it has.
//
// Windows: background processing mode, for the whole process (low processor
// priority, very low I/O and memory priority), threads that already run and
// threads started later alike; where that is refused, the idle priority
// class.
// Linux: the scheduling policy SCHED_IDLE, or nice 19 where that is refused,
// and the idle I/O class. Linux keeps both per thread: they apply to the
// calling thread and pass to the threads it starts afterwards, never to
// threads that already run.
BackgroundPriority EnterBackgroundPriority();

}  // namespace base::utils

#endif  // BASE_UTILS_BACKGROUND_PRIORITY_H_
