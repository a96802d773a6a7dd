#include "base/utils/sys_util.h"

#include <windows.h>

namespace base::utils {

uint32_t GetProcessId() {
  return GetCurrentProcessId();
}

uint32_t GetThreadId() {
  return GetCurrentThreadId();
}

}  // namespace base::utils
