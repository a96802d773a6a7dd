#include "base/utils/rand_util.h"

// clang-format off
#include <windows.h>
#include <bcrypt.h>
// clang-format on

#include <algorithm>
#include <cstdint>

namespace base::utils {

bool RandBytes(void* buffer, size_t size) {
  auto* bytes = static_cast<uint8_t*>(buffer);
  while (size > 0) {
    // The system's preferred generator needs no algorithm handle; a call
    // takes at most a ULONG of bytes.
    const ULONG part = static_cast<ULONG>(std::min<size_t>(size, 0xFFFF'FFFFu));
    if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, bytes, part,
                                        BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
      return false;
    }
    bytes += part;
    size -= part;
  }
  return true;
}

}  // namespace base::utils
