#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "base/json/base64.h"
#include "base/utils/file_util.h"
#include "base/utils/string_util.h"
#include "base/utils/time.h"
#include "common/common_service.h"
#include "crash_plugin/report_process/crash_event.h"
#include "crash_plugin/report_process/crash_report.h"
#include "environment/application_context.h"
#include "report/endpoints.h"
#include "report/report.h"
#include "report/report_envelope.h"

namespace tlv {
namespace {

constexpr int32_t kCrashPluginId = 1006;
constexpr char kCrashPluginName[] = "CrashPlugin";
constexpr int32_t kReportEventId = 100011;
constexpr char kReportEventName[] = "APMReport";
constexpr uint64_t kUploadRetries = 3;

// The dump's Base64 text, empty for an empty file. None when the file is
// there but its bytes cannot all be read or encoded: a report without them
// could be accepted, and the dump would then be deleted undelivered.
std::optional<std::string> ReadDumpAsBase64(const base::utils::Path& path) {
  const std::string bytes = base::utils::ReadFileToString(path);
  // Read first, then compare with the size the file has now: a short read
  // and a file still being written both show as a difference.
  const std::optional<base::utils::FileInfo> info =
      base::utils::GetFileInfo(path);
  if (!info || info->IsDirectory() || info->size != bytes.size())
    return std::nullopt;
  std::string text = base::utils::Base64Encode(bytes);
  if (text.empty() && !bytes.empty())
    return std::nullopt;
  return text;
}

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
                const std::string& occur_time) {
  const std::string message_id = base::utils::RandomString();
  base::JsonValue apm_info;
  FillApmInfo(apm_info);
  CommonService* const common =
      ApplicationContext::Instance().GetCommonService();
  const base::JsonValue upload_content = BuildUploadContent(
      common->GetArea(), message_id, apm_info, plugin_data, config.custom_data,
      common->GetDeviceName(), local_time, occur_time);
  const int64_t event_time = base::Time().ToSeconds();

  std::string dump;
  if (base::utils::PathExists(path)) {
    std::optional<std::string> text = ReadDumpAsBase64(path);
    if (!text) {
      TLV_LOG(base::logging::kError, "read dump failed: {}", path.ToUtf8());
      return false;
    }
    dump = std::move(*text);
  }
  return ReportContent(BuildReportEvent(message_id, kReportEventId,
                                        kReportEventName, event_time,
                                        upload_content, std::move(dump)));
}

bool ReportContent(const std::string& body) {
  std::string response;
  {
    auto report = std::make_unique<TelvaneReport>();
    report->SetUrl(GetDataUploadUrl(
        ApplicationContext::Instance().GetCommonService()->GetArea()));
    report->SetMethod(base::net::kPost);
    std::string request = "[" + body + "]";
    report->Sign(request);
    report->SetBody(std::move(request));
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
