#include "base/utils/rand_util.h"

#include <errno.h>
#include <sys/random.h>

#include <cstdint>

namespace base::utils {

bool RandBytes(void* buffer, size_t size) {
  auto* bytes = static_cast<uint8_t*>(buffer);
  while (size > 0) {
    // The urandom source: it blocks only until the system has gathered its
    // first entropy at boot, never later. A large request may come back
    // short or be interrupted by a signal; both go on.
    const ssize_t got = getrandom(bytes, size, 0);
    if (got < 0) {
      if (errno == EINTR)
        continue;
      return false;
    }
    bytes += got;
    size -= static_cast<size_t>(got);
  }
  return true;
}

}  // namespace base::utils
