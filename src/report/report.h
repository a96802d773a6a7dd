#ifndef REPORT_REPORT_H_
#define REPORT_REPORT_H_

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "base/net/http_transport.h"

namespace tlv {

// The signature headers of a data upload for one body at one request time.
struct Signature {
  std::string content_md5;    // MD5 of the body, 32 lowercase hex digits
  std::string date;           // the request time, decimal seconds since 1970
  std::string authorization;  // HMAC-SHA1, 40 lowercase hex digits
};

// Signs body as the data-upload service checks it: the HMAC-SHA1, under the
// service's key, of the five lines "POST", the body's MD5, "application/
// json", the request time and "hmac-sha1", joined by '\n' without a final
// one. A digest that cannot be computed leaves zero bytes in its text.
Signature SignBody(const std::string& body, int64_t request_time_seconds);

// One HTTP request, sent once and synchronously on its own transport. Fill
// it in this order: SetUrl, SetMethod, Sign or SetPlainHeaders, the body,
// then StartWithBlock. Every report sends "Accept: */*" and
// "Connection: keep-alive" and allows 15 seconds to connect.
class BaseReport {
 public:
  BaseReport(const BaseReport&) = delete;
  BaseReport& operator=(const BaseReport&) = delete;
  virtual ~BaseReport();

  void SetUrl(const std::string& url);
  void SetMethod(base::net::HTTPMethod method);

  // Sets "CONTENT-TYPE", "cms-signature", "CONTENT-MD5", "DATE" and
  // "Authorization" for the bytes of one whole pass over body, which is
  // then the body to send. The request time is the server-corrected clock
  // of the timer service. False, with no header set, when the pass fails or
  // yields another number of bytes than the body's Size().
  bool Sign(base::net::HTTPBodyStream& body);
  // Sets "CONTENT-TYPE: application/json" and "DATE" only.
  void SetPlainHeaders();

  // Hands the body to the transport.
  virtual void PrepareBody() = 0;

  // Sends the request with up to retries further attempts and returns
  // whether the transport succeeded; response receives the response body,
  // or the error texts. A report sends at most once: a second call fails
  // with "report has been started" appended to response. A null response
  // fails before anything is sent. A service that answers that it is busy
  // is given its pause (ServicePauses::Heed); whether to send at all is the
  // caller's to ask first.
  bool StartWithBlock(std::string* response, uint64_t retries);

  // The outcome of the last attempt StartWithBlock made.
  const base::net::HTTPAttemptOutcome& last_attempt() const {
    return transport_->last_attempt();
  }

 protected:
  BaseReport();

  base::net::HTTPTransport& transport() { return *transport_; }

 private:
  const std::unique_ptr<base::net::HTTPTransport> transport_;
  bool started_ = false;
};

// A report whose body is a text held in memory or a stream of its own.
class SimpleReport : public BaseReport {
 public:
  // Each replaces the body set before. The report owns the stream alone,
  // and hands it on to its transport.
  void SetBody(std::string body);
  void SetBody(std::unique_ptr<base::net::HTTPBodyStream> body);

  // Hands the body stream, or the body text moved into one, to the
  // transport.
  void PrepareBody() override;

 private:
  std::string body_;
  std::unique_ptr<base::net::HTTPBodyStream> body_stream_;
};

// A crash report to the data-upload service; signed with Sign.
class TelvaneReport final : public SimpleReport {};

// A batch of telemetry events to the log-collection service; sent with the
// plain headers. Where the telemetry function of the same name is visible,
// name this type as "class tlv::TelemetryReport".
class TelemetryReport final : public SimpleReport {};

}  // namespace tlv

#endif  // REPORT_REPORT_H_
