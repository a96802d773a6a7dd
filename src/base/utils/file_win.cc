#include "base/utils/file.h"

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <windows.h>

#include <string_view>

#include "base/utils/file_util_win.h"

namespace base::utils {

// Every kind of sharing, so that the host application, which may still be
// writing its log or dump, can read and write the file while it is open
// here, and so that a dump that is being read can still be deleted. The C
// library's own open (_wfsopen with _SH_DENYNO) does not share deletion, so
// the file is opened with CreateFileW and the stream made over its handle.
FILE* OpenSharedStream(const Path& path, int32_t mode) {
  const std::string_view mode_string = OpenModeString(mode);
  const bool update = mode_string.find('+') != std::string_view::npos;
  DWORD access = 0;
  DWORD disposition = 0;
  int flags =
      mode_string.find('b') != std::string_view::npos ? _O_BINARY : _O_TEXT;
  switch (mode_string[0]) {
    case 'r':
      access = GENERIC_READ | (update ? GENERIC_WRITE : 0);
      disposition = OPEN_EXISTING;
      flags |= update ? 0 : _O_RDONLY;
      break;
    case 'w':
      access = GENERIC_WRITE | (update ? GENERIC_READ : 0);
      disposition = CREATE_ALWAYS;
      break;
    default:  // 'a'
      access = GENERIC_WRITE | (update ? GENERIC_READ : 0);
      disposition = OPEN_ALWAYS;
      flags |= _O_APPEND;
      break;
  }
  const HANDLE handle =
      CreateFileW(internal::Win32Path(path).c_str(), access,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    return nullptr;
  }
  const int descriptor =
      _open_osfhandle(reinterpret_cast<intptr_t>(handle), flags);
  if (descriptor == -1) {
    CloseHandle(handle);
    return nullptr;
  }
  // The stream owns the descriptor, and the descriptor the handle.
  FILE* const stream = _fdopen(descriptor, mode_string.data());
  if (!stream) {
    _close(descriptor);
  }
  return stream;
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
