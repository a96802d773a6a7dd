#include "base/net/http_transport.h"

#include <utility>

#include "base/logging/logging.h"
#include "base/utils/string_util.h"

namespace base::net {

std::string BodyReadProblem(int64_t count,
                            int64_t read_so_far,
                            int64_t content_length) {
  if (count < 0)
    return "the body stream cannot be read";
  if (count == 0 && read_so_far < content_length) {
    return utils::StringPrintf("the body stream ended after %lld of %lld bytes",
                               static_cast<long long>(read_so_far),
                               static_cast<long long>(content_length));
  }
  if (count > content_length - read_so_far) {
    return utils::StringPrintf(
        "the body stream yields more than the %lld bytes announced",
        static_cast<long long>(content_length));
  }
  return std::string();
}

HTTPTransport::HTTPTransport() = default;

HTTPTransport::~HTTPTransport() = default;

void HTTPTransport::SetUrl(std::string url) {
  url_ = std::move(url);
}

void HTTPTransport::SetMethod(HTTPMethod method) {
  method_ = method;
}

void HTTPTransport::SetConnectTimeout(int64_t seconds) {
  connect_timeout_ = seconds;
}

void HTTPTransport::SetHeader(const std::string& name,
                              const std::string& value) {
  headers_[name] = value;
}

void HTTPTransport::SetBody(std::unique_ptr<HTTPBodyStream> body) {
  body_ = std::move(body);
}

void HTTPTransport::SetProgressCallback(const ProgressCallback& callback) {
  if (body_ && callback) {
    body_->set_progress_callback(callback);
  }
}

bool HTTPTransport::ExecuteSynchronously(std::string& response,
                                         uint64_t retries) {
  if (url_.empty()) {
    TLV_LOG(logging::kError,
            "HTTPTransport::ExecuteSynchronously url is empty");
    response.append("url is empty");
    return false;
  }
  // Counting up to retries inclusive, and stopping there, never wraps around,
  // even for the largest count.
  for (uint64_t attempt = 0;; ++attempt) {
    last_attempt_ = HTTPAttemptOutcome();
    if (!body_) {
      // Every method sends a body, GET included; a missing one is a caller's
      // mistake that each attempt reports.
      TLV_LOG(logging::kError,
              "HTTPTransport::ExecuteSynchronously body stream is empty");
      response.append("body stream is empty");
    } else if (ExecuteSynchronously(response)) {
      return true;
    }
    TLV_LOG(logging::kWarn, "HTTPTransport::ExecuteSynchronously retry {}",
            attempt);
    if (attempt == retries) {
      return false;
    }
  }
}

const char* HTTPMethodText(HTTPMethod method) {
  switch (method) {
    case kGet:
      return "GET";
    case kPut:
      return "PUT";
    case kPost:
      break;
  }
  return "POST";
}

}  // namespace base::net
