// Base64Decode on arbitrary text, and Base64Encode on arbitrary bytes.
//
// Decoding either fails (empty) or yields three bytes per group of four
// alphabet characters, less one per '='; what it yields encodes to text
// that decodes to the same bytes. Any bytes encode to text of whole groups
// that decodes back to them.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "base/json/base64.h"

namespace {

bool IsLineBreakOrSpace(char c) {
  return c == '\n' || c == '\r' || c == ' ';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);

  const std::string decoded = base::utils::Base64Decode(input);
  if (!decoded.empty()) {
    const size_t group_chars =
        size - std::count_if(input.begin(), input.end(), IsLineBreakOrSpace);
    const size_t padding = std::count(input.begin(), input.end(), '=');
    if (padding > 2 || decoded.size() != group_chars / 4 * 3 - padding)
      std::abort();
    if (base::utils::Base64Decode(base::utils::Base64Encode(decoded)) !=
        decoded) {
      std::abort();
    }
  }

  const std::string encoded = base::utils::Base64Encode(data, size);
  if (encoded.size() != (size + 2) / 3 * 4)
    std::abort();
  if (base::utils::Base64Decode(encoded) != input)
    std::abort();
  return 0;
}
