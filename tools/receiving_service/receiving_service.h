// The receiving service's interface for the tests, the program and
// integrators: the server here, the answers it is told to give from
// answer_plan.h, and what it records of an upload (and Arc4, for reading
// telemetry) from request_check.h. Users include only this header.

#ifndef TOOLS_RECEIVING_SERVICE_RECEIVING_SERVICE_H_
#define TOOLS_RECEIVING_SERVICE_RECEIVING_SERVICE_H_

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tools/receiving_service/answer_plan.h"
#include "tools/receiving_service/request_check.h"

namespace httplib {
class ContentReader;
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace tools {

// The data-upload and log-collection services on 127.0.0.1, over HTTP or
// HTTPS, for tests, the demo and integrators. It judges each request with its
// own code (OpenSSL, yyjson), records it in memory and in the output directory,
// and answers as its plans say, whatever the verdict. Like a collector that
// counts each crash once, it keeps one copy of a report: an upload whose msgId
// it has accepted before (answered accept or delay) is a repeat, answered as
// accepted whatever the plan says, recorded as a repeat and not stored again.
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
    // PEM files of the server's certificate (with any intermediates after
    // it) and its private key: the service then speaks HTTPS, TLS 1.2 and
    // 1.3 only. Both empty: plain HTTP.
    std::string tls_certificate;
    std::string tls_key;
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
  // Returns once connections are accepted; false when the directory, the
  // certificate or the port is unusable (the reason goes to stderr). Call
  // once.
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
  // Judge and record request number `number`, which the plan answers with
  // `answer`; returns the answer it gets, an acceptance for a repeat.
  Answer HandleUpload(const httplib::Request& request,
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
  // The msgIds of the uploads that were accepted.
  std::set<std::string> accepted_ids_;
  std::vector<std::string> telemetry_events_;
  std::vector<std::string> telemetry_verdicts_;
};

}  // namespace tools

#endif  // TOOLS_RECEIVING_SERVICE_RECEIVING_SERVICE_H_
