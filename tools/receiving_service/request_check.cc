// The checks of each request and the cryptography they need. A failed
// check gives the reason that the record and the log line show.

#include "tools/receiving_service/request_check.h"

#include <httplib.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <yyjson.h>

#include <array>
#include <cstdio>
#include <iterator>
#include <limits>
#include <memory>
#include <numeric>
#include <utility>

#include "fmt/format.h"
#include "tools/receiving_service/text_util.h"

namespace tools {
namespace {

constexpr char kTelemetryTopic[] = "plat_apm_sdk";
constexpr std::string_view kSigningKey = "velmor2017tq9z";
constexpr std::string_view kTelemetryKey = "Wk5$tr9Lq2Zv!Hn7Pc3Xm8&Rb4Jd6#Ys";

struct DocFree {
  void operator()(yyjson_doc* doc) const { yyjson_doc_free(doc); }
};
using ScopedDoc = std::unique_ptr<yyjson_doc, DocFree>;

// Strict reading: the whole text must be one JSON value.
ScopedDoc ReadJson(std::string_view text) {
  return ScopedDoc(yyjson_read(text.data(), text.size(), 0));
}

std::string StringMember(yyjson_val* object, const char* key) {
  yyjson_val* value = yyjson_obj_get(object, key);
  return yyjson_is_str(value)
             ? std::string(yyjson_get_str(value), yyjson_get_len(value))
             : std::string();
}

std::string Hex(const unsigned char* bytes, size_t size) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(size * 2);
  for (size_t i = 0; i < size; ++i) {
    hex += kDigits[bytes[i] >> 4];
    hex += kDigits[bytes[i] & 0x0f];
  }
  return hex;
}

// Empty when OpenSSL fails, which no header can then match.
std::string DigestHex(const EVP_MD* type, std::string_view data) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (EVP_Digest(data.data(), data.size(), digest, &size, type, nullptr) != 1) {
    std::fprintf(stderr, "receiving_service: EVP_Digest failed\n");
    return std::string();
  }
  return Hex(digest, size);
}

std::string HmacSha1Hex(std::string_view key, std::string_view message) {
  unsigned char mac[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (!HMAC(EVP_sha1(), key.data(), static_cast<int>(key.size()),
            reinterpret_cast<const unsigned char*>(message.data()),
            message.size(), mac, &size)) {
    std::fprintf(stderr, "receiving_service: HMAC failed\n");
    return std::string();
  }
  return Hex(mac, size);
}

bool IsBase64Digit(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
         (c >= '0' && c <= '9') || c == '+' || c == '/';
}

// Standard alphabet with '=' padding and nothing else. EVP_DecodeBlock
// alone would skip surrounding white space and count the padding as zero
// bytes, so the form is checked here and the padding taken off.
std::optional<std::string> DecodeBase64(std::string_view text) {
  if (text.size() % 4 != 0 ||
      text.size() > static_cast<size_t>(std::numeric_limits<int>::max())) {
    return std::nullopt;
  }
  size_t padding = 0;
  while (padding < 2 && padding < text.size() &&
         text[text.size() - 1 - padding] == '=') {
    ++padding;
  }
  for (size_t i = 0; i < text.size() - padding; ++i) {
    if (!IsBase64Digit(text[i]))
      return std::nullopt;
  }
  std::string bytes(text.size() / 4 * 3, '\0');
  int size =
      EVP_DecodeBlock(reinterpret_cast<unsigned char*>(bytes.data()),
                      reinterpret_cast<const unsigned char*>(text.data()),
                      static_cast<int>(text.size()));
  if (size < 0 || static_cast<size_t>(size) < padding)
    return std::nullopt;
  bytes.resize(static_cast<size_t>(size) - padding);
  return bytes;
}

bool IsLowerHex(std::string_view text, size_t length) {
  return text.size() == length &&
         text.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

bool IsDecimalSeconds(std::string_view text) {
  if (!text.empty() && text.front() == '-')
    text.remove_prefix(1);
  return !text.empty() && text.size() <= 19 &&
         text.find_first_not_of("0123456789") == std::string_view::npos;
}

// The one header `name`, spelled exactly so: the service reads the names as
// the client sent them. Returns an empty reason and sets value, or says why
// there is no such header.
std::string FindHeader(const httplib::Headers& headers,
                       const std::string& name,
                       std::string* value) {
  // The multimap compares names without case, so the range holds every
  // spelling of the name.
  auto [first, last] = headers.equal_range(name);
  auto count = std::distance(first, last);
  if (count == 0)
    return "missing header " + name;
  if (count > 1)
    return fmt::format("header {} sent {} times", name, count);
  if (first->first != name)
    return fmt::format("header {} spelled {}", name, first->first);
  *value = first->second;
  return std::string();
}

// The checks a data-upload request's headers must pass; empty when they do.
std::string CheckSignature(const httplib::Headers& headers,
                           std::string_view body) {
  std::string content_type, algorithm, md5, date, authorization;
  for (const auto& [name, value] :
       {std::pair{"CONTENT-TYPE", &content_type},
        std::pair{"cms-signature", &algorithm}, std::pair{"CONTENT-MD5", &md5},
        std::pair{"DATE", &date}, std::pair{"Authorization", &authorization}}) {
    std::string reason = FindHeader(headers, name, value);
    if (!reason.empty())
      return reason;
  }
  if (content_type != "application/json")
    return "CONTENT-TYPE is not application/json";
  if (algorithm != "hmac-sha1")
    return "cms-signature is not hmac-sha1";
  if (!IsLowerHex(md5, 32))
    return "CONTENT-MD5 is not 32 lowercase hex digits";
  if (md5 != DigestHex(EVP_md5(), body))
    return "CONTENT-MD5 is not the MD5 of the body";
  if (!IsDecimalSeconds(date))
    return "DATE is not decimal seconds";
  if (!IsLowerHex(authorization, 40))
    return "Authorization is not 40 lowercase hex digits";
  std::string signed_text =
      fmt::format("POST\n{}\napplication/json\n{}\nhmac-sha1", md5, date);
  if (authorization != HmacSha1Hex(kSigningKey, signed_text))
    return "Authorization is not the signature of CONTENT-MD5 and DATE";
  return std::string();
}

// Finds the one event of an upload body, which must be "[" + event + "]".
std::string ParseUploadBody(std::string_view body,
                            ScopedDoc* doc,
                            yyjson_val** event) {
  *doc = ReadJson(body);
  yyjson_val* root = yyjson_doc_get_root(doc->get());
  if (!root)
    return "body is not JSON";
  if (!yyjson_is_arr(root) || body.front() != '[' || body.back() != ']')
    return "body is not a JSON array from its first byte to its last";
  if (yyjson_arr_size(root) != 1)
    return fmt::format("body holds {} elements, not one event",
                       yyjson_arr_size(root));
  if (!yyjson_is_obj(yyjson_arr_get_first(root)))
    return "body's element is not an object";
  *event = yyjson_arr_get_first(root);
  return std::string();
}

// Checks a telemetry request and unpacks its events: Base64, then ARC4
// with the telemetry key, then {"data":[event, ...]}.
std::string InspectTelemetry(const httplib::Request& request,
                             const std::string& body,
                             std::vector<std::string>* events,
                             std::vector<std::string>* names) {
  if (request.get_param_value_count("topic") != 1 ||
      request.get_param_value("topic") != kTelemetryTopic) {
    return fmt::format("query is not topic={}", kTelemetryTopic);
  }
  std::string content_type, date;
  std::string reason =
      FindHeader(request.headers, "CONTENT-TYPE", &content_type);
  if (reason.empty())
    reason = FindHeader(request.headers, "DATE", &date);
  if (!reason.empty())
    return reason;
  if (content_type != "application/json")
    return "CONTENT-TYPE is not application/json";
  if (!IsDecimalSeconds(date))
    return "DATE is not decimal seconds";

  ScopedDoc outer = ReadJson(body);
  yyjson_val* wrapper = yyjson_doc_get_root(outer.get());
  yyjson_val* data = yyjson_obj_get(wrapper, "data");
  if (yyjson_obj_size(wrapper) != 1 || !yyjson_is_str(data))
    return "body is not {\"data\":\"<Base64>\"}";
  std::optional<std::string> scrambled = DecodeBase64(
      std::string_view(yyjson_get_str(data), yyjson_get_len(data)));
  if (!scrambled)
    return "data is not Base64";

  ScopedDoc inner = ReadJson(Arc4(*scrambled, kTelemetryKey));
  wrapper = yyjson_doc_get_root(inner.get());
  yyjson_val* list = yyjson_obj_get(wrapper, "data");
  if (yyjson_obj_size(wrapper) != 1 || !yyjson_is_arr(list))
    return "unscrambled data is not {\"data\":[...]}";
  size_t index, count;
  yyjson_val* event;
  yyjson_arr_foreach(list, index, count, event) {
    if (!yyjson_is_obj(event))
      return fmt::format("event {} is not an object", index);
  }
  yyjson_arr_foreach(list, index, count, event) {
    events->push_back(WriteCompact(event));
    names->push_back(StringMember(event, "event"));
  }
  return std::string();
}

}  // namespace

std::string Arc4(std::string_view data, std::string_view key) {
  if (key.empty())
    return std::string();
  std::array<uint8_t, 256> state;
  std::iota(state.begin(), state.end(), 0);
  uint8_t j = 0;
  for (size_t i = 0; i < state.size(); ++i) {
    j += state[i] + static_cast<uint8_t>(key[i % key.size()]);
    std::swap(state[i], state[j]);
  }
  std::string out(data);
  uint8_t i = 0;
  j = 0;
  for (char& c : out) {
    ++i;
    j += state[i];
    std::swap(state[i], state[j]);
    c = static_cast<char>(static_cast<uint8_t>(c) ^
                          state[static_cast<uint8_t>(state[i] + state[j])]);
  }
  return out;
}

UploadCheck CheckUpload(const httplib::Request& request,
                        const std::string& body) {
  UploadCheck check;
  ReceivedUpload& upload = check.upload;
  upload.body = body;
  std::string verdict = CheckSignature(request.headers, body);

  ScopedDoc doc;
  yyjson_val* event = nullptr;
  std::string body_reason = ParseUploadBody(body, &doc, &event);
  if (verdict.empty())
    verdict = body_reason;

  if (event) {
    check.has_event = true;
    upload.msg_id = StringMember(event, "msgId");
    upload.event_name = StringMember(event, "eventName");
    yyjson_val* event_id = yyjson_obj_get(event, "eventId");
    if (yyjson_is_int(event_id))
      upload.event_id = yyjson_get_sint(event_id);
    upload.event_time = StringMember(event, "eventTime");
    yyjson_val* content = yyjson_obj_get(event, "uploadContent");
    upload.report_id = StringMember(content, "ReportId");
    upload.occur_timestamp = StringMember(content, "OccurTimestamp");
    upload.local_timestamp = StringMember(content, "LocalTimestamp");

    // An empty file is sent without the member, never as "".
    yyjson_val* dump_text = yyjson_obj_get(event, "dump");
    if (dump_text) {
      if (yyjson_is_str(dump_text) && yyjson_get_len(dump_text) > 0) {
        check.dump = DecodeBase64(std::string_view(yyjson_get_str(dump_text),
                                                   yyjson_get_len(dump_text)));
      }
      if (!check.dump && verdict.empty())
        verdict = "dump is not non-empty Base64 text";
    }
    if (check.dump) {
      upload.dump_size = check.dump->size();
      upload.dump_sha256 = DigestHex(EVP_sha256(), *check.dump);
    }
  }
  upload.verdict = verdict.empty() ? "ok" : verdict;
  return check;
}

TelemetryCheck CheckTelemetry(const httplib::Request& request,
                              const std::string& body) {
  TelemetryCheck check;
  std::string reason =
      InspectTelemetry(request, body, &check.events, &check.names);
  check.verdict = reason.empty() ? "ok" : reason;
  return check;
}

}  // namespace tools
