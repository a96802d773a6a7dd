// Writes the record of each request into the output directory and words
// its log line.

#include "tools/receiving_service/recorder.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string_view>

#include "fmt/format.h"
#include "tools/receiving_service/text_util.h"

namespace tools {
namespace {

// msgId is the client's text; only a plain one may name a file.
bool IsPlainFileName(std::string_view text) {
  return !text.empty() && text.size() <= 64 &&
         text.find_first_not_of("0123456789abcdefghijklmnopqrstuvwxyz") ==
             std::string_view::npos;
}

bool WriteFile(const std::filesystem::path& path,
               std::string_view bytes,
               std::ios::openmode mode) {
  std::ofstream file(path, std::ios::binary | mode);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  file.close();
  if (!file) {
    std::fprintf(stderr, "receiving_service: cannot write %s\n", path.c_str());
    return false;
  }
  return true;
}

bool AppendLine(const std::filesystem::path& path, const std::string& line) {
  return WriteFile(path, line + "\n", std::ios::app);
}

std::string UploadRecordLine(const ReceivedUpload& upload) {
  return ObjectWriter()
      .AddString("verdict", upload.verdict)
      .AddString("msgId", upload.msg_id)
      .AddString("eventName", upload.event_name)
      .AddInt("eventId", upload.event_id)
      .AddString("eventTime", upload.event_time)
      .AddString("ReportId", upload.report_id)
      .AddString("OccurTimestamp", upload.occur_timestamp)
      .AddString("LocalTimestamp", upload.local_timestamp)
      .AddInt("dumpSize", static_cast<int64_t>(upload.dump_size))
      .AddString("dumpSha256", upload.dump_sha256)
      .AddString("stored", upload.stored)
      .AddBool("repeat", upload.repeat)
      .AddString("answer", upload.answer)
      .Text();
}

}  // namespace

std::string RecordUpload(const std::string& out_dir, UploadCheck* check) {
  ReceivedUpload& upload = check->upload;
  const std::optional<std::string>& dump = check->dump;
  // The service has this report already; a copy would count it twice.
  if (check->has_event && !upload.repeat) {
    std::filesystem::path base =
        std::filesystem::path(out_dir) /
        (IsPlainFileName(upload.msg_id)
             ? upload.msg_id
             : fmt::format("upload-{}", upload.number));
    // The body is "[" + event + "]", so the event's text is its inside.
    WriteFile(base.string() + ".json",
              std::string_view(upload.body).substr(1, upload.body.size() - 2),
              std::ios::trunc);
    std::string dump_path = base.string() + ".dmp";
    if (dump && WriteFile(dump_path, *dump, std::ios::trunc))
      upload.stored = dump_path;
  }
  AppendLine(std::filesystem::path(out_dir) / "uploads.jsonl",
             UploadRecordLine(upload));

  std::string line = fmt::format(
      "upload {}: {}; msgId={} eventName={} eventTime={} ReportId={} "
      "OccurTimestamp={} ",
      upload.number,
      upload.verdict == "ok" ? "signature ok" : "FAILED " + upload.verdict,
      upload.msg_id, upload.event_name, upload.event_time, upload.report_id,
      upload.occur_timestamp);
  if (!dump) {
    line += "no dump";
  } else {
    line += fmt::format("dump {} bytes sha256={} ", upload.dump_size,
                        upload.dump_sha256);
    line += upload.stored.empty() ? "not stored" : "stored at " + upload.stored;
  }
  if (upload.repeat) {
    line += fmt::format(
        "; a repeat of msgId {}, accepted before, not stored "
        "again",
        upload.msg_id);
  }
  return line + "; answered " + upload.answer;
}

std::string RecordTelemetry(const std::string& out_dir,
                            int number,
                            const TelemetryCheck& check,
                            const std::string& answer) {
  std::filesystem::path file =
      std::filesystem::path(out_dir) / "telemetry.jsonl";
  std::string line;
  if (check.verdict == "ok") {
    for (const std::string& event : check.events)
      AppendLine(file, event);
    line = fmt::format("telemetry {}: {} events ({})", number,
                       check.events.size(), fmt::join(check.names, ", "));
  } else {
    AppendLine(file, ObjectWriter().AddString("verdict", check.verdict).Text());
    line = fmt::format("telemetry {}: FAILED {}", number, check.verdict);
  }
  return line + "; answered " + answer;
}

}  // namespace tools
