#include "base/net/http_transport.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <httplib.h>

#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "base/logging/log_record.h"
#include "base/utils/string_util.h"
#include "gtest/gtest.h"
#include "test/http_server.h"
#include "test/process_log.h"
#include "test/scoped_temp_dir.h"

namespace base::net {
namespace {

// Whether pattern, an ECMAScript regular expression, matches all of text.
::testing::AssertionResult Matches(const std::string& text,
                                   const std::string& pattern) {
  if (std::regex_match(text, std::regex(pattern))) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure()
         << "\"" << text << "\" does not match " << pattern;
}

// The messages of the lines logged at level, in order.
std::vector<std::string> Messages(const std::string& log, int32_t level) {
  const std::string prefix = std::to_string(level) + " ";
  std::vector<std::string> messages;
  std::istringstream lines(log);
  for (std::string line; std::getline(lines, line);) {
    if (line.starts_with(prefix)) {
      messages.push_back(line.substr(line.find(": ") + 2));
    }
  }
  return messages;
}

// Different bytes at nearby offsets, so a lost or repeated chunk shows.
std::string Pattern(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) {
    bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
  }
  return bytes;
}

// Serves data while claiming size bytes, records what each Read returned,
// and fails the read numbered fail_read (counted from 0 since the last
// Reset), if any.
class TestBodyStream final : public HTTPBodyStream {
 public:
  TestBodyStream(std::string data, int64_t size, int fail_read = -1)
      : data_(std::move(data)), size_(size), fail_read_(fail_read) {}

  int64_t Size() override { return size_; }
  void Reset() override {
    data_.Reset();
    position_ = 0;
    ++resets;
    reads.clear();
  }
  int64_t Read(char* buffer, int64_t capacity) override {
    const int64_t count = static_cast<int>(reads.size()) == fail_read_
                              ? -1
                              : data_.Read(buffer, capacity);
    reads.push_back(count);
    if (count > 0) {
      position_ += count;
    }
    return count;
  }

  int resets = 0;
  std::vector<int64_t> reads;

 private:
  StringHTTPBodyStream data_;
  const int64_t size_;
  const int fail_read_;
};

// Binds socket to a free port on loopback and returns the port.
int BindToLoopback(int socket) {
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof(address);
  EXPECT_EQ(bind(socket, reinterpret_cast<sockaddr*>(&address), length), 0);
  EXPECT_EQ(getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length),
            0);
  return ntohs(address.sin_port);
}

// Binds a TCP port on loopback without listening, so a connection to it is
// refused while the port stays reserved.
class RefusingPort final {
 public:
  RefusingPort()
      : socket_(socket(AF_INET, SOCK_STREAM, 0)),
        port_(BindToLoopback(socket_)) {}
  ~RefusingPort() { close(socket_); }

  int port() const { return port_; }

 private:
  const int socket_;
  const int port_;
};

// An httplib server on loopback. Every request's body is recorded; the
// route decides the answer.
class HTTPTransportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server_.server().Post(
        R"(/status/(\d+))",
        [this](const httplib::Request& request, httplib::Response& response) {
          Record(request);
          response.status = std::stoi(request.matches[1]);
          response.set_content("reply", "text/plain");
        });
    server_.server().Post("/fail-once", [this](const httplib::Request& request,
                                               httplib::Response& response) {
      const bool first = Record(request) == 1;
      response.status = first ? 500 : 200;
      response.set_content(first ? "busy" : "accepted", "text/plain");
    });
    ASSERT_TRUE(server_.Start());
  }

  std::string Url(const std::string& path) const { return server_.Url(path); }

  std::shared_ptr<HTTPTransport> NewTransport(
      const std::string& path,
      std::shared_ptr<HTTPBodyStream> body) const {
    std::shared_ptr<HTTPTransport> transport = HTTPTransport::Create();
    transport->SetUrl(Url(path));
    transport->SetBody(std::move(body));
    return transport;
  }

  std::vector<std::string> bodies() {
    std::lock_guard<std::mutex> lock(mutex_);
    return bodies_;
  }

  test::ProcessLog log_;

 private:
  // Returns how many requests arrived so far, this one included.
  size_t Record(const httplib::Request& request) {
    std::lock_guard<std::mutex> lock(mutex_);
    bodies_.push_back(request.body);
    return bodies_.size();
  }

  std::mutex mutex_;
  std::vector<std::string> bodies_;
  // Last, so that it stops before what its routes use is gone.
  test::HttpServer server_;
};

TEST_F(HTTPTransportTest, StatusDecidesSuccess) {
  for (const int status : {200, 203, 204, 404, 500}) {
    SCOPED_TRACE(status);
    const bool accepted = status <= 203;
    std::string response;
    EXPECT_EQ(NewTransport("/status/" + std::to_string(status),
                           std::make_shared<StringHTTPBodyStream>("data"))
                  ->ExecuteSynchronously(response, 0),
              accepted);
    const std::string error = "HTTP status " + std::to_string(status);
    EXPECT_EQ(response, accepted ? "reply" : error);
    EXPECT_EQ(Messages(log_.Take(), logging::kError),
              accepted ? std::vector<std::string>{}
                       : std::vector<std::string>{error});
  }
}

TEST_F(HTTPTransportTest, StreamsBodyInFixedChunks) {
  const std::string data = Pattern(70000);
  auto body = std::make_shared<TestBodyStream>(data, data.size());
  std::shared_ptr<HTTPTransport> transport = NewTransport("/status/200", body);
  std::vector<int32_t> percents;
  transport->SetProgressCallback(
      [&percents](int32_t percent) { percents.push_back(percent); });

  std::string response;
  ASSERT_TRUE(transport->ExecuteSynchronously(response, 0)) << response;
  EXPECT_EQ(bodies(), std::vector<std::string>{data});
  EXPECT_EQ(body->reads, (std::vector<int64_t>{32768, 32768, 4464, 0}));
  EXPECT_EQ(percents, (std::vector<int32_t>{0, 46, 93, 100}));
  EXPECT_EQ(Messages(log_.Take(), logging::kInfo),
            (std::vector<std::string>{"content_length = 70000",
                                      "total_written = 70000"}));
}

// Whatever goes wrong with the body, the server never sees a complete
// request.
TEST_F(HTTPTransportTest, BodyStreamFailureFailsAttempt) {
  test::ScopedTempDir dir;
  struct Case {
    const char* name;
    std::function<std::shared_ptr<HTTPBodyStream>()> body;
    const char* error;
  };
  const std::vector<Case> cases = {
      {"file cannot be opened",
       [&dir] {
         return std::make_shared<FileReaderHTTPBodyStream>(
             utils::Utf8ToWide(dir.path() + "/missing.zip"));
       },
       "the body stream cannot be read"},
      {"read fails after the first chunk",
       [] {
         return std::make_shared<TestBodyStream>(Pattern(70000), 70000, 1);
       },
       "the body stream cannot be read"},
      {"stream shorter than announced",
       [] { return std::make_shared<TestBodyStream>(Pattern(40000), 50000); },
       "the body stream ended after 40000 of 50000 bytes"},
      {"stream longer than announced",
       [] { return std::make_shared<TestBodyStream>(Pattern(32778), 32768); },
       "the body stream yields more than the 32768 bytes announced"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string response;
    EXPECT_FALSE(NewTransport("/status/200", c.body())
                     ->ExecuteSynchronously(response, 0));
    EXPECT_EQ(response,
              std::string("ReadWithProgress: ") + c.error + " (0x1a)");
    EXPECT_EQ(Messages(log_.Take(), logging::kError),
              std::vector<std::string>{response});
  }
  EXPECT_TRUE(bodies().empty());
}

TEST_F(HTTPTransportTest, RetryResendsWholeFileAndKeepsOnlyTheAnswer) {
  test::ScopedTempDir dir;
  const std::string path = dir.path() + "/report.zip";
  const std::string data = Pattern(100000);
  std::ofstream(path, std::ios::binary) << data;

  std::string response;
  EXPECT_TRUE(
      NewTransport("/fail-once", std::make_shared<FileReaderHTTPBodyStream>(
                                     utils::Utf8ToWide(path)))
          ->ExecuteSynchronously(response, 1));
  EXPECT_EQ(response, "accepted");
  EXPECT_EQ(bodies(), (std::vector<std::string>{data, data}));
  EXPECT_EQ(
      Messages(log_.Take(), logging::kWarn),
      std::vector<std::string>{"HTTPTransport::ExecuteSynchronously retry 0"});
}

TEST_F(HTTPTransportTest, RetriesUntilAttemptsRunOut) {
  const RefusingPort port;
  for (const uint64_t retries : {0, 3}) {
    SCOPED_TRACE(retries);
    std::shared_ptr<HTTPTransport> transport = HTTPTransport::Create();
    transport->SetUrl("http://127.0.0.1:" + std::to_string(port.port()) +
                      "/upload");
    transport->SetBody(std::make_shared<StringHTTPBodyStream>("data"));
    std::string response;
    EXPECT_FALSE(transport->ExecuteSynchronously(response, retries));

    const std::string log = log_.Take();
    std::vector<std::string> retry_lines;
    for (uint64_t i = 0; i <= retries; ++i) {
      retry_lines.push_back("HTTPTransport::ExecuteSynchronously retry " +
                            std::to_string(i));
    }
    EXPECT_EQ(Messages(log, logging::kWarn), retry_lines);
    // One error text per attempt, logged and appended back to back.
    const std::vector<std::string> errors = Messages(log, logging::kError);
    ASSERT_EQ(errors.size(), retries + 1);
    std::string joined;
    for (const std::string& error : errors) {
      EXPECT_TRUE(Matches(error, R"(curl_easy_perform: .+ \(0x7\))"));
      joined += error;
    }
    EXPECT_EQ(response, joined);
  }
}

TEST_F(HTTPTransportTest, MissingUrlOrBodyIsReported) {
  auto body = std::make_shared<TestBodyStream>("data", 4);
  std::shared_ptr<HTTPTransport> transport = HTTPTransport::Create();
  transport->SetBody(body);
  std::string response;
  EXPECT_FALSE(transport->ExecuteSynchronously(response, 3));
  EXPECT_EQ(response, "url is empty");
  EXPECT_EQ(body->resets, 0) << "an attempt was made";
  std::string log = log_.Take();
  EXPECT_EQ(Messages(log, logging::kError),
            std::vector<std::string>{
                "HTTPTransport::ExecuteSynchronously url is empty"});
  EXPECT_TRUE(Messages(log, logging::kWarn).empty());

  // Every attempt needs a body, so each one fails.
  transport = NewTransport("/status/200", nullptr);
  response.clear();
  EXPECT_FALSE(transport->ExecuteSynchronously(response, 1));
  EXPECT_EQ(response, "body stream is emptybody stream is empty");
  log = log_.Take();
  EXPECT_EQ(Messages(log, logging::kWarn).size(), 2u);
  EXPECT_TRUE(bodies().empty());
}

TEST_F(HTTPTransportTest, UnusableUrlFailsAttempt) {
  const RefusingPort port;
  struct Case {
    std::string url;
    const char* error;  // a regular expression
    const char* logged;
  };
  const std::vector<Case> cases = {
      {"no scheme here", R"(curl_url_set: .+ \(0x[0-9a-f]+\))",
       R"(curl_url_set: .+ \(0x[0-9a-f]+\) url:  no scheme here)"},
      // Not connecting at all, rather than to a refusing port, shows that
      // protocols other than http and https are off.
      {"ftp://127.0.0.1:" + std::to_string(port.port()) + "/upload",
       R"(curl_easy_perform: .+ \(0x1\))", R"(curl_easy_perform: .+ \(0x1\))"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    std::shared_ptr<HTTPTransport> transport = HTTPTransport::Create();
    transport->SetUrl(c.url);
    transport->SetBody(std::make_shared<StringHTTPBodyStream>("data"));
    std::string response;
    EXPECT_FALSE(transport->ExecuteSynchronously(response, 0));
    EXPECT_TRUE(Matches(response, c.error));
    const std::vector<std::string> errors =
        Messages(log_.Take(), logging::kError);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_TRUE(Matches(errors[0], c.logged));
  }
}

// Accepts one connection and keeps the request exactly as it arrived:
// httplib files headers in a case-insensitive map, which hides their order.
class RawServer final {
 public:
  RawServer()
      : listener_(socket(AF_INET, SOCK_STREAM, 0)),
        port_(BindToLoopback(listener_)) {
    EXPECT_EQ(listen(listener_, 1), 0);
    thread_ = std::thread([this] { Serve(); });
  }
  ~RawServer() {
    Finish();
    close(listener_);
  }

  int port() const { return port_; }

  // The request's lines up to the blank one, and its body. Stops accepting.
  std::vector<std::string> head() {
    Finish();
    return head_;
  }
  std::string body() {
    Finish();
    return body_;
  }

 private:
  void Finish() {
    if (thread_.joinable()) {
      // Wakes an accept that is still waiting.
      shutdown(listener_, SHUT_RDWR);
      thread_.join();
    }
  }

  void Serve() {
    const int connection = accept(listener_, nullptr, nullptr);
    if (connection < 0) {
      return;
    }
    std::string received;
    size_t head_end = std::string::npos;
    size_t content_length = 0;
    for (;;) {
      if (head_end == std::string::npos &&
          (head_end = received.find("\r\n\r\n")) != std::string::npos) {
        static const std::regex kContentLength(
            "\r\ncontent-length: *([0-9]+)\r\n", std::regex::icase);
        const std::string head = received.substr(0, head_end + 2);
        std::smatch match;
        if (std::regex_search(head, match, kContentLength)) {
          content_length = std::stoul(match[1]);
        }
      }
      if (head_end != std::string::npos &&
          received.size() >= head_end + 4 + content_length) {
        break;
      }
      char buffer[65536];
      const ssize_t count = recv(connection, buffer, sizeof(buffer), 0);
      if (count <= 0) {
        break;
      }
      received.append(buffer, static_cast<size_t>(count));
    }
    if (head_end != std::string::npos) {
      for (size_t start = 0; start < head_end + 2;) {
        const size_t end = received.find("\r\n", start);
        head_.push_back(received.substr(start, end - start));
        start = end + 2;
      }
      body_ = received.substr(head_end + 4);
    }
    static constexpr char kReply[] =
        "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok";
    send(connection, kReply, sizeof(kReply) - 1, MSG_NOSIGNAL);
    close(connection);
  }

  const int listener_;
  const int port_;
  std::thread thread_;
  std::vector<std::string> head_;
  std::string body_;
};

TEST(HTTPRequestTest, SendsRequestAsConfigured) {
  struct Case {
    const char* name;
    HTTPMethod method;
    std::map<std::string, std::string> headers;
    size_t body_size;
    const char* request_line;
    // Every header line but Host and Content-Length, in order.
    std::vector<std::string> header_lines;
  };
  const std::vector<Case> cases = {
      {"byte-wise name order, names as spelled",
       kGet,
       {{"X-B", "1"}, {"a-lower", "3"}, {"X-A", "2"}, {"Z-upper", "4"}},
       0,
       "GET /upload?a=1 HTTP/1.1",
       {"X-A: 2", "X-B: 1", "Z-upper: 4", "a-lower: 3"}},
      // Above 1 MiB curl would add "Expect: 100-continue".
      {"large body with the caller's own content type",
       kPut,
       {{"CONTENT-TYPE", "application/json"}, {"Accept", "text/plain"}},
       2 * 1024 * 1024 + 1,
       "PUT /upload?a=1 HTTP/1.1",
       {"Accept: text/plain", "CONTENT-TYPE: application/json"}},
      {"unknown method, empty value",
       static_cast<HTTPMethod>(7),
       {{"X-Empty", ""}},
       10,
       "POST /upload?a=1 HTTP/1.1",
       {"X-Empty:"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RawServer server;
    const std::string data = Pattern(c.body_size);
    std::shared_ptr<HTTPTransport> transport = HTTPTransport::Create();
    transport->SetUrl("http://127.0.0.1:" + std::to_string(server.port()) +
                      "/upload?a=1#frag");
    transport->SetMethod(c.method);
    for (const auto& [name, value] : c.headers) {
      transport->SetHeader(name, value);
    }
    transport->SetBody(std::make_shared<StringHTTPBodyStream>(data));
    std::string response;
    EXPECT_TRUE(transport->ExecuteSynchronously(response, 0)) << response;
    EXPECT_EQ(response, "ok");

    const std::vector<std::string> head = server.head();
    ASSERT_FALSE(head.empty());
    EXPECT_EQ(head[0], c.request_line);
    std::vector<std::string> header_lines;
    std::vector<std::string> length_lines;
    for (size_t i = 1; i < head.size(); ++i) {
      if (head[i].starts_with("Content-Length: ")) {
        length_lines.push_back(head[i]);
      } else if (!head[i].starts_with("Host: ")) {
        header_lines.push_back(head[i]);
      }
    }
    EXPECT_EQ(length_lines,
              std::vector<std::string>{"Content-Length: " +
                                       std::to_string(c.body_size)});
    EXPECT_EQ(header_lines, c.header_lines);
    EXPECT_TRUE(server.body() == data) << "body differs";
  }
}

}  // namespace
}  // namespace base::net
