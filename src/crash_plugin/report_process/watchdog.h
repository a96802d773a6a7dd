#ifndef CRASH_PLUGIN_REPORT_PROCESS_WATCHDOG_H_
#define CRASH_PLUGIN_REPORT_PROCESS_WATCHDOG_H_

#include <chrono>

namespace tlv {

// The process lives at most two minutes, whatever it is waiting for.
inline constexpr std::chrono::minutes kWatchdogPeriod{2};

// Starts a detached thread that ends the whole process with exit code 0 once
// period has passed on the monotonic clock, so the host cannot tell a
// timed-out run from a finished one. If the process ends first, the sleeping
// thread ends with it. On Linux the thread keeps the priority of the thread
// that starts it, whatever that thread sets later: started before the
// process goes to the background, it fires on time beside a busy game.
void StartWatchdog(std::chrono::steady_clock::duration period);

}  // namespace tlv

#endif  // CRASH_PLUGIN_REPORT_PROCESS_WATCHDOG_H_
