#include "crash_plugin/report_process/watchdog.h"

#include <cstdio>
#include <cstdlib>
#include <thread>

namespace tlv {

void StartWatchdog(std::chrono::steady_clock::duration period) {
  const auto deadline = std::chrono::steady_clock::now() + period;
  std::thread([deadline] {
    // sleep_until may wake early; sleep again until the deadline has passed.
    while (std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_until(deadline);
    // The main thread may be anywhere (inside a request, writing an archive),
    // so exit handlers and static destructors must not run under its feet.
    // Every log line is already in its file; only the console's buffer is
    // still to be written.
    std::fflush(stdout);
    std::_Exit(0);
  }).detach();
}

}  // namespace tlv
