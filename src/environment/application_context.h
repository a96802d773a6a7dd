#ifndef ENVIRONMENT_APPLICATION_CONTEXT_H_
#define ENVIRONMENT_APPLICATION_CONTEXT_H_

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "base/logging/log_record.h"
#include "base/utils/file_path.h"

namespace base {
class Executor;
class TaskRunners;
}  // namespace base

namespace tlv {

class CommonService;
class EventSink;
class Telemetry;
class TimerService;

// The process-wide environment: this process's work directory and logging,
// the host's common information, the corrected clock and the task runners.
//
// Created on first use and never destroyed, so that threads still running
// while the process exits find it intact. The owned services are built with
// the context and never replaced; each has a lock of its own. The context's
// mutex guards only the work directory and is never held while a service is
// called, so no two service locks are ever held together.
class ApplicationContext final {
 public:
  // Sent in every report envelope.
  static constexpr int32_t kApplicationId = 900007;
  static constexpr std::string_view kApplicationName = "apm";

  // The kit's main process has this name; every other process (such as
  // "crashreport") is secondary and sends its telemetry synchronously.
  static constexpr std::string_view kMainProcessName = "telvane";

  static ApplicationContext& Instance();

  ApplicationContext(const ApplicationContext&) = delete;
  ApplicationContext& operator=(const ApplicationContext&) = delete;

  // Sets up the work directory work_dir/process_name (creating it with its
  // parents when missing) and the process-wide logger, whose file is
  // telvane.log in that directory. False when work_dir is empty, when the
  // directory can neither be found nor created, and on every call after a
  // successful one; logging then stays as it was.
  bool Init(std::string_view work_dir,
            int32_t log_level,
            int32_t log_dest,
            std::string_view process_name);

  // Passes 0, 1 and 2 to the common service and 0 for anything else: the
  // value comes from the host, and an unknown privacy level must not leave
  // the switch unset.
  void SetFtcSwitch(uint32_t value);
  int32_t GetFtcSwitch();

  CommonService* GetCommonService();
  TimerService* GetTimerService();
  base::Executor* GetExecutor();
  // The main task runner's name; the first call creates the runner and its
  // worker thread.
  std::string GetMainTaskRunner();

  // Makes the process's telemetry instances; tlv::InstallTelemetry sets the
  // telemetry library's. Set it before the first GetTelemetry: that call
  // makes the instances, once, and a maker set later is not used.
  using EventSinkMaker = std::function<std::unique_ptr<EventSink>()>;
  void SetEventSinkMaker(EventSinkMaker maker);

  // The telemetry for the common service's current area, or null when the
  // area has none or no maker was set. The first call builds the telemetry
  // instances (and with them the main task runner), once, also when several
  // threads ask at the same time.
  Telemetry* GetTelemetry();
  // Whether mainland and oversea get a telemetry instance each. No input of
  // this process asks for that, so one instance serves every area.
  bool per_area() const { return false; }

  // Empty until Init succeeds; set once and never changed after that.
  const base::utils::Path& GetWorkDir();
  // The process's log file, telvane.log in the work directory; empty until
  // Init succeeds.
  base::utils::Path GetLogFile();

  bool is_main_process() const { return is_main_process_.load(); }

  static int32_t GetApplicationId() { return kApplicationId; }
  static std::string GetApplicationName() {
    return std::string(kApplicationName);
  }

 private:
  // Records through the plug-in that GetTelemetry made.
  friend void TelemetryReport(const std::string& event,
                              const std::string& component,
                              const std::string& result,
                              const base::logging::SourceLocation& location);

  ApplicationContext();
  ~ApplicationContext() = delete;

  bool InitWorkDir_(const base::utils::Path& work_dir,
                    std::string_view process_name);

  std::mutex mutex_;
  base::utils::Path work_dir_;
  std::atomic<bool> is_main_process_{true};
  const std::unique_ptr<CommonService> common_service_;
  const std::unique_ptr<TimerService> timer_service_;
  const std::unique_ptr<base::TaskRunners> task_runners_;
  EventSinkMaker event_sink_maker_;  // Guarded by mutex_.
  // Built outside mutex_, because building it asks the context for the work
  // directory and the main task runner; written once, inside the flag's
  // call, and only read after it. The telemetry area plug-in, held by its
  // interface.
  std::once_flag telemetry_once_;
  std::unique_ptr<EventSink> telemetry_plugin_;
};

// Records one telemetry event of this process: the event's name, the
// component that raised it, its result, and where it was raised (sent as
// "file:line"). The kit's main process queues it; any other process, such
// as crashreport, sends it at once and waits for the exchange. Without a
// telemetry instance the event is dropped with the warning
// "telemetry is null".
void TelemetryReport(const std::string& event,
                     const std::string& component,
                     const std::string& result,
                     const base::logging::SourceLocation& location);

}  // namespace tlv

#endif  // ENVIRONMENT_APPLICATION_CONTEXT_H_
