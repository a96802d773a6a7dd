// The server: binds on 127.0.0.1, counts each endpoint's requests, reads
// their bodies, has them checked and recorded, and answers as the plans
// say. What a request is judged by, how it is recorded and how a
// connection ends without an answer live in files of their own.

#include "tools/receiving_service/receiving_service.h"

#include <httplib.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "fmt/format.h"
#include "tools/receiving_service/end_connection.h"
#include "tools/receiving_service/recorder.h"
#include "tools/receiving_service/text_util.h"

namespace tools {
namespace {

constexpr char kHost[] = "127.0.0.1";
// The routes' patterns. A request may name its whole URL (absolute-form),
// which RFC 9112, 3.2.2, has every server accept; Wine's WinHTTP sends it
// so through a proxy's tunnel.
constexpr char kUploadPath[] = "(?:https?://[^/]+)?/apm/dataUpload";
constexpr char kTelemetryPath[] = "(?:https?://[^/]+)?/common/h5log/log/batch";
// What a dropped answer announces and never sends.
constexpr size_t kDroppedBodyLength = 64;

// The first of OpenSSL's queued errors, as text.
std::string OpenSslError() {
  char text[256];
  ERR_error_string_n(ERR_get_error(), text, sizeof(text));
  return text;
}

// An HTTP server, or with a certificate an HTTPS one that speaks TLS 1.2
// and 1.3 only, as data services do; null, with the reason on stderr, when
// the certificate or the key cannot be used.
std::unique_ptr<httplib::Server> MakeServer(const std::string& certificate,
                                            const std::string& key) {
  if (certificate.empty() && key.empty())
    return std::make_unique<httplib::Server>();
  std::string problem;
  auto server = std::make_unique<httplib::SSLServer>(
      [&certificate, &key, &problem](SSL_CTX& context) {
        if (SSL_CTX_set_min_proto_version(&context, TLS1_2_VERSION) != 1 ||
            SSL_CTX_set_max_proto_version(&context, TLS1_3_VERSION) != 1) {
          problem = "cannot limit TLS to 1.2 and 1.3: " + OpenSslError();
        } else if (SSL_CTX_use_certificate_chain_file(
                       &context, certificate.c_str()) != 1) {
          problem = "cannot use the certificate " + certificate + ": " +
                    OpenSslError();
        } else if (SSL_CTX_use_PrivateKey_file(&context, key.c_str(),
                                               SSL_FILETYPE_PEM) != 1 ||
                   SSL_CTX_check_private_key(&context) != 1) {
          problem = "cannot use the key " + key + ": " + OpenSslError();
        }
        return problem.empty();
      });
  if (!server->is_valid()) {
    std::fprintf(stderr, "receiving_service: %s\n", problem.c_str());
    return nullptr;
  }
  return server;
}

}  // namespace

ReceivingService::ReceivingService(Options options)
    : options_(std::move(options)) {}

ReceivingService::~ReceivingService() {
  Stop();
}

bool ReceivingService::Start() {
  if (server_)
    return false;
  std::error_code error;
  std::filesystem::create_directories(options_.out_dir, error);
  if (error) {
    std::fprintf(stderr, "receiving_service: cannot create %s: %s\n",
                 options_.out_dir.c_str(), error.message().c_str());
    return false;
  }

  server_ = MakeServer(options_.tls_certificate, options_.tls_key);
  if (!server_)
    return false;
  // httplib's default is SO_REUSEPORT, under which a second service binds
  // the same fixed port and silently takes half of the connections.
  // SO_REUSEADDR alone still rebinds a port left in TIME_WAIT but refuses
  // a port that is in use.
  server_->set_socket_options([](int socket) {
    int yes = 1;
    setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
  });
  // Both read the body themselves, so that a reset can come while the
  // client is still sending it.
  server_->Post(kUploadPath, [this](const httplib::Request& request,
                                    httplib::Response& response,
                                    const httplib::ContentReader& content) {
    Serve(Endpoint::kUpload, request, content, response);
  });
  server_->Post(kTelemetryPath, [this](const httplib::Request& request,
                                       httplib::Response& response,
                                       const httplib::ContentReader& content) {
    Serve(Endpoint::kTelemetry, request, content, response);
  });
  // Handlers are tried in order, so this one sees only the other paths,
  // which are worth a line: a client with a wrong URL shows up here.
  server_->Post(".*", [this](const httplib::Request& request,
                             httplib::Response& response) {
    HandleUnexpected(request, response);
  });

  if (options_.port == 0)
    port_ = server_->bind_to_any_port(kHost);
  else
    port_ = server_->bind_to_port(kHost, options_.port) ? options_.port : -1;
  if (port_ < 0) {
    std::fprintf(stderr, "receiving_service: cannot listen on %s:%d\n", kHost,
                 options_.port);
    port_ = 0;
    return false;
  }

  // httplib's stop() only takes effect once the accept loop runs, so Start
  // returns only then; the loop ending at once also ends the wait.
  thread_ = std::thread([this] {
    server_->listen_after_bind();
    loop_ended_ = true;
  });
  while (!server_->is_running() && !loop_ended_)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  if (loop_ended_) {
    std::fprintf(stderr, "receiving_service: the accept loop ended at once\n");
    return false;
  }
  return true;
}

void ReceivingService::Stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  stop_requested_.notify_all();
  if (thread_.joinable()) {
    server_->stop();
    thread_.join();
  }
}

std::vector<ReceivedUpload> ReceivingService::uploads() const {
  std::lock_guard lock(mutex_);
  return uploads_;
}

std::vector<std::string> ReceivingService::telemetry_events() const {
  std::lock_guard lock(mutex_);
  return telemetry_events_;
}

std::vector<std::string> ReceivingService::telemetry_verdicts() const {
  std::lock_guard lock(mutex_);
  return telemetry_verdicts_;
}

void ReceivingService::Serve(Endpoint endpoint,
                             const httplib::Request& request,
                             const httplib::ContentReader& content,
                             httplib::Response& response) {
  const bool upload = endpoint == Endpoint::kUpload;
  int number;
  Answer answer;
  {
    std::lock_guard lock(mutex_);
    number = upload ? ++upload_count_ : ++telemetry_count_;
    answer = (upload ? options_.upload : options_.telemetry).ForRequest(number);
  }
  std::string body;
  content([&body, &answer](const char* data, size_t length) {
    body.append(data, length);
    // Stops reading: the rest of the body stays on its way.
    return answer.kind != Answer::Kind::kReset ||
           body.size() < static_cast<size_t>(answer.number);
  });
  if (upload)
    answer = HandleUpload(request, body, number, answer);
  else
    HandleTelemetry(request, body, number, answer);
  Respond(answer, request, upload, response);
}

Answer ReceivingService::HandleUpload(const httplib::Request& request,
                                      const std::string& body,
                                      int number,
                                      const Answer& answer) {
  UploadCheck check = CheckUpload(request, body);
  ReceivedUpload& upload = check.upload;
  upload.number = number;

  std::lock_guard lock(mutex_);
  const bool known = upload.verdict == "ok" && !upload.msg_id.empty();
  upload.repeat = known && accepted_ids_.contains(upload.msg_id);
  const Answer given = upload.repeat ? Answer() : answer;
  upload.answer = given.text;
  if (known && (given.kind == Answer::Kind::kAccept ||
                given.kind == Answer::Kind::kDelay)) {
    accepted_ids_.insert(upload.msg_id);
  }
  Report(RecordUpload(options_.out_dir, &check));
  uploads_.push_back(std::move(upload));
  return given;
}

void ReceivingService::HandleTelemetry(const httplib::Request& request,
                                       const std::string& body,
                                       int number,
                                       const Answer& answer) {
  TelemetryCheck check = CheckTelemetry(request, body);

  std::lock_guard lock(mutex_);
  Report(RecordTelemetry(options_.out_dir, number, check, answer.text));
  telemetry_events_.insert(telemetry_events_.end(), check.events.begin(),
                           check.events.end());
  telemetry_verdicts_.push_back(check.verdict);
}

void ReceivingService::HandleUnexpected(const httplib::Request& request,
                                        httplib::Response& response) {
  {
    std::lock_guard lock(mutex_);
    Report(fmt::format("unexpected request: {} {}; answered status:404",
                       request.method, request.target));
  }
  response.status = 404;
  response.set_content(R"({"status":404})", "application/json");
}

void ReceivingService::Respond(const Answer& answer,
                               const httplib::Request& request,
                               bool upload,
                               httplib::Response& response) {
  switch (answer.kind) {
    case Answer::Kind::kDelay: {
      std::unique_lock lock(mutex_);
      stop_requested_.wait_for(lock, std::chrono::milliseconds(answer.number),
                               [this] { return stopping_; });
    }
      [[fallthrough]];
    case Answer::Kind::kAccept:
      response.set_content(
          upload ? R"({"code":0,"message":"ok"})" : R"({"retcode":0})",
          "application/json");
      break;
    case Answer::Kind::kReject:
      response.set_content(
          ObjectWriter()
              .AddInt(upload ? "code" : "retcode", answer.number)
              .AddString(upload ? "message" : "msg", answer.message)
              .Text(),
          "application/json");
      break;
    case Answer::Kind::kStatus:
      response.status = answer.number;
      if (!answer.retry_after.empty())
        response.set_header("Retry-After", answer.retry_after);
      response.set_content(
          ObjectWriter().AddInt("status", answer.number).Text(),
          "application/json");
      break;
    case Answer::Kind::kHtml:
      response.set_content(
          "<html><head><title>502 Bad Gateway</title></head>"
          "<body><h1>502 Bad Gateway</h1></body></html>\n",
          "text/html");
      break;
    case Answer::Kind::kDrop:
      // The status line and headers go out, then the provider fails and
      // httplib closes the connection: the client reads a truncated answer.
      response.set_content_provider(
          kDroppedBodyLength, "application/json",
          [](size_t, size_t, httplib::DataSink&) { return false; });
      break;
    case Answer::Kind::kBody:
      response.set_content(answer.message, "application/json");
      break;
    case Answer::Kind::kHang: {
      std::unique_lock lock(mutex_);
      stop_requested_.wait(lock, [this] { return stopping_; });
    }
      EndConnection(request, /*reset=*/false);
      break;
    case Answer::Kind::kClose:
      EndConnection(request, /*reset=*/false);
      break;
    case Answer::Kind::kReset:
      EndConnection(request, /*reset=*/true);
      break;
  }
}

void ReceivingService::Report(const std::string& line) {
  if (options_.on_request)
    options_.on_request(line);
}

}  // namespace tools
