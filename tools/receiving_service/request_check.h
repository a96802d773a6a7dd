// Judges what arrives at the two endpoints: the headers, the signature and
// the body of an upload, the query and the scrambled events of a telemetry
// request. Apart from the server so that the checks, and the cryptography
// they need, read as the client's contract and nothing else; they use
// OpenSSL and yyjson, never the product's own code.

#ifndef TOOLS_RECEIVING_SERVICE_REQUEST_CHECK_H_
#define TOOLS_RECEIVING_SERVICE_REQUEST_CHECK_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace httplib {
struct Request;
}  // namespace httplib

namespace tools {

// ARC4 (RC4) with the whole key, nothing of the keystream skipped; its own
// inverse. `key` must not be empty.
std::string Arc4(std::string_view data, std::string_view key);

// One request to the data-upload endpoint as it arrived and was judged.
struct ReceivedUpload {
  int number = 0;       // counts the endpoint's requests from 1
  std::string verdict;  // "ok" or the first failed check
  std::string msg_id;
  std::string event_name;
  int64_t event_id = 0;
  std::string event_time;
  std::string report_id;  // uploadContent.ReportId
  std::string occur_timestamp;
  std::string local_timestamp;
  uint64_t dump_size = 0;   // decoded bytes; 0 without a "dump" member
  std::string dump_sha256;  // lowercase hex; empty without a "dump" member
  std::string stored;       // path of the stored dump, or empty
  // The msgId of a report the service had accepted already: answered as
  // accepted and not stored again.
  bool repeat = false;
  std::string answer;  // Answer::text of what was answered
  std::string body;    // the request body as received
};

// What the check of an upload found.
struct UploadCheck {
  // The verdict, the body and what was read of the event; the caller adds
  // the number, the answer and where the dump is stored.
  ReceivedUpload upload;
  // The body is one event object, whatever else failed.
  bool has_event = false;
  // The decoded "dump" member of that event, when it is Base64.
  std::optional<std::string> dump;
};

UploadCheck CheckUpload(const httplib::Request& request,
                        const std::string& body);

// What the check of a telemetry request found.
struct TelemetryCheck {
  std::string verdict;  // "ok" or the first failed check
  // Only when the verdict is "ok": the compact text of each event and its
  // "event" member, in the order sent.
  std::vector<std::string> events;
  std::vector<std::string> names;
};

TelemetryCheck CheckTelemetry(const httplib::Request& request,
                              const std::string& body);

}  // namespace tools

#endif  // TOOLS_RECEIVING_SERVICE_REQUEST_CHECK_H_
