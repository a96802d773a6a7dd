#include "telemetry/telemetry.h"

#include <utility>

#include "base/json/base64.h"
#include "base/json/json_value.h"
#include "base/logging/logging.h"
#include "base/thread/executor.h"
#include "base/utils/arc4.h"
#include "base/utils/string_util.h"
#include "common/common_service.h"
#include "environment/application_context.h"
#include "report/endpoints.h"
#include "report/report.h"
#include "report/service_pauses.h"

namespace tlv {
namespace {

constexpr int32_t kBatchLimit = 10;
constexpr int32_t kQueueLimit = 30;
constexpr int32_t kThirdLimit = 6;
constexpr int32_t kExpirySeconds = 7 * 24 * 60 * 60;

const char* StoreName(int32_t area) {
  switch (area) {
    case kAreaMainland:
      return "telemetry_mainland";
    case kAreaOversea:
      return "telemetry_oversea";
    default:
      return "telemetry";
  }
}

// Text as valid UTF-8: each invalid sequence becomes U+FFFD.
std::string ValidUtf8(const std::string& text) {
  return base::utils::WideToUtf8(base::utils::Utf8ToWide(text));
}

}  // namespace

TelemetryReporter::TelemetryReporter()
    : BaseReporter(kBatchLimit, kQueueLimit, kThirdLimit, kExpirySeconds) {}

std::unique_ptr<BaseReport> TelemetryReporter::CreateReport(
    const std::string& batch) {
  auto report = std::make_unique<class TelemetryReport>();
  report->SetUrl(GetTelemetryUrl(area()));
  report->SetMethod(base::net::HTTPMethod::kPost);
  report->SetPlainHeaders();
  report->SetBody(BuildTelemetryBody(batch));
  return report;
}

bool TelemetryReporter::CheckResponse(const std::string& response) {
  const base::JsonValue answer = base::JsonValue::Parse(response);
  return answer.kind() == base::JsonKind::Object &&
         answer.GetInt("retcode") == 0;
}

std::string BuildTelemetryBody(const std::string& batch) {
  const std::string plain = R"({"data":)" + batch + "}";
  return R"({"data":")" +
         base::utils::Base64Encode(
             base::utils::Arc4Crypt(plain, kTelemetryKey)) +
         R"("})";
}

void FillTelemetryCommonFields(base::JsonValue& object, base::Time now) {
  CommonService* const common =
      ApplicationContext::Instance().GetCommonService();
  const base::TimeFields& local = now.LocalFields();
  object.SetString("@timestamp", now.ToIso8601());
  object.SetString(
      "record_log_time",
      base::utils::StringPrintf("%04d/%02d/%02d %02d:%02d:%02d.%03d",
                                local.year, local.month, local.day, local.hour,
                                local.minute, local.second, local.millisecond));
  object.SetString("telemetry_version", common->GetPluginVersion());
  object.SetString("sdk_version", common->GetSdkVersion());
  object.SetString("device_name", common->GetDeviceName());
  object.SetString("client_type", common->GetPlatform());
  object.SetString("sys_version", common->GetSystemVersion());
  object.SetString("device_id", common->GetDeviceId());
  object.SetString("device_model", common->GetDeviceModel());
  object.SetString("app_version_code", common->GetAppVersion());
  object.SetString("user_id", common->GetUserId());
  object.SetString("user_device_id", common->GetUserDeviceId());
  object.SetString("app_id", common->GetAppId());
  object.SetString("a_id", common->GetAId());
  object.SetString("lifecycle_id", common->GetLifecycleId());
  object.SetString("package_name", common->GetPackageName());
  object.SetString("compile_type", common->GetCompileType());
  object.SetString("area", common->GetAreaText());
}

EventRecord BuildEventRecord(const std::string& event,
                             const std::string& component,
                             const std::string& result,
                             const std::string& loc) {
  base::JsonValue document;
  FillTelemetryCommonFields(document, base::Time());
  const auto set_event_members = [&](auto&& text) {
    document.SetString("event", text(event));
    document.SetString("component", text(component));
    document.SetString("result", text(result));
    document.SetString("loc", text(loc));
  };
  set_event_members([](const std::string& text) { return text; });
  EventRecord record;
  record.json = document.ToText();
  if (record.json.empty()) {
    // A result may carry a service's answer in any encoding; the event is
    // sent with its invalid bytes replaced rather than not at all.
    set_event_members(ValidUtf8);
    record.json = document.ToText();
  }
  return record;
}

Telemetry::Telemetry(int32_t area)
    : area_(area), reporter_(std::make_unique<TelemetryReporter>()) {
  reporter_->Init(StoreName(area));
}

Telemetry::~Telemetry() = default;

void Telemetry::BlockReport(std::string event,
                            std::string component,
                            std::string result,
                            std::string loc) {
  // A log-collection service that has made an event wait out a time-out
  // would most likely do so again, while the dumps wait: the rest of the
  // run's events are only written to the log.
  if (service_failed_.load())
    return;
  // The service asked every player to wait: the event is only logged, by
  // its raiser.
  if (ServicePauses::Instance().PausedUntil(GetTelemetryUrl(reporter_->area())))
    return;
  const EventRecord record = BuildEventRecord(event, component, result, loc);
  std::string response;
  base::net::HTTPAttemptOutcome last_attempt;
  const bool ok = reporter_->BlockReport(record, &response, &last_attempt);
  TLV_LOG(base::logging::kInfo, "BlockReport result: {} {}", ok, response);
  // A failure that came at once (a refused connection, an error status)
  // cost the run nothing, and the next event may well get through.
  if (!ok && last_attempt.timed_out && !service_failed_.exchange(true)) {
    TLV_LOG(base::logging::kWarn,
            "BlockReport: the log-collection service failed; the rest of "
            "this run's events are written to the log only");
  }
}

void Telemetry::Report(std::string event,
                       std::string component,
                       std::string result,
                       std::string loc) {
  ApplicationContext& context = ApplicationContext::Instance();
  context.GetExecutor()->PostTask(
      context.GetMainTaskRunner(),
      [this, token = token_.GetWeak(), event = std::move(event),
       component = std::move(component), result = std::move(result),
       loc = std::move(loc)] {
        if (const std::shared_ptr<base::MemDummy> alive = token.lock())
          reporter_->Report(BuildEventRecord(event, component, result, loc));
      });
}

void Telemetry::SetArea(int32_t area) {
  reporter_->SetArea(area);
  // Another area's service is another service.
  service_failed_.store(false);
}

}  // namespace tlv
