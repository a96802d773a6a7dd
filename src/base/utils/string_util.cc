#include "base/utils/string_util.h"

#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>

#include "base/utils/time.h"

namespace base::utils {

std::string RandomString() {
  static constexpr char kAlphabet[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  static constexpr int kLength = 32;
  std::string result;
  result.reserve(kLength);
  for (int i = 0; i < kLength; ++i) {
    std::mt19937 engine(static_cast<uint32_t>(MonotonicNanoseconds()));
    std::uniform_int_distribution<int> index(0, sizeof(kAlphabet) - 2);
    result.push_back(kAlphabet[index(engine)]);
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
