#include "base/utils/string_util.h"

#include <array>
#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>

#include "base/utils/rand_util.h"

namespace base::utils {

std::string RandomString() {
  static constexpr char kAlphabet[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  static constexpr size_t kAlphabetSize = sizeof(kAlphabet) - 1;
  static constexpr size_t kLength = 32;
  // Bytes from the largest multiple of the alphabet's size up are drawn
  // again, so that every character is equally likely.
  static constexpr unsigned kLimit = 256 - 256 % kAlphabetSize;

  std::array<uint8_t, 64> pool;
  size_t used = pool.size();
  std::string result;
  result.reserve(kLength);
  while (result.size() < kLength) {
    if (used == pool.size()) {
      if (!RandBytes(pool.data(), pool.size())) {
        // Only a system that refuses its own random source gets here; the
        // standard library's device draws on another one where it can.
        std::random_device device;
        for (uint8_t& byte : pool)
          byte = static_cast<uint8_t>(device());
      }
      used = 0;
    }
    const uint8_t byte = pool[used++];
    if (byte < kLimit)
      result.push_back(kAlphabet[byte % kAlphabetSize]);
  }
  return result;
}

std::string StringPrintf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list measure_args;
  va_copy(measure_args, args);
  const int length = std::vsnprintf(nullptr, 0, format, measure_args);
  va_end(measure_args);

  std::string result;
  if (length >= 0 && length != INT_MAX) {
    // The terminating zero lands on the string's own terminator.
    result.resize(static_cast<size_t>(length));
    std::vsnprintf(result.data(), result.size() + 1, format, args);
    // A "%c" of zero ends the text there.
    result.resize(std::strlen(result.c_str()));
  }
  va_end(args);
  return result;
}

}  // namespace base::utils
