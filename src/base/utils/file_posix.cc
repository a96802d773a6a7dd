#include "base/utils/file.h"

#include <stdio.h>
#include <sys/types.h>

#include "base/utils/string_util.h"

namespace base::utils {

// Offsets above 4 GiB need a 64-bit off_t (or _FILE_OFFSET_BITS=64).
static_assert(sizeof(off_t) == sizeof(int64_t));

// POSIX opens without locks, so every open is already shared.
FILE* OpenSharedStream(const Path& path, int32_t mode) {
  return fopen(WideToNative(path.value()).c_str(), OpenModeString(mode));
}

bool File::Seek(int64_t offset, int32_t origin) {
  if (!open_) {
    return false;
  }
  const int whence =
      origin == 0 ? SEEK_SET : (origin == 1 ? SEEK_CUR : SEEK_END);
  return fseeko(stream_, static_cast<off_t>(offset), whence) == 0;
}

int64_t File::Tell() const {
  return open_ ? static_cast<int64_t>(ftello(stream_)) : -1;
}

}  // namespace base::utils
