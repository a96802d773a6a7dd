#ifndef BASE_UTILS_SYS_UTIL_H_
#define BASE_UTILS_SYS_UTIL_H_

#include <cstdint>

namespace base::utils {

// The platform's ids of this process and of the calling thread, as the log
// lines print them.
uint32_t GetProcessId();
uint32_t GetThreadId();

}  // namespace base::utils

#endif  // BASE_UTILS_SYS_UTIL_H_
