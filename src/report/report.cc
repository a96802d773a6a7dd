#include "report/report.h"

#include <mbedtls/md.h>

#include <array>
#include <optional>
#include <span>
#include <thread>
#include <utility>

#include "base/logging/logging.h"
#include "base/net/http_body.h"
#include "base/thread/buffer_pipe.h"
#include "environment/application_context.h"
#include "report/service_pauses.h"
#include "timer/timer_service.h"

namespace tlv {
namespace {

constexpr char kSigningKey[] = "velmor2017tq9z";
constexpr char kMethodText[] = "POST";
constexpr char kContentType[] = "application/json";
constexpr char kAlgorithm[] = "hmac-sha1";
constexpr int64_t kConnectTimeoutSeconds = 15;
// Bytes of the body digested at a time while signing.
constexpr size_t kSigningReadSize = 32768;

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

// Digests what a BufferPipe carries on a thread of its own, so that MD5,
// the one step of signing that cannot be split, runs beside reading and
// encoding the body. The thread ends with the pipe, and is joined at the
// latest when the digest is destroyed, whatever path the pass took.
class Md5Thread final {
 public:
  explicit Md5Thread(base::thread::BufferPipe& pipe)
      : pipe_(pipe), thread_([this] { Run_(); }) {}
  Md5Thread(const Md5Thread&) = delete;
  Md5Thread& operator=(const Md5Thread&) = delete;
  ~Md5Thread() {
    if (thread_.joinable()) {
      pipe_.Cancel();
      thread_.join();
    }
  }

  // Waits for the thread to digest every piece committed before the pipe
  // was closed. A digest call that fails leaves zero bytes, as the one-shot
  // digest does.
  std::string Finish() {
    thread_.join();
    if (result_ == 0)
      result_ = mbedtls_md_finish(md5_.get(), digest_.data());
    if (result_ != 0) {
      digest_.fill(0);
      TLV_LOG(base::logging::kError, "mbedtls_md failed");
    }
    return Hex(digest_);
  }

 private:
  void Run_() {
    result_ = mbedtls_md_setup(
        md5_.get(), mbedtls_md_info_from_type(MBEDTLS_MD_MD5), /*hmac=*/0);
    if (result_ == 0)
      result_ = mbedtls_md_starts(md5_.get());
    for (std::span<const char> piece = pipe_.Readable(); !piece.empty();
         piece = pipe_.Readable()) {
      if (result_ == 0) {
        result_ = mbedtls_md_update(
            md5_.get(), reinterpret_cast<const unsigned char*>(piece.data()),
            piece.size());
      }
      pipe_.Release();
    }
  }

  base::thread::BufferPipe& pipe_;
  ScopedMdContext md5_;
  int result_ = 0;
  std::array<unsigned char, 16> digest_{};
  // Last: starts once the members it uses exist.
  std::thread thread_;
};

// The MD5 of one whole pass over body, left rewound; none when the pass
// fails or its length is not Size(). The body is read straight into the
// pipe's buffers.
std::optional<std::string> Md5Hex(base::net::HTTPBodyStream& body) {
  base::thread::BufferPipe pipe(kSigningReadSize);
  // The pipe outlives the thread: the thread is joined first.
  Md5Thread md5(pipe);
  int64_t total = 0;
  body.Reset();
  for (;;) {
    const std::span<char> buffer = pipe.Writable();
    const int64_t count =
        body.Read(buffer.data(), static_cast<int64_t>(buffer.size()));
    if (count < 0)
      return std::nullopt;
    if (count == 0)
      break;
    total += count;
    pipe.Commit(static_cast<size_t>(count));
  }
  pipe.Close();
  const std::string digest = md5.Finish();
  body.Reset();
  if (total != body.Size()) {
    TLV_LOG(base::logging::kError, "the body held {} bytes, not {}", total,
            body.Size());
    return std::nullopt;
  }
  return digest;
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
  const bool ok = transport_->ExecuteSynchronously(*response, retries);
  ServicePauses::Instance().Heed(transport_->url(), transport_->last_attempt());
  return ok;
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
