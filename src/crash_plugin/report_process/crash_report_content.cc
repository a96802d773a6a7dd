#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "base/utils/file_util.h"
#include "base/utils/string_util.h"
#include "base/utils/time.h"
#include "common/common_service.h"
#include "crash_plugin/report_process/crash_event.h"
#include "crash_plugin/report_process/crash_report.h"
#include "environment/application_context.h"
#include "report/endpoints.h"
#include "report/report.h"
#include "report/report_body.h"
#include "report/report_envelope.h"

namespace tlv {
namespace {

constexpr int32_t kCrashPluginId = 1006;
constexpr char kCrashPluginName[] = "CrashPlugin";
constexpr int32_t kReportEventId = 100011;
constexpr char kReportEventName[] = "APMReport";
constexpr uint64_t kUploadRetries = 3;

// Passes a body that the caller keeps through to the report, which owns
// this stream, and tells tracking, when given, how far each attempt gets.
class BorrowedBody final : public base::net::HTTPBodyStream {
 public:
  BorrowedBody(base::net::HTTPBodyStream& body, UploadTracking* tracking)
      : body_(body), tracking_(tracking) {}

  int64_t Size() override { return body_.Size(); }
  void Reset() override {
    body_.Reset();
    position_ = 0;
  }
  int64_t Read(char* buffer, int64_t capacity) override {
    const int64_t count = body_.Read(buffer, capacity);
    if (count > 0) {
      position_ += count;
      if (tracking_) {
        tracking_->sent = std::max(tracking_->sent, position_);
        if (tracking_->on_progress)
          tracking_->on_progress(position_, Size());
      }
    }
    return count;
  }

 private:
  base::net::HTTPBodyStream& body_;
  UploadTracking* const tracking_;
};

}  // namespace

void FillApmInfo(base::JsonValue& object) {
  CommonService* const common =
      ApplicationContext::Instance().GetCommonService();
  object.SetString("SDKVersion", common->GetSdkVersion());
  object.SetInt("PluginId", kCrashPluginId);
  object.SetString("PluginName", kCrashPluginName);
  object.SetString("PluginVersion", common->GetPluginVersion());
}

void FillPluginData(const LaunchConfiguration& config,
                    base::JsonValue& object) {
  object.SetString("CrashType", "");
  object.SetString("UseDurationSeconds", config.use_duration_millis);
  object.SetString("FreeMemory", config.free_memory);
  object.SetString("FreeDiskSize", config.free_disk_size);
  object.SetBool("FileExists", true);
  object.SetString(
      "SymbolId",
      ApplicationContext::Instance().GetCommonService()->GetSymbolId());
}

bool UploadDump(const base::utils::Path& path,
                const base::JsonValue& plugin_data,
                const LaunchConfiguration& config,
                const std::string& local_time,
                const std::string& occur_time,
                const std::string& report_id,
                UploadTracking* tracking) {
  base::JsonValue apm_info;
  FillApmInfo(apm_info);
  CommonService* const common =
      ApplicationContext::Instance().GetCommonService();
  const base::JsonValue upload_content = BuildUploadContent(
      common->GetArea(), report_id, apm_info, plugin_data, config.custom_data,
      common->GetDeviceName(), local_time, occur_time);
  const int64_t event_time = base::Time().ToSeconds();

  const std::string event =
      BuildReportEvent(report_id, kReportEventId, kReportEventName, event_time,
                       upload_content, std::string());

  // A missing file makes a report without "dump"; a path that is there but
  // is no file makes none, so that nothing is deleted undelivered.
  uint64_t dump_size = 0;
  if (base::utils::PathExists(path)) {
    const std::optional<base::utils::FileInfo> info =
        base::utils::GetFileInfo(path);
    if (!info || info->IsDirectory()) {
      TLV_LOG(base::logging::kError, "read dump failed: {}", path.ToUtf8());
      return false;
    }
    dump_size = info->size;
  }
  // An event that could not be written goes out as "[]" and is refused.
  if (event.empty())
    return ReportContent(event);
  const std::unique_ptr<ReportBody> body =
      MakeReportBody(event, path, dump_size);
  const bool accepted = ReportContent(*body, tracking);
  if (tracking)
    tracking->file_xxh3 = body->dump_xxh3();
  return accepted;
}

bool ReportContent(const std::string& body) {
  base::net::StringHTTPBodyStream request("[" + body + "]");
  return ReportContent(request);
}

bool ReportContent(base::net::HTTPBodyStream& request,
                   UploadTracking* tracking) {
  std::string response;
  {
    auto report = std::make_unique<TelvaneReport>();
    report->SetUrl(GetDataUploadUrl(
        ApplicationContext::Instance().GetCommonService()->GetArea()));
    report->SetMethod(base::net::kPost);
    if (!report->Sign(request))
      return false;
    // Only the sending passes count, not the signing one.
    report->SetBody(std::make_unique<BorrowedBody>(request, tracking));
    if (!report->StartWithBlock(&response, kUploadRetries)) {
      TLV_CRASH_EVENT(base::logging::kError, "CrashReportFailed", response);
      return false;
    }
  }
  const std::optional<int32_t> code =
      base::JsonValue::Parse(response).GetInt("code");
  if (code != 0) {
    TLV_CRASH_EVENT(base::logging::kError, "CrashReportFailed", response);
    return false;
  }
  return true;
}

}  // namespace tlv
