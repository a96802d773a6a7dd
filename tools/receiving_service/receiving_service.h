#ifndef TOOLS_RECEIVING_SERVICE_RECEIVING_SERVICE_H_
#define TOOLS_RECEIVING_SERVICE_RECEIVING_SERVICE_H_

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace httplib {
class ContentReader;
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace tools {

// How the service answers one request.
struct Answer {
  enum class Kind {
    kAccept,  // 200 with the service's "accepted" object
    kReject,  // 200 with a non-zero code and a message
    kStatus,  // the HTTP status `number` with a small JSON body
    kHtml,    // 200 with an HTML error page, as a misconfigured proxy sends
    kDelay,   // waits `number` milliseconds, then accepts
    kDrop,    // closes the connection in the middle of the answer
    kBody,    // 200 with `message` as its JSON body, whatever it holds
    kClose,   // reads the request, then closes without an answer
    kReset,   // resets the connection once `number` bytes of the body are in
    kHang,    // never answers; closes without an answer once stopped
  };

  Kind kind = Kind::kAccept;
  // Reject code, HTTP status, delay in milliseconds or body bytes.
  int number = 0;
  std::string message;          // reject message, or the body
  std::string text = "accept";  // as written on the command line
};

// Reads "accept", "reject:CODE:MESSAGE", "status:N", "html", "delay:MS",
// "drop", "body:TEXT", "close", "reset:BYTES" or "hang"; nothing for any
// other text.
std::optional<Answer> ParseAnswer(std::string_view text);

// The answers of one endpoint: `initial` until a switch applies. A switch
// (n, answer) answers every request from number n + 1 on with `answer`; of
// several, the one with the largest n that applies wins.
struct AnswerPlan {
  Answer initial;
  std::map<int, Answer> switches;

  // `number` counts the endpoint's requests from 1.
  const Answer& ForRequest(int number) const;
};

// Reads "N:ANSWER" (N >= 0) for AnswerPlan::switches.
std::optional<std::pair<int, Answer>> ParseAnswerSwitch(std::string_view text);

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
  std::string answer;       // Answer::text of what was answered
  std::string body;         // the request body as received
};

// The data-upload and log-collection services on 127.0.0.1, for tests, the
// demo and integrators. It judges each request with its own code (OpenSSL,
// yyjson), records it in memory and in the output directory, and answers as
// its plans say, whatever the verdict:
//   <out>/uploads.jsonl      one line per upload request
//   <out>/<msgId>.json/.dmp  the event text and the decoded dump
//   <out>/telemetry.jsonl    one line per event, or {"verdict":...} for a
//                            request that failed a check
// All accessors are thread-safe.
class ReceivingService {
 public:
  struct Options {
    int port = 0;  // 0 picks a free port
    std::string out_dir;
    AnswerPlan upload;
    AnswerPlan telemetry;
    // Gets one human-readable line per request (without a line feed).
    std::function<void(const std::string&)> on_request;
  };

  explicit ReceivingService(Options options);
  ReceivingService(const ReceivingService&) = delete;
  ReceivingService& operator=(const ReceivingService&) = delete;
  ~ReceivingService();

  // Creates the output directory, binds and serves on a thread of its own.
  // Returns once connections are accepted; false when the directory or the
  // port is unusable (the reason goes to stderr). Call once.
  bool Start();
  // Ends pending delays and hangs, waits for the requests in progress and
  // stops.
  void Stop();

  int port() const { return port_; }

  std::vector<ReceivedUpload> uploads() const;
  // The compact text of every event of every telemetry request that passed
  // its checks, in arrival order.
  std::vector<std::string> telemetry_events() const;
  // One per telemetry request: "ok" or the first failed check.
  std::vector<std::string> telemetry_verdicts() const;

 private:
  enum class Endpoint { kUpload, kTelemetry };

  // Reads the body (a reset stops early), records and answers the request.
  void Serve(Endpoint endpoint,
             const httplib::Request& request,
             const httplib::ContentReader& content,
             httplib::Response& response);
  // Judge and record request number `number`, which gets `answer`.
  void HandleUpload(const httplib::Request& request,
                    const std::string& body,
                    int number,
                    const Answer& answer);
  void HandleTelemetry(const httplib::Request& request,
                       const std::string& body,
                       int number,
                       const Answer& answer);
  void HandleUnexpected(const httplib::Request& request,
                        httplib::Response& response);
  // Writes the answer, or ends the connection without one; a delay or a
  // hang waits until it is over or Stop is called.
  void Respond(const Answer& answer,
               const httplib::Request& request,
               bool upload,
               httplib::Response& response);
  void Report(const std::string& line);  // mutex_ held

  const Options options_;
  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;
  std::atomic<bool> loop_ended_ = false;
  int port_ = 0;

  mutable std::mutex mutex_;
  std::condition_variable stop_requested_;
  bool stopping_ = false;
  int upload_count_ = 0;
  int telemetry_count_ = 0;
  std::vector<ReceivedUpload> uploads_;
  std::vector<std::string> telemetry_events_;
  std::vector<std::string> telemetry_verdicts_;
};

}  // namespace tools

#endif  // TOOLS_RECEIVING_SERVICE_RECEIVING_SERVICE_H_
