#include "environment/application_context.h"

#include <optional>

#include "base/logging/logging.h"
#include "base/thread/task_runners.h"
#include "base/utils/file_util.h"
#include "base/utils/string_util.h"
#include "common/common_service.h"
#include "environment/event_sink.h"
#include "timer/timer_service.h"

namespace tlv {

ApplicationContext& ApplicationContext::Instance() {
  // Never destroyed: the destructor is deleted.
  static ApplicationContext* const instance = new ApplicationContext();
  return *instance;
}

ApplicationContext::ApplicationContext()
    : common_service_(std::make_unique<CommonService>()),
      timer_service_(std::make_unique<TimerService>()),
      task_runners_(std::make_unique<base::TaskRunners>()) {}

bool ApplicationContext::Init(std::string_view work_dir,
                              int32_t log_level,
                              int32_t log_dest,
                              std::string_view process_name) {
  if (process_name != kMainProcessName)
    is_main_process_.store(false);

  if (!InitWorkDir_(base::utils::Path(work_dir), process_name))
    return false;

  base::logging::LoggerRegistry::Instance().Init(log_level, log_dest,
                                                 GetLogFile());

  if (common_service_->GetFtcSwitch() == -1)
    common_service_->SetFtcSwitch(0);
  return true;
}

bool ApplicationContext::InitWorkDir_(const base::utils::Path& work_dir,
                                      std::string_view process_name) {
  std::lock_guard lock(mutex_);
  if (!work_dir_.empty()) {
    TLV_LOG(base::logging::kWarn, "work dir has been set");
    return false;
  }
  if (work_dir.empty()) {
    TLV_LOG(base::logging::kError, "work dir is empty");
    return false;
  }

  const base::utils::Path dir =
      work_dir.Join(base::utils::Utf8ToWide(process_name));
  // Something that exists under the name is accepted only when it is a
  // directory: a regular file there would take the log, the archives and
  // the cut log copies nowhere.
  // Two runs that start at once may both find no directory; the one whose
  // creation comes second finds the other's.
  const auto is_directory = [&dir] {
    const std::optional<base::utils::FileInfo> info =
        base::utils::GetFileInfo(dir);
    return info && info->IsDirectory();
  };
  const bool usable =
      base::utils::PathExists(dir)
          ? is_directory()
          : base::utils::CreateDir(dir, /*recursive=*/true) || is_directory();
  if (!usable) {
    TLV_LOG(base::logging::kError, "create work dir failed {}", dir.ToUtf8());
    return false;
  }
  work_dir_ = dir;
  return true;
}

void ApplicationContext::SetFtcSwitch(uint32_t value) {
  common_service_->SetFtcSwitch(value <= 2 ? static_cast<int32_t>(value) : 0);
}

int32_t ApplicationContext::GetFtcSwitch() {
  return common_service_->GetFtcSwitch();
}

CommonService* ApplicationContext::GetCommonService() {
  return common_service_.get();
}

TimerService* ApplicationContext::GetTimerService() {
  return timer_service_.get();
}

base::Executor* ApplicationContext::GetExecutor() {
  return task_runners_->executor();
}

std::string ApplicationContext::GetMainTaskRunner() {
  return task_runners_->GetMainTaskRunner();
}

void ApplicationContext::SetEventSinkMaker(EventSinkMaker maker) {
  std::lock_guard lock(mutex_);
  event_sink_maker_ = std::move(maker);
}

Telemetry* ApplicationContext::GetTelemetry() {
  const int32_t area = common_service_->GetArea();
  std::call_once(telemetry_once_, [this] {
    EventSinkMaker maker;
    {
      std::lock_guard lock(mutex_);
      maker = event_sink_maker_;
    }
    if (maker)
      telemetry_plugin_ = maker();
  });
  return telemetry_plugin_ ? telemetry_plugin_->TelemetryFor(area) : nullptr;
}

const base::utils::Path& ApplicationContext::GetWorkDir() {
  // Written once, under the mutex, before anyone can ask for it; taking the
  // mutex here orders this read after that write.
  std::lock_guard lock(mutex_);
  return work_dir_;
}

base::utils::Path ApplicationContext::GetLogFile() {
  const base::utils::Path& dir = GetWorkDir();
  return dir.empty() ? dir : dir.Join(std::string_view("telvane.log"));
}

void TelemetryReport(const std::string& event,
                     const std::string& component,
                     const std::string& result,
                     const base::logging::SourceLocation& location) {
  ApplicationContext& context = ApplicationContext::Instance();
  Telemetry* const telemetry = context.GetTelemetry();
  if (!telemetry) {
    TLV_LOG(base::logging::kWarn, "telemetry is null");
    return;
  }
  std::string loc =
      std::string(location.file) + ":" + std::to_string(location.line);
  // GetTelemetry returned an instance, so the plug-in exists.
  context.telemetry_plugin_->Record(*telemetry, !context.is_main_process(),
                                    event, component, result, std::move(loc));
}

}  // namespace tlv
