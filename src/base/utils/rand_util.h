#ifndef BASE_UTILS_RAND_UTIL_H_
#define BASE_UTILS_RAND_UTIL_H_

#include <cstddef>

namespace base::utils {

// Fills buffer with size bytes from the operating system's random source
// (getrandom on Linux, BCryptGenRandom on Windows), which neither repeats
// across processes nor depends on a clock. False, with buffer in an
// unspecified state, only when the system refuses; nothing here logs.
bool RandBytes(void* buffer, size_t size);

}  // namespace base::utils

#endif  // BASE_UTILS_RAND_UTIL_H_
