// The crash-report process: the host starts it after a crash, or at its
// next launch, with one argument, the Base64 text of the launch
// configuration. The host reads only the exit code:
//    0  the job ran (also when the watchdog ended the process)
//   -1  no argument, or the initialisation failed
//   -2  the common information is unusable
//   -3  start_mode is neither 1 nor 2

#include "crash_plugin/report_process/launch_configuration.h"
#include "crash_plugin/report_process/watchdog.h"

namespace {

constexpr int kExitNoArgumentOrInitFailed = -1;
constexpr int kExitBadStartMode = -3;

}  // namespace

int main(int argc, char* argv[]) {
  // First of all, so that a process hanging anywhere later still ends.
  tlv::StartWatchdog(tlv::kWatchdogPeriod);

  // Only the first argument counts; the host may pass more.
  if (argc < 2)
    return kExitNoArgumentOrInitFailed;
  tlv::LaunchConfiguration config = tlv::ParseLaunchConfiguration(argv[1]);

  // Logging is not set up yet, so a bad start mode ends the run silently.
  if (config.start_mode != 1 && config.start_mode != 2)
    return kExitBadStartMode;

  // A duration measured for the host's current run does not belong to dumps
  // found on disk from earlier runs.
  if (config.start_mode == 1)
    config.use_duration_millis.clear();

  return kExitNoArgumentOrInitFailed;
}
