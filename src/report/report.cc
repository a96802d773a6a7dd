#include "report/report.h"

#include <mbedtls/md.h>

#include <array>
#include <utility>

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

}  // namespace

Signature SignBody(const std::string& body, int64_t request_time_seconds) {
  Signature signature;
  signature.content_md5 = Md5Hex(body);
  signature.date = std::to_string(request_time_seconds);
  const std::string text_to_sign = std::string(kMethodText) + "\n" +
                                   signature.content_md5 + "\n" + kContentType +
                                   "\n" + signature.date + "\n" + kAlgorithm;
  signature.authorization = HmacSha1Hex(kSigningKey, text_to_sign);
  return signature;
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

void BaseReport::Sign(const std::string& body) {
  const Signature signature = SignBody(body, RequestTimeSeconds());
  transport_->SetHeader("CONTENT-TYPE", kContentType);
  transport_->SetHeader("cms-signature", kAlgorithm);
  transport_->SetHeader("CONTENT-MD5", signature.content_md5);
  transport_->SetHeader("DATE", signature.date);
  transport_->SetHeader("Authorization", signature.authorization);
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

void SimpleReport::PrepareBody() {
  transport().SetBody(
      std::make_shared<base::net::StringHTTPBodyStream>(std::move(body_)));
  body_.clear();
}

}  // namespace tlv
