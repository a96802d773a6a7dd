#include "base/net/http_transport.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <limits>
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

bool IsFinalStatus(int32_t status) {
  return status == 413 || status == 429 || status == 503;
}

std::optional<int64_t> RetryAfterSeconds(std::string_view value,
                                         int64_t now_seconds) {
  // The header's optional white space.
  const size_t first = value.find_first_not_of(" \t");
  if (first == std::string_view::npos)
    return std::nullopt;
  value = value.substr(first, value.find_last_not_of(" \t") + 1 - first);
  if (value.find_first_not_of("0123456789") == std::string_view::npos) {
    uint64_t seconds = 0;
    const auto [end, error] =
        std::from_chars(value.data(), value.data() + value.size(), seconds);
    constexpr int64_t kLargest = std::numeric_limits<int64_t>::max();
    if (error == std::errc::result_out_of_range ||
        seconds > static_cast<uint64_t>(kLargest)) {
      return kLargest;
    }
    return static_cast<int64_t>(seconds);
  }
  const std::optional<int64_t> date = ParseHttpDate(value);
  if (!date)
    return std::nullopt;
  return std::max<int64_t>(*date - now_seconds, 0);
}

std::optional<int64_t> ParseHttpDate(std::string_view text) {
  static constexpr std::array<const char*, 12> kMonths = {
      "Jan", "Feb", "Mar", "Apr", "May", "Jun",
      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const std::string date(text);
  char weekday[10] = {};
  char month_name[4] = {};
  int day = 0, year = 0, hour = 0, minute = 0, second = 0;
  int end = -1;
  const auto whole = [&date, &end] {
    return end == static_cast<int>(date.size());
  };
  if (std::sscanf(date.c_str(),
                  "%3[A-Za-z], %2d %3[A-Za-z] %4d %2d:%2d:%2d GMT%n", weekday,
                  &day, month_name, &year, &hour, &minute, &second,
                  &end) == 7 &&
      whole()) {
  } else if (end = -1; std::sscanf(date.c_str(),
                                   "%9[A-Za-z], %2d-%3[A-Za-z]-%2d "
                                   "%2d:%2d:%2d GMT%n",
                                   weekday, &day, month_name, &year, &hour,
                                   &minute, &second, &end) == 7 &&
                       whole()) {
    year += year < 70 ? 2000 : 1900;
  } else if (end = -1; std::sscanf(date.c_str(),
                                   "%3[A-Za-z] %3[A-Za-z] %2d %2d:%2d:%2d "
                                   "%4d%n",
                                   weekday, month_name, &day, &hour, &minute,
                                   &second, &year, &end) == 7 &&
                       whole()) {
  } else {
    return std::nullopt;
  }
  const auto month = std::find_if(kMonths.begin(), kMonths.end(),
                                  [&month_name](const char* name) {
                                    return std::string_view(name) == month_name;
                                  });
  const std::chrono::year_month_day calendar{
      std::chrono::year(year),
      std::chrono::month(static_cast<unsigned>(month - kMonths.begin() + 1)),
      std::chrono::day(static_cast<unsigned>(day))};
  if (month == kMonths.end() || !calendar.ok() || year < 1900 || hour < 0 ||
      hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 60) {
    return std::nullopt;
  }
  const int64_t days =
      std::chrono::sys_days(calendar).time_since_epoch().count();
  return days * 86400 + hour * 3600 + minute * 60 + second;
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
    if (IsFinalStatus(last_attempt_.status)) {
      TLV_LOG(logging::kWarn,
              "HTTPTransport::ExecuteSynchronously HTTP status {} is the "
              "service's answer to this request; it is not sent again",
              last_attempt_.status);
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
