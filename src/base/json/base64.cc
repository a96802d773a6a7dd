#include "base/json/base64.h"

#include <mbedtls/base64.h>

#include <algorithm>
#include <array>
#include <cstring>

namespace base::utils {

namespace {

using Base64Function = int (*)(unsigned char* dst,
                               size_t dlen,
                               size_t* olen,
                               const unsigned char* src,
                               size_t slen);

// Both Mbed TLS functions report the size they need when given no output
// buffer, then fill a buffer of that size and report what they wrote.
std::string RunBase64(Base64Function function,
                      const unsigned char* input,
                      size_t size) {
  if (size == 0)
    return std::string();
  size_t needed = 0;
  function(nullptr, 0, &needed, input, size);
  std::string output(needed, '\0');
  size_t written = 0;
  if (function(reinterpret_cast<unsigned char*>(output.data()), output.size(),
               &written, input, size) != 0) {
    return std::string();
  }
  // The encoder's size counts a terminating zero that is not part of the
  // text.
  output.resize(written);
  return output;
}

}  // namespace

std::string Base64Encode(const uint8_t* data, size_t size) {
  return RunBase64(mbedtls_base64_encode, data, size);
}

std::string Base64Encode(std::string_view bytes) {
  return Base64Encode(reinterpret_cast<const uint8_t*>(bytes.data()),
                      bytes.size());
}

size_t Base64EncodeTo(const uint8_t* data, size_t size, char* out) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  // The two characters of every 12-bit half of a group, so that a group
  // takes two lookups instead of four: bulk encoding runs beside MD5 and
  // the transport's writes, and this nearly halves its time.
  static constexpr std::array<std::array<char, 2>, 4096> kPairs = [] {
    std::array<std::array<char, 2>, 4096> pairs{};
    for (size_t i = 0; i < pairs.size(); ++i)
      pairs[i] = {kAlphabet[i >> 6], kAlphabet[i & 0x3f]};
    return pairs;
  }();
  char* const start = out;
  const uint8_t* const whole_groups_end = data + size / 3 * 3;
  for (; data != whole_groups_end; data += 3, out += 4) {
    const uint32_t group = (uint32_t{data[0]} << 16) |
                           (uint32_t{data[1]} << 8) | uint32_t{data[2]};
    memcpy(out, kPairs[group >> 12].data(), 2);
    memcpy(out + 2, kPairs[group & 0xfff].data(), 2);
  }
  const size_t rest = size % 3;
  if (rest != 0) {
    const uint32_t group =
        (uint32_t{data[0]} << 16) | (rest == 2 ? uint32_t{data[1]} << 8 : 0);
    out[0] = kAlphabet[group >> 18];
    out[1] = kAlphabet[(group >> 12) & 0x3f];
    out[2] = rest == 2 ? kAlphabet[(group >> 6) & 0x3f] : '=';
    out[3] = '=';
    out += 4;
  }
  return static_cast<size_t>(out - start);
}

std::string Base64Decode(const char* text, size_t size) {
  // Mbed TLS 2.x decodes only whole groups of four and silently drops a
  // trailing partial group, so a text cut short would decode to a shorter
  // result instead of failing. Line breaks and the spaces Mbed TLS allows at
  // line ends are no part of a group.
  const size_t group_chars = std::count_if(text, text + size, [](char c) {
    return c != '\n' && c != '\r' && c != ' ';
  });
  if (group_chars % 4 != 0)
    return std::string();
  return RunBase64(mbedtls_base64_decode,
                   reinterpret_cast<const unsigned char*>(text), size);
}

std::string Base64Decode(std::string_view text) {
  return Base64Decode(text.data(), text.size());
}

}  // namespace base::utils
