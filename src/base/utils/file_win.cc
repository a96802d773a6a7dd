#include "base/utils/file.h"

#include <share.h>
#include <stdio.h>

#include <cstring>
#include <string>

namespace base::utils {

// _SH_DENYNO lets the host application, which may still be writing its log
// or dump, read and write the file while it is open here.
FILE* OpenSharedStream(const Path& path, int32_t mode) {
  // The mode strings are ASCII, so each byte is its own wide character.
  const char* const mode_string = OpenModeString(mode);
  const std::wstring wide_mode(mode_string,
                               mode_string + std::strlen(mode_string));
  return _wfsopen(path.value().c_str(), wide_mode.c_str(), _SH_DENYNO);
}

bool File::Seek(int64_t offset, int32_t origin) {
  if (!open_) {
    return false;
  }
  const int whence =
      origin == 0 ? SEEK_SET : (origin == 1 ? SEEK_CUR : SEEK_END);
  return _fseeki64(stream_, offset, whence) == 0;
}

int64_t File::Tell() const {
  return open_ ? _ftelli64(stream_) : -1;
}

}  // namespace base::utils
