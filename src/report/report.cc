#include "report/report.h"

#include <mbedtls/md.h>

#include <array>
#include <optional>
#include <utility>
#include <vector>

#include "base/logging/logging.h"
#include "base/net/http_body.h"
#include "environment/application_context.h"
#include "timer/timer_service.h"

namespace tlv {
namespace {

constexpr char kSigningKey[] = "velmor2017tq9z";
constexpr char kMethodText[] = "POST";
constexpr char kContentType[] = "application/json";
constexpr char kAlgorithm[] = "hmac-sha1";
constexpr int64_t kConnectTimeoutSeconds = 15;
// Bytes of the body digested at a time while signing.
constexpr int64_t kSigningReadSize = 65536;

template <size_t N>
std::string Hex(const std::array<unsigned char, N>& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(2 * N);
  for (unsigned char byte : bytes) {
    text.push_back(kDigits[byte >> 4]);
    text.push_back(kDigits[byte & 0xf]);
  }
  return text;
}

std::string Md5Hex(const std::string& data) {
  std::array<unsigned char, 16> digest{};
  if (mbedtls_md(mbedtls_md_info_from_type(MBEDTLS_MD_MD5),
                 reinterpret_cast<const unsigned char*>(data.data()),
                 data.size(), digest.data()) != 0) {
    TLV_LOG(base::logging::kError, "mbedtls_md failed");
  }
  return Hex(digest);
}

class ScopedMdContext final {
 public:
  ScopedMdContext() { mbedtls_md_init(&context_); }
  ScopedMdContext(const ScopedMdContext&) = delete;
  ScopedMdContext& operator=(const ScopedMdContext&) = delete;
  ~ScopedMdContext() { mbedtls_md_free(&context_); }

  mbedtls_md_context_t* get() { return &context_; }

 private:
  mbedtls_md_context_t context_;
};

// The MD5 of one whole pass over body, left rewound; none when the pass
// fails or its length is not Size(). A digest call that fails leaves zero
// bytes, as the one-shot digest does.
std::optional<std::string> Md5Hex(base::net::HTTPBodyStream& body) {
  ScopedMdContext md5;
  int result = mbedtls_md_setup(
      md5.get(), mbedtls_md_info_from_type(MBEDTLS_MD_MD5), /*hmac=*/0);
  if (result == 0)
    result = mbedtls_md_starts(md5.get());
  std::vector<char> buffer(kSigningReadSize);
  int64_t total = 0;
  body.Reset();
  for (;;) {
    const int64_t count = body.Read(buffer.data(), kSigningReadSize);
    if (count < 0)
      return std::nullopt;
    if (count == 0)
      break;
    total += count;
    if (result == 0) {
      result = mbedtls_md_update(
          md5.get(), reinterpret_cast<const unsigned char*>(buffer.data()),
          static_cast<size_t>(count));
    }
  }
  body.Reset();
  if (total != body.Size()) {
    TLV_LOG(base::logging::kError, "the body held {} bytes, not {}", total,
            body.Size());
    return std::nullopt;
  }
  std::array<unsigned char, 16> digest{};
  if (result == 0)
    result = mbedtls_md_finish(md5.get(), digest.data());
  if (result != 0) {
    digest.fill(0);
    TLV_LOG(base::logging::kError, "mbedtls_md failed");
  }
  return Hex(digest);
}

std::string HmacSha1Hex(const std::string& key, const std::string& message) {
  std::array<unsigned char, 20> mac{};
  if (mbedtls_md_hmac(mbedtls_md_info_from_type(MBEDTLS_MD_SHA1),
                      reinterpret_cast<const unsigned char*>(key.data()),
                      key.size(),
                      reinterpret_cast<const unsigned char*>(message.data()),
                      message.size(), mac.data()) != 0) {
    TLV_LOG(base::logging::kError, "mbedtls_md_hmac failed");
  }
  return Hex(mac);
}

// Whole seconds of the server-corrected clock.
int64_t RequestTimeSeconds() {
  return ApplicationContext::Instance()
      .GetTimerService()
      ->CurrentTimes()
      .corrected.ToSeconds();
}

// The signature of a body whose MD5 text is content_md5.
Signature SignDigest(std::string content_md5, int64_t request_time_seconds) {
  Signature signature;
  signature.content_md5 = std::move(content_md5);
  signature.date = std::to_string(request_time_seconds);
  const std::string text_to_sign = std::string(kMethodText) + "\n" +
                                   signature.content_md5 + "\n" + kContentType +
                                   "\n" + signature.date + "\n" + kAlgorithm;
  signature.authorization = HmacSha1Hex(kSigningKey, text_to_sign);
  return signature;
}

}  // namespace

Signature SignBody(const std::string& body, int64_t request_time_seconds) {
  return SignDigest(Md5Hex(body), request_time_seconds);
}

BaseReport::BaseReport() : transport_(base::net::HTTPTransport::Create()) {
  transport_->SetConnectTimeout(kConnectTimeoutSeconds);
  transport_->SetHeader("Accept", "*/*");
  transport_->SetHeader("Connection", "keep-alive");
}

BaseReport::~BaseReport() = default;

void BaseReport::SetUrl(const std::string& url) {
  transport_->SetUrl(url);
}

void BaseReport::SetMethod(base::net::HTTPMethod method) {
  transport_->SetMethod(method);
}

bool BaseReport::Sign(base::net::HTTPBodyStream& body) {
  std::optional<std::string> md5 = Md5Hex(body);
  if (!md5)
    return false;
  const Signature signature = SignDigest(std::move(*md5), RequestTimeSeconds());
  transport_->SetHeader("CONTENT-TYPE", kContentType);
  transport_->SetHeader("cms-signature", kAlgorithm);
  transport_->SetHeader("CONTENT-MD5", signature.content_md5);
  transport_->SetHeader("DATE", signature.date);
  transport_->SetHeader("Authorization", signature.authorization);
  return true;
}

void BaseReport::SetPlainHeaders() {
  transport_->SetHeader("CONTENT-TYPE", kContentType);
  transport_->SetHeader("DATE", std::to_string(RequestTimeSeconds()));
}

bool BaseReport::StartWithBlock(std::string* response, uint64_t retries) {
  if (response == nullptr) {
    TLV_LOG(base::logging::kError, "response_body is nullptr");
    return false;
  }
  if (started_) {
    TLV_LOG(base::logging::kError, "report has been started");
    response->append("report has been started");
    return false;
  }
  started_ = true;
  PrepareBody();
  return transport_->ExecuteSynchronously(*response, retries);
}

void SimpleReport::SetBody(std::string body) {
  body_ = std::move(body);
  body_stream_.reset();
}

void SimpleReport::SetBody(std::unique_ptr<base::net::HTTPBodyStream> body) {
  body_stream_ = std::move(body);
  body_.clear();
}

void SimpleReport::PrepareBody() {
  if (!body_stream_) {
    body_stream_ =
        std::make_unique<base::net::StringHTTPBodyStream>(std::move(body_));
    body_.clear();
  }
  transport().SetBody(std::move(body_stream_));
}

}  // namespace tlv
