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

// The decoded bytes; empty on any decoding error. Accepts what Mbed TLS
// accepts: line breaks between groups, but no other character outside the
// alphabet, no space inside a line and '=' only at the end; beyond that the
// text must be whole groups of four, as the encoder writes them.
std::string Base64Decode(const char* text, size_t size);
std::string Base64Decode(std::string_view text);

}  // namespace base::utils

#endif  // BASE_JSON_BASE64_H_
