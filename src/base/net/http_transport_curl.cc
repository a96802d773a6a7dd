#include <curl/curl.h>
#include <strings.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <utility>

#include "base/logging/logging.h"
#include "base/net/body_reader.h"
#include "base/net/http_transport.h"
#include "base/utils/string_util.h"

namespace base::net {

namespace {

struct CurlEasyCleanup {
  void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
using ScopedCurl = std::unique_ptr<CURL, CurlEasyCleanup>;

struct CurlUrlCleanup {
  void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
using ScopedCurlUrl = std::unique_ptr<CURLU, CurlUrlCleanup>;

class ScopedCurlSlist final {
 public:
  ScopedCurlSlist() = default;
  ScopedCurlSlist(const ScopedCurlSlist&) = delete;
  ScopedCurlSlist& operator=(const ScopedCurlSlist&) = delete;
  ~ScopedCurlSlist() { curl_slist_free_all(list_); }

  // curl copies line. False when it cannot; the list is unchanged then.
  bool Append(const std::string& line) {
    curl_slist* const list = curl_slist_append(list_, line.c_str());
    if (!list) {
      return false;
    }
    list_ = list;
    return true;
  }

  curl_slist* get() const { return list_; }

 private:
  curl_slist* list_ = nullptr;
};

// "<step>: <message> (0x<code>)".
std::string ErrorText(const char* step, const char* message, long code) {
  return utils::StringPrintf("%s: %s (0x%lx)", step, message,
                             static_cast<unsigned long>(code));
}

// The caller's headers in name order, spelled as given, then an empty entry
// for each header curl would add of its own accord, which removes it:
// "Accept: */*" and a form Content-Type, which the caller did not ask for,
// and "Expect: 100-continue" for large bodies. RFC 7231 5.1.1 lets a server
// or proxy that does not meet the expectation answer 417 or simply never
// send the interim 100 reply, so expecting it risks a failed or stalled
// upload for the gain of a body the server may decline.
bool BuildHeaderList(const std::map<std::string, std::string>& headers,
                     ScopedCurlSlist& list) {
  for (const auto& [name, value] : headers) {
    // curl drops "Name:" with nothing after it; "Name;" sends it empty.
    if (!list.Append(value.empty() ? name + ";" : name + ": " + value)) {
      return false;
    }
  }
  for (const char* name : {"Accept", "Content-Type", "Expect"}) {
    const bool caller_set =
        std::any_of(headers.begin(), headers.end(), [name](const auto& entry) {
          return strcasecmp(entry.first.c_str(), name) == 0;
        });
    if (!caller_set && !list.Append(std::string(name) + ":")) {
      return false;
    }
  }
  return true;
}

// A CURLOPT_READFUNCTION: hands the body to curl as the reader has it.
size_t ReadBody(char* destination, size_t size, size_t count, void* reader) {
  BodyReader& body = *static_cast<BodyReader*>(reader);
  if (!body.problem().empty()) {
    return CURL_READFUNC_ABORT;
  }
  const std::span<const char> pending = body.pending();
  const size_t taken = std::min(size * count, pending.size());
  memcpy(destination, pending.data(), taken);
  return body.Take(taken) ? taken : CURL_READFUNC_ABORT;
}

// Fails a transfer once no byte has moved either way for the limit, from
// the first byte of the body on (connecting has a limit of its own). curl's
// own low-speed check measures the speed averaged over its last five
// seconds, so it notices a peer that has gone quiet only about five seconds
// late: a log-collection service that never answers would cost each
// attempt some 21 seconds instead of 15.
class StallWatch final {
 public:
  explicit StallWatch(int64_t limit_seconds)
      : limit_(std::chrono::seconds(limit_seconds)) {}
  StallWatch(const StallWatch&) = delete;
  StallWatch& operator=(const StallWatch&) = delete;

  // A CURLOPT_XFERINFOFUNCTION; curl calls it at least once a second.
  static int Check(void* watch,
                   curl_off_t,
                   curl_off_t received,
                   curl_off_t,
                   curl_off_t sent) {
    return static_cast<StallWatch*>(watch)->Check_(received + sent);
  }

  bool stalled() const { return stalled_; }
  // curl's own words for a transfer that made no progress.
  std::string Text() const {
    return utils::StringPrintf(
        "Operation too slow. Less than 1 bytes/sec transferred the last %lld "
        "seconds",
        static_cast<long long>(limit_.count()));
  }

 private:
  int Check_(curl_off_t moved) {
    const auto now = std::chrono::steady_clock::now();
    if (moved != moved_) {
      moved_ = moved;
      last_move_ = now;
      return 0;
    }
    if (moved_ == 0 || now - last_move_ < limit_)
      return 0;
    stalled_ = true;
    return 1;
  }

  const std::chrono::seconds limit_;
  curl_off_t moved_ = 0;
  std::chrono::steady_clock::time_point last_move_;
  bool stalled_ = false;
};

// A CURLOPT_WRITEFUNCTION.
size_t AppendToString(char* data, size_t size, size_t count, void* text) {
  static_cast<std::string*>(text)->append(data, size * count);
  return size * count;
}

// Drives libcurl's easy interface, one blocking transfer per attempt.
class HTTPTransportCurl final : public HTTPTransport {
 private:
  bool ExecuteSynchronously(std::string& response) override;
};

bool HTTPTransportCurl::ExecuteSynchronously(std::string& response) {
  const auto fail = [&response](const std::string& text) {
    TLV_LOG(logging::kError, "{}", text);
    response.append(text);
    return false;
  };

  // A fresh handle per attempt, so a retry never reuses a connection that
  // the server may have half-closed after the failure.
  const ScopedCurl curl(curl_easy_init());
  if (!curl) {
    return fail(ErrorText("curl_easy_init",
                          curl_easy_strerror(CURLE_FAILED_INIT),
                          CURLE_FAILED_INIT));
  }

  // curl requests path and query only: a fragment stays with the client.
  const ScopedCurlUrl url(curl_url());
  const CURLUcode url_code =
      url ? curl_url_set(url.get(), CURLUPART_URL, this->url().c_str(), 0)
          : CURLUE_OUT_OF_MEMORY;
  if (url_code != CURLUE_OK) {
    const std::string text =
        ErrorText("curl_url_set", curl_url_strerror(url_code), url_code);
    TLV_LOG(logging::kError, "{} url:  {}", text, this->url());
    response.append(text);
    return false;
  }

  ScopedCurlSlist header_list;
  if (!BuildHeaderList(headers(), header_list)) {
    return fail(ErrorText("curl_slist_append",
                          curl_easy_strerror(CURLE_OUT_OF_MEMORY),
                          CURLE_OUT_OF_MEMORY));
  }

  HTTPBodyStream& body = *this->body();
  body.Reset();
  const int64_t content_length = body.Size();
  TLV_LOG(logging::kInfo, "content_length = {}", content_length);

  char error_buffer[CURL_ERROR_SIZE] = {};
  const auto curl_fail = [&fail, &error_buffer](const char* step,
                                                CURLcode code) {
    return fail(ErrorText(
        step, error_buffer[0] ? error_buffer : curl_easy_strerror(code), code));
  };

  BodyReader reader(body, content_length);
  // curl's own code for data that a read callback cannot supply.
  const auto read_error = [&reader] {
    return ErrorText("ReadWithProgress", reader.problem().c_str(),
                     CURLE_READ_ERROR);
  };
  StallWatch stall_watch(std::max(send_timeout(), receive_timeout()));
  std::string received;
  CURLcode code = CURLE_OK;
  const auto set = [&code, &curl](CURLoption option, auto value) {
    if (code == CURLE_OK) {
      code = curl_easy_setopt(curl.get(), option, value);
    }
  };
  set(CURLOPT_ERRORBUFFER, error_buffer);
  // Otherwise curl times name resolution out with SIGALRM, which is not
  // safe in a process with other threads.
  set(CURLOPT_NOSIGNAL, 1L);
  set(CURLOPT_PROTOCOLS_STR, "http,https");
  // HTTP/2 would send every header name in lower case.
  set(CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  set(CURLOPT_CURLU, url.get());
  // POST makes curl send a body from the read callback, announced by its
  // exact 64-bit length, so it never falls back to chunked transfer; the
  // custom request only changes the method's text on the request line.
  set(CURLOPT_POST, 1L);
  set(CURLOPT_CUSTOMREQUEST, HTTPMethodText(method()));
  set(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(content_length));
  set(CURLOPT_READFUNCTION, &ReadBody);
  set(CURLOPT_READDATA, &reader);
  set(CURLOPT_WRITEFUNCTION, &AppendToString);
  set(CURLOPT_WRITEDATA, &received);
  set(CURLOPT_HTTPHEADER, header_list.get());
  // curl's connect phase includes name resolution, so the two limits add up.
  set(CURLOPT_CONNECTTIMEOUT,
      static_cast<long>(resolve_timeout() + connect_timeout()));
  // Sending and receiving fail when no byte moves for that long; curl's
  // own check stays for a body that moves no byte at all.
  set(CURLOPT_LOW_SPEED_LIMIT, 1L);
  set(CURLOPT_LOW_SPEED_TIME,
      static_cast<long>(std::max(send_timeout(), receive_timeout())));
  set(CURLOPT_NOPROGRESS, 0L);
  set(CURLOPT_XFERINFOFUNCTION, &StallWatch::Check);
  set(CURLOPT_XFERINFODATA, &stall_watch);
  if (code != CURLE_OK) {
    return curl_fail("curl_easy_setopt", code);
  }

  if (!reader.Start()) {
    return fail(read_error());
  }
  code = curl_easy_perform(curl.get());
  TLV_LOG(logging::kInfo, "total_written = {}", reader.total_taken());
  // The stream's own failure says more than curl's "aborted by callback".
  if (!reader.problem().empty()) {
    return fail(read_error());
  }
  attempt_outcome().timed_out =
      stall_watch.stalled() || code == CURLE_OPERATION_TIMEDOUT;
  if (stall_watch.stalled()) {
    return fail(ErrorText("curl_easy_perform", stall_watch.Text().c_str(),
                          CURLE_OPERATION_TIMEDOUT));
  }
  if (code != CURLE_OK) {
    return curl_fail("curl_easy_perform", code);
  }

  long status = 0;
  code = curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &status);
  if (code != CURLE_OK) {
    return curl_fail("curl_easy_getinfo", code);
  }
  attempt_outcome().status = static_cast<int32_t>(status);
  // 204 and redirects fail too: the caller expects an answer in the body.
  if (status < 200 || status > 203) {
    curl_header* retry_after = nullptr;
    if (curl_easy_header(curl.get(), "Retry-After", 0, CURLH_HEADER, -1,
                         &retry_after) == CURLHE_OK) {
      attempt_outcome().retry_after = retry_after->value;
    }
    TLV_LOG(logging::kError, "HTTP status {}", status);
    response.append(utils::StringPrintf("HTTP status %ld", status));
    return false;
  }
  response = std::move(received);
  return true;
}

}  // namespace

std::unique_ptr<HTTPTransport> HTTPTransport::Create() {
  // curl_global_init must finish before any other curl call and is not safe
  // to run twice at once on every build; a function-local static runs it
  // exactly once, and threads that create a transport meanwhile wait for
  // it. A failure shows up as curl_easy_init's in each attempt.
  [[maybe_unused]] static const CURLcode global_init =
      curl_global_init(CURL_GLOBAL_DEFAULT);
  return std::make_unique<HTTPTransportCurl>();
}

}  // namespace base::net
