#include "base/utils/held_file.h"

#include <windows.h>

#include <string>

#include "base/utils/file_util_win.h"

namespace base::utils {

// static
std::unique_ptr<HeldFile> HeldFile::Create(const Path& path) {
  // CREATE_NEW refuses anything already at path, a link included. The
  // handle lets this process write and read the file through other handles
  // but does not share deletion, so no process can remove the file while
  // the handle is open.
  const HANDLE handle = CreateFileW(internal::Win32Path(path).c_str(),
                                    GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    return nullptr;
  }
  return std::unique_ptr<HeldFile>(new HeldFile(path, handle));
}

HeldFile::~HeldFile() {
  CloseHandle(handle_);
  // A file of the same name that another process created and holds in the
  // meantime refuses deletion, so only this holder's file can go.
  DeleteFileW(internal::Win32Path(path_).c_str());
}

bool RemoveUnheldFile(const Path& path) {
  const std::wstring name = internal::Win32Path(path);
  const DWORD attributes = GetFileAttributesW(name.c_str());
  // Only regular files are ever held; a directory, a link or a device
  // stays.
  if (attributes == INVALID_FILE_ATTRIBUTES ||
      (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT |
                     FILE_ATTRIBUTE_DEVICE)) != 0) {
    return false;
  }
  // A live holder's handle does not share deletion: the call then fails
  // with a sharing violation and the file stays.
  return DeleteFileW(name.c_str()) != 0;
}

}  // namespace base::utils
