#ifndef BASE_JSON_BASE64_H_
#define BASE_JSON_BASE64_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace base::utils {

// Standard Base64 (A-Z, a-z, 0-9, '+', '/'; '=' fills the last group; no
// line breaks), by Mbed TLS. Empty input gives empty text.
std::string Base64Encode(const uint8_t* data, size_t size);
std::string Base64Encode(std::string_view bytes);

// The length of the Base64 text of size bytes: 4 * ceil(size / 3).
constexpr uint64_t Base64EncodedSize(uint64_t size) {
  return (size + 2) / 3 * 4;
}

// Writes the same text as Base64Encode to out, which must hold
// Base64EncodedSize(size) characters, and returns that count. A plain table
// lookup, about ten times faster than Mbed TLS's encoder, whose lookups are
// written to take the same time for every byte value so that encoding keys
// leaks nothing through timing. That is needed for secrets, not for bulk
// data such as a dump. Encoding a long input piece by piece gives the same
// text as encoding it whole when every piece but the last is a multiple of
// three bytes.
size_t Base64EncodeTo(const uint8_t* data, size_t size, char* out);

// The decoded bytes; empty on any decoding error. Accepts what Mbed TLS
// accepts: line breaks between groups, but no other character outside the
// alphabet, no space inside a line and '=' only at the end; beyond that the
// text must be whole groups of four, as the encoder writes them.
std::string Base64Decode(const char* text, size_t size);
std::string Base64Decode(std::string_view text);

}  // namespace base::utils

#endif  // BASE_JSON_BASE64_H_
