#include "base/utils/background_priority.h"

#include <windows.h>

#include <string>

#include "base/utils/string_util.h"

namespace base::utils {

namespace {

// "<call>: error 0x<code>" for the thread's last error.
std::string Refusal(const char* call) {
  const DWORD error = GetLastError();
  return StringPrintf("%s: error 0x%lx", call,
                      static_cast<unsigned long>(error));
}

}  // namespace

BackgroundPriority EnterBackgroundPriority() {
  // Background processing mode lowers the I/O and memory priority besides
  // the processor's: an idle priority class alone still lets the process
  // crowd the game off the disk. It covers every thread of the process, and
  // Windows starves none of them: a thread that has waited a few seconds
  // for the processor is raised for a moment, so the watchdog still fires.
  if (SetPriorityClass(GetCurrentProcess(), PROCESS_MODE_BACKGROUND_BEGIN))
    return {true, "background processing mode"};
  const std::string refused =
      Refusal("SetPriorityClass PROCESS_MODE_BACKGROUND_BEGIN");
  if (SetPriorityClass(GetCurrentProcess(), IDLE_PRIORITY_CLASS))
    return {false, "idle priority class (" + refused + ")"};
  return {false, "priority unchanged (" + refused + "; " +
                     Refusal("SetPriorityClass IDLE_PRIORITY_CLASS") + ")"};
}

}  // namespace base::utils
