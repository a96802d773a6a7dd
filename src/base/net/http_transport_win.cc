#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <utility>

#include "base/logging/logging.h"
#include "base/net/body_reader.h"
#include "base/net/http_proxy_win.h"
#include "base/net/http_tls_win.h"
#include "base/net/http_transport.h"
#include "base/net/winhttp_util_win.h"
#include "base/utils/string_util.h"

namespace base::net {

namespace {

// Steps in which the response body is read.
constexpr DWORD kResponseChunkSize = 4096;
// The largest body WinHttpSendRequest can announce in its 32-bit total length.
constexpr int64_t kLargestAnnouncedBody = 0xFFFFFFFF;

// WinHTTP takes milliseconds in an int; a longer limit is as good as none.
int TimeoutMilliseconds(int64_t seconds) {
  return static_cast<int>(
      std::clamp<int64_t>(seconds, INT_MIN / 1000, INT_MAX / 1000) * 1000);
}

// Whether error says that a time-out ran out: WinHTTP's own code, or the
// socket's, which Wine passes on where Windows gives WinHTTP's.
bool IsTimeout(DWORD error) {
  return error == ERROR_WINHTTP_TIMEOUT || error == WSAETIMEDOUT;
}

// Drives WinHTTP synchronously, with a session, a connection and a request
// of its own for every attempt.
class HTTPTransportWin final : public HTTPTransport {
 private:
  bool ExecuteSynchronously(std::string& response) override;
};

bool HTTPTransportWin::ExecuteSynchronously(std::string& response) {
  const auto fail = [&response](const std::string& text) {
    TLV_LOG(logging::kError, "{}", text);
    response.append(text);
    return false;
  };

  // Only WinHttpCrackUrl's failure is logged with the url: the others happen
  // at an address that cracked cleanly.
  const std::wstring url = utils::Utf8ToWide(this->url());
  URL_COMPONENTS components = {};
  components.dwStructSize = sizeof(components);
  components.dwHostNameLength = 1;
  components.dwUrlPathLength = 1;
  components.dwExtraInfoLength = 1;
  if (!WinHttpCrackUrl(url.c_str(), 0, 0, &components)) {
    const std::string text = LastErrorText("WinHttpCrackUrl");
    TLV_LOG(logging::kError, "{} url:  {}", text, this->url());
    response.append(text);
    return false;
  }
  const std::wstring host(components.lpszHostName, components.dwHostNameLength);
  const std::wstring origin =
      (components.nScheme == INTERNET_SCHEME_HTTPS ? L"https://" : L"http://") +
      host + L":" + std::to_wstring(components.nPort);
  // The query is requested, a fragment stays with the client.
  const std::wstring_view extra_info(components.lpszExtraInfo,
                                     components.dwExtraInfoLength);
  const std::wstring object =
      std::wstring(components.lpszUrlPath, components.dwUrlPathLength)
          .append(extra_info.substr(0, extra_info.find(L'#')));

  // A fresh session per attempt, so a retry never reuses a connection that
  // the server may have half-closed after the failure. Handles close in
  // reverse: the request, the connection, then the session.
  const ScopedHInternet session(OpenProxySession(
      ProxyRouteFor(origin, url),
      [](DWORD access_type, const wchar_t* proxy, const wchar_t* bypass) {
        return WinHttpOpen(L"WinHTTP", access_type, proxy, bypass, 0);
      }));
  if (!session) {
    return fail(LastErrorText("WinHttpOpen"));
  }
  if (!WinHttpSetTimeouts(session.get(), TimeoutMilliseconds(resolve_timeout()),
                          TimeoutMilliseconds(connect_timeout()),
                          TimeoutMilliseconds(send_timeout()),
                          TimeoutMilliseconds(receive_timeout()))) {
    return fail(LastErrorText("WinHttpSetTimeouts"));
  }
  SetSecureProtocols(session.get());

  const ScopedHInternet connection(
      WinHttpConnect(session.get(), host.c_str(), components.nPort, 0));
  if (!connection) {
    return fail(LastErrorText("WinHttpConnect"));
  }
  const std::wstring method = utils::Utf8ToWide(HTTPMethodText(this->method()));
  // Outlives the request, whose callback it is.
  SecureFailureWatch secure_failure;
  const ScopedHInternet request(WinHttpOpenRequest(
      connection.get(), method.c_str(), object.c_str(), nullptr,
      WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
      components.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0));
  if (!request) {
    return fail(LastErrorText("WinHttpOpenRequest"));
  }
  // The receive time-out covers the wait for the answer's headers too. This
  // limit has its own default of 90 seconds, and Wine applies only this one
  // there: without it a service that takes the body and never answers
  // keeps the process until the watchdog ends it.
  DWORD response_timeout = TimeoutMilliseconds(receive_timeout());
  if (!WinHttpSetOption(request.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT,
                        &response_timeout, sizeof(response_timeout))) {
    return fail(LastErrorText("WinHttpSetOption"));
  }
  if (!secure_failure.Watch(request.get())) {
    return fail(LastErrorText("WinHttpSetStatusCallback"));
  }

  HTTPBodyStream& body = *this->body();
  body.Reset();

  for (const auto& [name, value] : headers()) {
    const std::wstring line =
        utils::Utf8ToWide(name) + L": " + utils::Utf8ToWide(value) + L"\r\n";
    if (!WinHttpAddRequestHeaders(request.get(), line.c_str(),
                                  static_cast<DWORD>(line.size()),
                                  WINHTTP_ADDREQ_FLAG_ADD)) {
      return fail(LastErrorText("WinHttpAddRequestHeaders"));
    }
  }

  const int64_t content_length = body.Size();
  TLV_LOG(logging::kInfo, "content_length = {}", content_length);
  // WinHTTP would announce the length cut to 32 bits and then refuse the
  // rest of the body, or the server would take a prefix for the request.
  if (content_length < 0 || content_length > kLargestAnnouncedBody) {
    return fail(ErrorText(
        "WinHttpSendRequest",
        utils::StringPrintf("a body of %lld bytes cannot be announced in a "
                            "32-bit length",
                            static_cast<long long>(content_length))
            .c_str(),
        ERROR_ARITHMETIC_OVERFLOW));
  }

  // From the request on, a call that fails once a time-out ran out says so
  // in its error code.
  const auto fail_exchange = [this, &fail](const char* step) {
    attempt_outcome().timed_out = IsTimeout(GetLastError());
    return fail(LastErrorText(step));
  };

  // The first chunk is read before anything is sent, so a body that cannot
  // be read at all fails without a request on the wire.
  BodyReader reader(body, content_length);
  // The system's code for data that cannot be read.
  const auto read_error = [&reader] {
    return ErrorText("ReadWithProgress", reader.problem().c_str(),
                     ERROR_READ_FAULT);
  };
  if (!reader.Start()) {
    return fail(read_error());
  }
  // The body is announced by its exact length, from which WinHTTP writes
  // Content-Length; it is never sent chunked.
  if (!WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                          WINHTTP_NO_REQUEST_DATA, 0,
                          static_cast<DWORD>(content_length),
                          secure_failure.context())) {
    // The TLS handshake happens here; its failure says what was wrong with
    // the server's certificate only beside the code.
    const DWORD error = GetLastError();
    attempt_outcome().timed_out = IsTimeout(error);
    return fail(SystemErrorText("WinHttpSendRequest", error) +
                CertificateProblemText(error, secure_failure.flags()));
  }
  uint64_t total_written = 0;
  std::string write_error;
  // The chunk after the current one is read before the current one is
  // written, so a stream that yields more than announced fails before the
  // server has the whole announced body.
  while (!reader.pending().empty()) {
    if (!reader.ReadAhead()) {
      write_error = read_error();
      break;
    }
    const std::span<const char> chunk = reader.pending();
    DWORD written = 0;
    if (!WinHttpWriteData(request.get(), chunk.data(),
                          static_cast<DWORD>(chunk.size()), &written)) {
      attempt_outcome().timed_out = IsTimeout(GetLastError());
      write_error = LastErrorText("WinHttpWriteData");
      break;
    }
    total_written += written;
    if (!reader.Take(chunk.size())) {
      write_error = read_error();
      break;
    }
  }
  TLV_LOG(logging::kInfo, "total_written = {}", total_written);
  if (!write_error.empty()) {
    return fail(write_error);
  }

  if (!WinHttpReceiveResponse(request.get(), nullptr)) {
    return fail_exchange("WinHttpReceiveResponse");
  }
  DWORD status = 0;
  DWORD status_size = sizeof(status);
  if (!WinHttpQueryHeaders(
          request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
          WINHTTP_HEADER_NAME_BY_INDEX, &status, &status_size,
          WINHTTP_NO_HEADER_INDEX)) {
    return fail(LastErrorText("WinHttpQueryHeaders"));
  }
  attempt_outcome().status = static_cast<int32_t>(status);
  // 204 and redirects fail too: the caller expects an answer in the body.
  if (status < 200 || status > 203) {
    // A value too long for the buffer is no Retry-After of any use.
    wchar_t retry_after[128];
    DWORD retry_after_size = sizeof(retry_after);
    if (WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_RETRY_AFTER,
                            WINHTTP_HEADER_NAME_BY_INDEX, retry_after,
                            &retry_after_size, WINHTTP_NO_HEADER_INDEX)) {
      attempt_outcome().retry_after = utils::WideToUtf8(
          std::wstring_view(retry_after, retry_after_size / sizeof(wchar_t)));
    }
    TLV_LOG(logging::kError, "HTTP status {}", status);
    response.append(utils::StringPrintf("HTTP status %lu",
                                        static_cast<unsigned long>(status)));
    return false;
  }

  // The body goes to response only once it is whole, so a failed read
  // leaves the earlier attempts' error texts in place, with this one added.
  std::string received;
  char buffer[kResponseChunkSize];
  DWORD read = 0;
  do {
    if (!WinHttpReadData(request.get(), buffer, sizeof(buffer), &read)) {
      return fail_exchange("WinHttpReadData");
    }
    received.append(buffer, read);
  } while (read > 0);
  // A connection closed before the announced length is a failed attempt,
  // as curl has it. WinHTTP reports it as an error, but not every
  // implementation does (Wine's ends the body quietly), and a cut answer
  // taken whole would be judged as the service's word.
  DWORD announced = 0;
  DWORD announced_size = sizeof(announced);
  if (WinHttpQueryHeaders(
          request.get(),
          WINHTTP_QUERY_CONTENT_LENGTH | WINHTTP_QUERY_FLAG_NUMBER,
          WINHTTP_HEADER_NAME_BY_INDEX, &announced, &announced_size,
          WINHTTP_NO_HEADER_INDEX) &&
      received.size() < announced) {
    return fail(ErrorText(
        "WinHttpReadData",
        utils::StringPrintf("the answer ended after %llu of its %lu bytes",
                            static_cast<unsigned long long>(received.size()),
                            static_cast<unsigned long>(announced))
            .c_str(),
        ERROR_WINHTTP_CONNECTION_ERROR));
  }
  response = std::move(received);
  return true;
}

}  // namespace

std::unique_ptr<HTTPTransport> HTTPTransport::Create() {
  return std::make_unique<HTTPTransportWin>();
}

}  // namespace base::net
