#ifndef BASE_UTILS_FILE_UTIL_WIN_H_
#define BASE_UTILS_FILE_UTIL_WIN_H_

#include <windows.h>

#include <cstdint>
#include <string>

#include "base/utils/file_path.h"

namespace base::utils::internal {

// What the Windows file backend's files share, and its tests see.

// From this length on a path goes to the Win32 file calls in its long form:
// CreateDirectoryW refuses 248 characters and more (MAX_PATH, less room for
// an 8.3 file name), the other calls MAX_PATH.
inline constexpr size_t kLongPathFrom = 248;

// path as the Win32 file calls take it. A shorter path is passed as it is;
// from kLongPathFrom characters on, the full path (".", ".." and a relative
// start resolved) in the \\?\ form (\\?\UNC\ for a share) with backslashes,
// which every Windows takes up to 32,767 characters whether or not its
// long-path policy is on.
std::wstring Win32Path(const Path& path);

// The attribute bits FileInfo carries for an entry that Windows describes
// with attributes and, for a reparse point, its reparse tag
// (WIN32_FIND_DATAW::dwReserved0):
//   - kAttributeReparsePoint only for a name surrogate (a symbolic link, a
//     junction, a mount point), which names another place: a cloud folder
//     (OneDrive's Documents and Desktop) is a reparse point too, but its
//     files are its own, and it is walked like any directory;
//   - kAttributeNotOnDisk for a file whose data is elsewhere (a cloud file
//     that is only online, a file in offline storage), which a read would
//     make the system fetch.
uint32_t AttributesFromWin32(DWORD attributes, DWORD reparse_tag);

}  // namespace base::utils::internal

#endif  // BASE_UTILS_FILE_UTIL_WIN_H_
