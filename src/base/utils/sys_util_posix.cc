#include "base/utils/sys_util.h"

#include <sys/types.h>
#include <unistd.h>

namespace base::utils {

uint32_t GetProcessId() {
  return static_cast<uint32_t>(getpid());
}

uint32_t GetThreadId() {
  return static_cast<uint32_t>(gettid());
}

}  // namespace base::utils
