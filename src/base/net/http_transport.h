#ifndef BASE_NET_HTTP_TRANSPORT_H_
#define BASE_NET_HTTP_TRANSPORT_H_

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "base/net/http_body.h"

namespace base::net {

// Method texts "GET", "POST" and "PUT"; any other value is sent as "POST".
enum HTTPMethod : int32_t {
  kGet = 0,
  kPost = 1,
  kPut = 2,
};

// What the last attempt of a request learned of the service, for a caller
// that weighs a failure.
struct HTTPAttemptOutcome {
  // The answer's HTTP status; 0 when no answer came.
  int32_t status = 0;
  // The answer's Retry-After header as it came, when it had one.
  std::optional<std::string> retry_after;
  // The attempt failed because one of the time-outs ran out: the service
  // made the caller wait, and would most likely do so again.
  bool timed_out = false;
};

// Whether an answer of this status is the service's last word on the
// request, so that sending it again at once would only get the same answer
// and add to the load: 413 (the body is too large), 429 (too many requests)
// and 503 (the service is unavailable).
bool IsFinalStatus(int32_t status);

// How many seconds a Retry-After value (RFC 9110 10.2.3) asks to wait from
// now_seconds (seconds since 1970 of the system clock): its delay-seconds,
// or its HTTP-date less now, never below 0. None for any other text. A
// number too large for 64 bits counts as the largest one.
std::optional<int64_t> RetryAfterSeconds(std::string_view value,
                                         int64_t now_seconds);

// An HTTP-date (RFC 9110 5.6.7) in any of its three forms, IMF-fixdate "Sun,
// 06 Nov 1994 08:49:37 GMT", the obsolete RFC 850 "Sunday, 06-Nov-94
// 08:49:37 GMT" (a two-digit year below 70 taken as 20xx) and asctime's "Sun
// Nov  6 08:49:37 1994", as seconds since 1970; none for any other text.
std::optional<int64_t> ParseHttpDate(std::string_view text);

// A blocking HTTP/1.1 client for one request at a time. Configure it, then
// call ExecuteSynchronously, which makes one or more attempts. Every attempt
// opens a fresh connection, announces the body by its exact length, streams
// it in chunks of 32768 bytes, and succeeds exactly for the statuses 200-203;
// the system's proxy settings and certificate checks apply unchanged.
//
// One implementation per platform, chosen by the build; users see only this
// class. Not thread-safe: one thread drives a transport.
class HTTPTransport {
 public:
  // Longest time, in seconds, for each phase of an attempt.
  static constexpr int64_t kDefaultTimeoutSeconds = 15;

  // A new transport of the platform's kind, with the defaults below. The
  // caller is its one owner.
  static std::unique_ptr<HTTPTransport> Create();

  HTTPTransport(const HTTPTransport&) = delete;
  HTTPTransport& operator=(const HTTPTransport&) = delete;
  virtual ~HTTPTransport();

  // An absolute http or https URL, UTF-8. A fragment is not sent.
  void SetUrl(std::string url);
  // The default is kPost.
  void SetMethod(HTTPMethod method);
  // Limits name resolution and connecting; the default is 15 seconds. The
  // other phases keep their 15 seconds.
  void SetConnectTimeout(int64_t seconds);
  // Inserts the header, or replaces the value of a name already set. Names
  // compare byte-wise, so "Accept" and "accept" are two headers. Headers are
  // sent in that order, with the names spelled as given.
  void SetHeader(const std::string& name, const std::string& value);
  // The request body, which the transport then owns alone. Every attempt
  // needs one, GET included.
  void SetBody(std::unique_ptr<HTTPBodyStream> body);
  // Installs callback on the current body, so call it after SetBody. An
  // empty callback, or no body, leaves everything as it is.
  void SetProgressCallback(const ProgressCallback& callback);

  // Makes up to retries + 1 attempts, one right after the other, and logs a
  // WARN line after each failed one; an answer of a final status
  // (IsFinalStatus) ends the attempts at once, with a line that says so.
  // True at the first success, with response holding exactly the response
  // body. On failure response holds the error texts of all attempts, back
  // to back ("HTTP status 404", or "<step>: <message> (0x<code>)"). An empty
  // URL fails before any attempt with "url is empty".
  bool ExecuteSynchronously(std::string& response, uint64_t retries);

  const std::string& url() const { return url_; }
  // The last attempt's outcome; all defaults before the first.
  const HTTPAttemptOutcome& last_attempt() const { return last_attempt_; }

 protected:
  HTTPTransport();

  // Filled in by the attempt under way, which starts from the defaults.
  HTTPAttemptOutcome& attempt_outcome() { return last_attempt_; }

  // One attempt, made only with url and body set: clears response and fills
  // it with the body on success, appends one error text on failure, and logs
  // the failure.
  virtual bool ExecuteSynchronously(std::string& response) = 0;

  HTTPMethod method() const { return method_; }
  const std::map<std::string, std::string>& headers() const { return headers_; }
  HTTPBodyStream* body() const { return body_.get(); }
  int64_t resolve_timeout() const { return resolve_timeout_; }
  int64_t connect_timeout() const { return connect_timeout_; }
  int64_t send_timeout() const { return send_timeout_; }
  int64_t receive_timeout() const { return receive_timeout_; }

 private:
  std::unique_ptr<HTTPBodyStream> body_;
  std::string url_;
  HTTPMethod method_ = kPost;
  std::map<std::string, std::string> headers_;
  int64_t resolve_timeout_ = kDefaultTimeoutSeconds;
  int64_t connect_timeout_ = kDefaultTimeoutSeconds;
  int64_t send_timeout_ = kDefaultTimeoutSeconds;
  int64_t receive_timeout_ = kDefaultTimeoutSeconds;
  HTTPAttemptOutcome last_attempt_;
};

// For the platform backends: what is wrong with a body stream's read that
// returned count after read_so_far of the announced content_length bytes
// (it failed, ended early or yields more), or empty for a sound read. A
// backend fails the attempt on any of these, since the server would
// otherwise wait for bytes that never come or receive a body that is not
// the stream's.
std::string BodyReadProblem(int64_t count,
                            int64_t read_so_far,
                            int64_t content_length);

// The method's text as sent on the request line.
const char* HTTPMethodText(HTTPMethod method);

}  // namespace base::net

#endif  // BASE_NET_HTTP_TRANSPORT_H_
