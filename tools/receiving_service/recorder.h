// Records each judged request where people and tests look for it: files in
// the output directory, and the line for the service's on_request. Apart
// from the checks, which only judge, and from the server, which keeps the
// same record in memory under its lock; the caller holds that lock, so
// files and lines come in the order the requests were counted.

#ifndef TOOLS_RECEIVING_SERVICE_RECORDER_H_
#define TOOLS_RECEIVING_SERVICE_RECORDER_H_

#include <string>

#include "tools/receiving_service/request_check.h"

namespace tools {

// Stores the event's text and the dump as <out_dir>/<name>.json and .dmp,
// where name is the msgId when it is plain and upload-<number> otherwise,
// and sets check->upload.stored, unless the upload is a repeat; then
// appends the upload's line to <out_dir>/uploads.jsonl. Returns the
// upload's log line, which names a repeat as one.
std::string RecordUpload(const std::string& out_dir, UploadCheck* check);

// Appends the events, or the failed verdict, to <out_dir>/telemetry.jsonl.
// Returns the log line of telemetry request `number`, answered `answer`.
std::string RecordTelemetry(const std::string& out_dir,
                            int number,
                            const TelemetryCheck& check,
                            const std::string& answer);

}  // namespace tools

#endif  // TOOLS_RECEIVING_SERVICE_RECORDER_H_
