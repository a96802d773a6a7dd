#include "base/net/http_transport.h"

#include <algorithm>
#include <fstream>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "base/logging/log_record.h"
#include "base/utils/string_util.h"
#include "gtest/gtest.h"
#include "test/loopback_server.h"
#include "test/process_log.h"
#include "test/scoped_temp_dir.h"

namespace base::net {
namespace {

// What each platform's transport says where the tests below expect a
// particular failure, and the header lines its client library adds on its
// own, which the tests leave out.
#if defined(_WIN32)
// A regular expression for the error text of a WinHTTP call and code. The
// system's message for the code may be missing (Wine has no message table
// for WinHTTP's codes), and then the text says so.
std::string WinHttpError(const std::string& step, const std::string& code) {
  return step + ": (.+ \\(" + code +
         "\\)|error 0x[0-9a-f]+ while retrieving error " + code + ")";
}
// ERROR_READ_FAULT.
constexpr char kBodyStreamErrorCode[] = "0x1e";
// ERROR_WINHTTP_CANNOT_CONNECT.
const std::string kRefusedError = WinHttpError("WinHttpSendRequest", "0x2efd");
const std::vector<std::string> kLibraryHeaders = {"Host", "Content-Length",
                                                  "User-Agent", "Connection"};
#else
// CURLE_READ_ERROR.
constexpr char kBodyStreamErrorCode[] = "0x1a";
// CURLE_COULDNT_CONNECT.
const std::string kRefusedError = R"(curl_easy_perform: .+ \(0x7\))";
const std::vector<std::string> kLibraryHeaders = {"Host", "Content-Length"};
#endif

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

// The loopback server, in a scope of the test's own; the route decides the
// answer.
class HTTPTransportTest : public ::testing::Test {
 protected:
  std::unique_ptr<HTTPTransport> NewTransport(
      const std::string& path,
      std::unique_ptr<HTTPBodyStream> body) const {
    std::unique_ptr<HTTPTransport> transport = HTTPTransport::Create();
    transport->SetUrl(server_.Url(path));
    transport->SetBody(std::move(body));
    return transport;
  }

  // The bodies of the complete requests that reached the server.
  std::vector<std::string> bodies() const {
    std::vector<std::string> bodies;
    for (const test::LoopbackServer::Request& request : server_.requests()) {
      bodies.push_back(request.body);
    }
    return bodies;
  }

  test::ProcessLog log_;
  test::LoopbackServer server_;
};

TEST_F(HTTPTransportTest, StatusDecidesSuccess) {
  for (const int status : {200, 203, 204, 404, 500}) {
    SCOPED_TRACE(status);
    const bool accepted = status <= 203;
    std::string response;
    EXPECT_EQ(NewTransport("/status/" + std::to_string(status),
                           std::make_unique<StringHTTPBodyStream>("data"))
                  ->ExecuteSynchronously(response, 0),
              accepted);
    const std::string error = "HTTP status " + std::to_string(status);
    EXPECT_EQ(response, accepted ? "reply" : error);
    EXPECT_EQ(Messages(log_.Take(), logging::kError),
              accepted ? std::vector<std::string>{}
                       : std::vector<std::string>{error});
  }
}

// An answer that would come again to the same request at once ends the
// attempts: the service asks for less (429, 503) or the body will not do
// (413). Any other failure is tried again. The outcome carries the status
// and the service's Retry-After.
TEST_F(HTTPTransportTest, FinalStatusIsNotTriedAgain) {
  struct Case {
    std::string path;
    size_t attempts;
    int32_t status;
    std::optional<std::string> retry_after;
  };
  const std::vector<Case> cases = {
      {"/status/503/retry-after/120", 1, 503, "120"},
      {"/status/429", 1, 429, std::nullopt},
      {"/status/413", 1, 413, std::nullopt},
      {"/status/500/retry-after/5", 4, 500, "5"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    const size_t before = bodies().size();
    std::unique_ptr<HTTPTransport> transport =
        NewTransport(c.path, std::make_unique<StringHTTPBodyStream>("data"));
    std::string response;
    EXPECT_FALSE(transport->ExecuteSynchronously(response, 3));
    EXPECT_EQ(bodies().size() - before, c.attempts);
    EXPECT_EQ(transport->last_attempt().status, c.status);
    EXPECT_EQ(transport->last_attempt().retry_after, c.retry_after);
    EXPECT_FALSE(transport->last_attempt().timed_out);
    const std::vector<std::string> warnings =
        Messages(log_.Take(), logging::kWarn);
    ASSERT_EQ(warnings.size(), c.attempts + (c.attempts == 1 ? 1 : 0));
    if (c.attempts == 1) {
      EXPECT_EQ(warnings.back(),
                "HTTPTransport::ExecuteSynchronously HTTP status " +
                    std::to_string(c.status) +
                    " is the service's answer to this request; it is not "
                    "sent again");
    }
  }
}

TEST(RetryAfterTest, SecondsOrAnHttpDateInEachForm) {
  // Sun, 06 Nov 1994 08:49:37 GMT.
  constexpr int64_t kDate = 784111777;
  struct Case {
    const char* value;
    std::optional<int64_t> seconds;
  };
  const std::vector<Case> cases = {
      {"120", 120},
      {" 0 ", 0},
      {"99999999999999999999999", std::numeric_limits<int64_t>::max()},
      {"Sun, 06 Nov 1994 08:50:37 GMT", 60},
      {"Sunday, 06-Nov-94 08:51:37 GMT", 120},
      {"Sun Nov  6 08:49:40 1994", 3},
      {"Sun, 06 Nov 1994 08:48:37 GMT", 0},  // a date gone by
      {"Thu, 01 Jan 2037 00:00:00 GMT", 2114380800 - kDate},
      {"-5", std::nullopt},
      {"1.5", std::nullopt},
      {"", std::nullopt},
      {"soon", std::nullopt},
      {"Sun, 06 Nov 1994 08:49:37", std::nullopt},
      {"Sun, 31 Feb 1994 08:49:37 GMT", std::nullopt},
      {"Sun, 06 Nov 1994 25:49:37 GMT", std::nullopt},
      {"Sun, 06 Nov 1994 08:49:37 GMT and more", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(RetryAfterSeconds(c.value, kDate), c.seconds);
  }
}

TEST_F(HTTPTransportTest, StreamsBodyInFixedChunks) {
  const std::string data = Pattern(70000);
  auto owned_body = std::make_unique<TestBodyStream>(data, data.size());
  const TestBodyStream* const body = owned_body.get();
  std::unique_ptr<HTTPTransport> transport =
      NewTransport("/status/200", std::move(owned_body));
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
    std::function<std::unique_ptr<HTTPBodyStream>()> body;
    const char* error;
  };
  const std::vector<Case> cases = {
      {"file cannot be opened",
       [&dir] {
         return std::make_unique<FileReaderHTTPBodyStream>(
             utils::Utf8ToWide(dir.path() + "/missing.zip"));
       },
       "the body stream cannot be read"},
      {"read fails after the first chunk",
       [] {
         return std::make_unique<TestBodyStream>(Pattern(70000), 70000, 1);
       },
       "the body stream cannot be read"},
      {"stream shorter than announced",
       [] { return std::make_unique<TestBodyStream>(Pattern(40000), 50000); },
       "the body stream ended after 40000 of 50000 bytes"},
      {"stream longer than announced",
       [] { return std::make_unique<TestBodyStream>(Pattern(32778), 32768); },
       "the body stream yields more than the 32768 bytes announced"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string response;
    EXPECT_FALSE(NewTransport("/status/200", c.body())
                     ->ExecuteSynchronously(response, 0));
    EXPECT_EQ(response, std::string("ReadWithProgress: ") + c.error + " (" +
                            kBodyStreamErrorCode + ")");
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
      NewTransport("/fail-once", std::make_unique<FileReaderHTTPBodyStream>(
                                     utils::Utf8ToWide(path)))
          ->ExecuteSynchronously(response, 1));
  EXPECT_EQ(response, "accepted");
  EXPECT_EQ(bodies(), (std::vector<std::string>{data, data}));
  EXPECT_EQ(
      Messages(log_.Take(), logging::kWarn),
      std::vector<std::string>{"HTTPTransport::ExecuteSynchronously retry 0"});
}

TEST_F(HTTPTransportTest, RetriesUntilAttemptsRunOut) {
  for (const uint64_t retries : {0, 3}) {
    SCOPED_TRACE(retries);
    std::unique_ptr<HTTPTransport> transport = HTTPTransport::Create();
    transport->SetUrl("http://127.0.0.1:" +
                      std::to_string(server_.refusing_port()) + "/upload");
    transport->SetBody(std::make_unique<StringHTTPBodyStream>("data"));
    std::string response;
    EXPECT_FALSE(transport->ExecuteSynchronously(response, retries));
    // A refusal comes at once, without an answer.
    EXPECT_EQ(transport->last_attempt().status, 0);
    EXPECT_FALSE(transport->last_attempt().timed_out);

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
      EXPECT_TRUE(Matches(error, kRefusedError));
      joined += error;
    }
    EXPECT_EQ(response, joined);
  }
}

TEST_F(HTTPTransportTest, MissingUrlOrBodyIsReported) {
  auto owned_body = std::make_unique<TestBodyStream>("data", 4);
  const TestBodyStream* const body = owned_body.get();
  std::unique_ptr<HTTPTransport> transport = HTTPTransport::Create();
  transport->SetBody(std::move(owned_body));
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
  struct Case {
    std::string url;
    std::string error;  // a regular expression
    std::string logged;
  };
  const std::string ftp_url =
      "ftp://127.0.0.1:" + std::to_string(server_.refusing_port()) + "/upload";
#if defined(_WIN32)
  // WinHTTP knows no scheme but http and https.
  const std::string error = WinHttpError("WinHttpCrackUrl", "0x2ee6");
  const std::vector<Case> cases = {
      {"no scheme here", error, error + " url:  no scheme here"},
      {ftp_url, error, error + " url:  " + ftp_url},
  };
#else
  const std::vector<Case> cases = {
      {"no scheme here", R"(curl_url_set: .+ \(0x[0-9a-f]+\))",
       R"(curl_url_set: .+ \(0x[0-9a-f]+\) url:  no scheme here)"},
      // Not connecting at all, rather than to a refusing port, shows that
      // protocols other than http and https are off.
      {ftp_url, R"(curl_easy_perform: .+ \(0x1\))",
       R"(curl_easy_perform: .+ \(0x1\))"},
  };
#endif
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    std::unique_ptr<HTTPTransport> transport = HTTPTransport::Create();
    transport->SetUrl(c.url);
    transport->SetBody(std::make_unique<StringHTTPBodyStream>("data"));
    std::string response;
    EXPECT_FALSE(transport->ExecuteSynchronously(response, 0));
    EXPECT_TRUE(Matches(response, c.error));
    const std::vector<std::string> errors =
        Messages(log_.Take(), logging::kError);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_TRUE(Matches(errors[0], c.logged));
  }
}

#if defined(_WIN32)
// WinHttpSendRequest announces the body's length in 32 bits: a longer body
// is refused before a byte of it is read or anything is sent, rather than
// announced with a wrong length.
TEST_F(HTTPTransportTest, BodyTooLongToAnnounceIsRefused) {
  for (const int64_t size : {int64_t{1} << 32, int64_t{5} << 30}) {
    SCOPED_TRACE(size);
    auto owned_body = std::make_unique<TestBodyStream>("", size);
    const TestBodyStream* const body = owned_body.get();
    const std::unique_ptr<HTTPTransport> transport =
        NewTransport("/status/200", std::move(owned_body));
    std::string response;
    EXPECT_FALSE(transport->ExecuteSynchronously(response, 0));
    const std::string error = "WinHttpSendRequest: a body of " +
                              std::to_string(size) +
                              " bytes cannot be announced in a 32-bit length "
                              "(0x216)";
    EXPECT_EQ(response, error);
    EXPECT_EQ(Messages(log_.Take(), logging::kError),
              std::vector<std::string>{error});
    EXPECT_TRUE(body->reads.empty());
  }
  EXPECT_TRUE(bodies().empty());
}
#endif

// The request exactly as it arrived: headers in the order sent, names as
// spelled.
TEST(HTTPRequestTest, SendsRequestAsConfigured) {
  struct Case {
    const char* name;
    HTTPMethod method;
    std::map<std::string, std::string> headers;
    size_t body_size;
    const char* method_text;
    // Every header line but those the client library adds, in order, with
    // trailing white space (which HTTP ignores) removed.
    std::vector<std::string> header_lines;
  };
  const std::vector<Case> cases = {
      {"byte-wise name order, names as spelled",
       kGet,
       {{"X-B", "1"}, {"a-lower", "3"}, {"X-A", "2"}, {"Z-upper", "4"}},
       0,
       "GET",
       {"X-A: 2", "X-B: 1", "Z-upper: 4", "a-lower: 3"}},
      // Above 1 MiB curl would add "Expect: 100-continue".
      {"large body with the caller's own content type",
       kPut,
       {{"CONTENT-TYPE", "application/json"}, {"Accept", "text/plain"}},
       2 * 1024 * 1024 + 1,
       "PUT",
       {"Accept: text/plain", "CONTENT-TYPE: application/json"}},
      {"unknown method, empty value",
       static_cast<HTTPMethod>(7),
       {{"X-Empty", ""}},
       10,
       "POST",
       {"X-Empty:"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const test::LoopbackServer server;
    const std::string data = Pattern(c.body_size);
    std::unique_ptr<HTTPTransport> transport = HTTPTransport::Create();
    transport->SetUrl(server.Url("/upload?a=1#frag"));
    transport->SetMethod(c.method);
    for (const auto& [name, value] : c.headers) {
      transport->SetHeader(name, value);
    }
    transport->SetBody(std::make_unique<StringHTTPBodyStream>(data));
    std::string response;
    EXPECT_TRUE(transport->ExecuteSynchronously(response, 0)) << response;
    EXPECT_EQ(response, "ok");

    const std::vector<test::LoopbackServer::Request> requests =
        server.requests();
    ASSERT_EQ(requests.size(), 1u);
    const std::vector<std::string>& head = requests[0].head;
    ASSERT_FALSE(head.empty());
    EXPECT_EQ(head[0], std::string(c.method_text) + " " +
                           server.Target("/upload?a=1") + " HTTP/1.1");
    std::vector<std::string> header_lines;
    std::vector<std::string> length_lines;
    for (size_t i = 1; i < head.size(); ++i) {
      const std::string name = head[i].substr(0, head[i].find(':'));
      if (name == "Content-Length") {
        length_lines.push_back(head[i]);
      }
      if (std::find(kLibraryHeaders.begin(), kLibraryHeaders.end(), name) ==
          kLibraryHeaders.end()) {
        header_lines.push_back(
            head[i].substr(0, head[i].find_last_not_of(" \t") + 1));
      }
    }
    // An empty body may go without Content-Length, which HTTP reads as no
    // body: WinHTTP leaves it out of a GET.
    if (c.body_size != 0 || !length_lines.empty()) {
      EXPECT_EQ(length_lines,
                std::vector<std::string>{"Content-Length: " +
                                         std::to_string(c.body_size)});
    }
    EXPECT_EQ(header_lines, c.header_lines);
    EXPECT_TRUE(requests[0].body == data) << "body differs";
  }
}

}  // namespace
}  // namespace base::net
