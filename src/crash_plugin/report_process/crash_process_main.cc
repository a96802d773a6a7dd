// The crash-report process: the host starts it after a crash, or at its
// next launch, with one argument, the Base64 text of the launch
// configuration. The host reads only the exit code:
//    0  the job ran (also when the watchdog ended the process)
//   -1  no argument, or the initialisation failed
//   -2  the common information is unusable
//   -3  start_mode is neither 1 nor 2

#include "base/logging/logging.h"
#include "base/utils/background_priority.h"
#include "common/common_service.h"
#include "crash_plugin/report_process/crash_report.h"
#include "crash_plugin/report_process/launch_configuration.h"
#include "crash_plugin/report_process/watchdog.h"
#include "environment/application_context.h"
#include "telemetry/telemetry.h"
#include "telemetry/telemetry_area_plugin.h"
#include "timer/timer_service.h"

namespace {

constexpr int kExitDone = 0;
constexpr int kExitNoArgumentOrInitFailed = -1;
constexpr int kExitInvalidCommonInfo = -2;
constexpr int kExitBadStartMode = -3;

// The process's name: its work directory is work_dir/crashreport.
constexpr char kProcessName[] = "crashreport";

}  // namespace

int main(int argc, char* argv[]) {
  // First of all, so that a process hanging anywhere later still ends.
  tlv::StartWatchdog(tlv::kWatchdogPeriod);
  // The host starts the process beside the game, which must not stutter for
  // it: before any dump is read, and before any thread but the watchdog's is
  // started, since on Linux the priority passes only to threads started
  // afterwards. The watchdog's thread keeps the host's priority there, so
  // that it fires on time however busy the game keeps the machine.
  const base::utils::BackgroundPriority priority =
      base::utils::EnterBackgroundPriority();

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

  tlv::ApplicationContext& context = tlv::ApplicationContext::Instance();
  // The context reaches the telemetry only through what is installed here.
  tlv::InstallTelemetry();
  if (!context.Init(config.work_dir, config.log_level, config.log_dest,
                    kProcessName)) {
    // Logging starts only with a successful Init, so this line has no
    // destination unless an earlier Init configured one.
    TLV_LOG(base::logging::kError, "Init failed");
    return kExitNoArgumentOrInitFailed;
  }
  TLV_LOG(base::logging::kInfo, "Init success {} {}", argc, argv[1]);
  TLV_LOG(priority.complete ? base::logging::kInfo : base::logging::kWarn,
          "Background priority: {}", priority.description);

  // The host's privacy level, as the host gave it: unknown levels become 0.
  context.SetFtcSwitch(static_cast<uint32_t>(config.ftc_switch));
  // Without a usable server time the reports carry the local time.
  context.GetTimerService()->StartWithServerTime(config.server_time);

  tlv::CommonService* const common_service = context.GetCommonService();
  common_service->Update(config.common_info);
  if (!common_service->IsValid()) {
    TLV_LOG(base::logging::kError, "Common Service Invalid");
    return kExitInvalidCommonInfo;
  }

  // Telemetry goes to the log-collection service of the host's area.
  if (tlv::Telemetry* const telemetry = context.GetTelemetry())
    telemetry->SetArea(common_service->GetArea());

  tlv::RunCrashReport(config);

  TLV_LOG(base::logging::kInfo, "crashreport process done");
  return kExitDone;
}
