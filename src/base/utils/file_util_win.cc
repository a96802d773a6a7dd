#include "base/utils/file_util.h"

#include <windows.h>

#include <iterator>
#include <utility>

#include "base/utils/file_util_win.h"
#include "base/utils/string_util.h"

namespace base::utils {

namespace {

static_assert(kAttributeReadOnly == FILE_ATTRIBUTE_READONLY);
static_assert(kAttributeDirectory == FILE_ATTRIBUTE_DIRECTORY);
static_assert(kAttributeNormal == FILE_ATTRIBUTE_NORMAL);
static_assert(kAttributeReparsePoint == FILE_ATTRIBUTE_REPARSE_POINT);

// The attributes that say where a file's data is, which not every SDK
// names yet. A cloud file that is only online has the first; a file whose
// very opening fetches it, the second.
constexpr DWORD kRecallOnDataAccess = 0x00400000;
constexpr DWORD kRecallOnOpen = 0x00040000;
static_assert(kAttributeNotOnDisk == kRecallOnDataAccess);

// RemoveFile tries a refused deletion this many times, this far apart:
// about a second in all, longer than a scanner usually holds a new file.
constexpr int kRemoveAttempts = 10;
constexpr DWORD kRemoveRetryMilliseconds = 100;

// A handle that Close releases, where INVALID_HANDLE_VALUE means none, as
// FindFirstFileW and CreateFileW return it.
template <BOOL(WINAPI* Close)(HANDLE)>
class ScopedHandle final {
 public:
  explicit ScopedHandle(HANDLE handle) : handle_(handle) {}
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  ~ScopedHandle() {
    if (is_valid()) {
      Close(handle_);
    }
  }

  bool is_valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }

 private:
  const HANDLE handle_;
};

using ScopedFindHandle = ScopedHandle<FindClose>;
using ScopedFileHandle = ScopedHandle<CloseHandle>;

Time TimeFromFileTime(const FILETIME& time) {
  return Time::FromTicks(FileTimeToTicks(
      (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime));
}

// WIN32_FILE_ATTRIBUTE_DATA, WIN32_FIND_DATAW and BY_HANDLE_FILE_INFORMATION
// name these members alike. reparse_tag is the tag of a reparse point.
template <typename Data>
FileInfo InfoFromData(const Data& data, DWORD reparse_tag) {
  FileInfo info;
  info.size =
      (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  info.last_write = TimeFromFileTime(data.ftLastWriteTime);
  info.creation = TimeFromFileTime(data.ftCreationTime);
  info.last_access = TimeFromFileTime(data.ftLastAccessTime);
  info.attributes =
      internal::AttributesFromWin32(data.dwFileAttributes, reparse_tag);
  return info;
}

// The reparse tag of the reparse point path names, as a listing reports
// it; 0 when it cannot be had. Listing a cloud file fetches nothing.
DWORD ReparseTag(const Path& path) {
  WIN32_FIND_DATAW data;
  const ScopedFindHandle search(
      FindFirstFileW(internal::Win32Path(path).c_str(), &data));
  return search.is_valid() ? data.dwReserved0 : 0;
}

// What the file system says about the file or directory path names, links
// followed. Opening for attributes only, sharing everything, disturbs no
// other user of the file; backup semantics make directories open too.
std::optional<BY_HANDLE_FILE_INFORMATION> QueryFollowingLinks(
    const Path& path) {
  const ScopedFileHandle file(
      CreateFileW(internal::Win32Path(path).c_str(), FILE_READ_ATTRIBUTES,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  BY_HANDLE_FILE_INFORMATION information;
  if (!file.is_valid() ||
      !GetFileInformationByHandle(file.get(), &information)) {
    return std::nullopt;
  }
  return information;
}

// A symbolic link or junction (a reparse point that AttributesFromWin32 took
// for a link) is described by its target, marked as a link,
// as on other platforms: an upload announces the target's size, and the
// walker sees a linked directory as a directory it must not enter. A link
// whose target cannot be opened still exists and is described by itself, and
// anything else by info as given.
FileInfo FollowLink(const Path& path, const FileInfo& info) {
  if (!(info.attributes & kAttributeReparsePoint)) {
    return info;
  }
  const std::optional<BY_HANDLE_FILE_INFORMATION> target =
      QueryFollowingLinks(path);
  if (!target) {
    return info;
  }
  // The target's own reparse tag is not asked for: a link to a cloud file
  // is taken for a file that is on disk, and reading it may fetch it.
  FileInfo followed = InfoFromData(*target, 0);
  followed.attributes |= kAttributeReparsePoint;
  return followed;
}

}  // namespace

namespace internal {

std::wstring Win32Path(const Path& path) {
  const std::wstring& value = path.value();
  if (value.size() < kLongPathFrom) {
    return value;
  }
  std::wstring full = value;
  // A path already in a device form (\\?\ or \\.\, with '/' since the
  // Path was normalised) is taken as it is.
  if (!value.starts_with(L"//?/") && !value.starts_with(L"//./")) {
    // The \\?\ form is taken word for word, so "." and ".." must be
    // resolved first. GetFullPathNameW does so at any length.
    const DWORD size = GetFullPathNameW(value.c_str(), 0, nullptr, nullptr);
    if (size == 0) {
      return value;
    }
    full.assign(size, L'\0');
    const DWORD length =
        GetFullPathNameW(value.c_str(), size, full.data(), nullptr);
    if (length == 0 || length >= size) {
      return value;
    }
    full.resize(length);
  }
  for (wchar_t& c : full) {
    if (c == L'/') {
      c = L'\\';
    }
  }
  if (full.starts_with(L"\\\\?\\") || full.starts_with(L"\\\\.\\")) {
    return full;
  }
  if (full.starts_with(L"\\\\")) {
    return L"\\\\?\\UNC\\" + full.substr(2);
  }
  return L"\\\\?\\" + full;
}

uint32_t AttributesFromWin32(DWORD attributes, DWORD reparse_tag) {
  uint32_t result = attributes & ~(kRecallOnDataAccess | kRecallOnOpen);
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
      !IsReparseTagNameSurrogate(reparse_tag)) {
    result &= ~kAttributeReparsePoint;
  }
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) &&
      (attributes &
       (kRecallOnDataAccess | kRecallOnOpen | FILE_ATTRIBUTE_OFFLINE))) {
    result |= kAttributeNotOnDisk;
  }
  return result;
}

bool CreateSingleDirectory(const Path& path) {
  return CreateDirectoryW(Win32Path(path).c_str(), nullptr);
}

}  // namespace internal

// GetFileAttributesW describes a link itself, so a dangling one exists.
bool PathExists(const Path& path) {
  return GetFileAttributesW(internal::Win32Path(path).c_str()) !=
         INVALID_FILE_ATTRIBUTES;
}

// The attribute query has no reparse tag; only a reparse point needs it.
std::optional<FileInfo> GetFileInfo(const Path& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(internal::Win32Path(path).c_str(),
                            GetFileExInfoStandard, &data)) {
    return std::nullopt;
  }
  const DWORD tag = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
                        ? ReparseTag(path)
                        : 0;
  return FollowLink(path, InfoFromData(data, tag));
}

// The volume serial number and the file index name one file or directory
// for as long as it is open; both handles are open while they are compared.
bool IsSameFile(const Path& a, const Path& b) {
  const std::optional<BY_HANDLE_FILE_INFORMATION> first =
      QueryFollowingLinks(a);
  const std::optional<BY_HANDLE_FILE_INFORMATION> second =
      QueryFollowingLinks(b);
  return first && second &&
         first->dwVolumeSerialNumber == second->dwVolumeSerialNumber &&
         first->nFileIndexHigh == second->nFileIndexHigh &&
         first->nFileIndexLow == second->nFileIndexLow;
}

bool RenameFile(const Path& from, const Path& to) {
  return MoveFileExW(internal::Win32Path(from).c_str(),
                     internal::Win32Path(to).c_str(),
                     MOVEFILE_REPLACE_EXISTING);
}

std::string NarrowPath(const Path& path) {
  return path.ToUtf8();
}

// NTFS compares names by mapping them to upper case; the invariant
// locale's mapping is the one that does not depend on the player's
// language.
std::string PathKey(const Path& path) {
  std::wstring upper = path.value();
  if (!upper.empty() &&
      LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, path.value().data(),
                    static_cast<int>(path.value().size()), upper.data(),
                    static_cast<int>(upper.size()), nullptr, nullptr, 0) == 0) {
    upper = path.value();
  }
  return WideToUtf8(upper);
}

bool ListDirectory(const Path& dir, std::vector<DirectoryEntry>& out) {
  WIN32_FIND_DATAW data;
  const ScopedFindHandle search(
      FindFirstFileW(internal::Win32Path(dir.Append(L"/*")).c_str(), &data));
  if (!search.is_valid()) {
    // An existing directory without even "." and ".." (a volume's root)
    // matches nothing; a missing one is a path that is not found.
    return GetLastError() == ERROR_FILE_NOT_FOUND;
  }
  std::vector<DirectoryEntry> entries;
  do {
    const std::wstring_view name(data.cFileName);
    if (name == L"." || name == L"..") {
      continue;
    }
    Path path = dir.Join(name);
    FileInfo info = FollowLink(path, InfoFromData(data, data.dwReserved0));
    entries.push_back({std::move(path), std::move(info)});
  } while (FindNextFileW(search.get(), &data));
  // A listing cut short is no listing: a dump in the part not seen would be
  // taken for absent.
  if (GetLastError() != ERROR_NO_MORE_FILES) {
    return false;
  }
  out.insert(out.end(), std::make_move_iterator(entries.begin()),
             std::make_move_iterator(entries.end()));
  return true;
}

bool RemoveFile(const Path& path) {
  const std::wstring name = internal::Win32Path(path);
  const DWORD attributes = GetFileAttributesW(name.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES ||
      (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return false;
  }
  // A read-only file refuses deletion with ERROR_ACCESS_DENIED, as an open
  // handle does while Windows finishes another deletion of it.
  if ((attributes & FILE_ATTRIBUTE_READONLY) &&
      !SetFileAttributesW(name.c_str(),
                          attributes & ~FILE_ATTRIBUTE_READONLY)) {
    return false;
  }
  for (int attempt = 1;; ++attempt) {
    if (DeleteFileW(name.c_str())) {
      return true;
    }
    const DWORD error = GetLastError();
    // Whoever held it may have deleted it meanwhile: it is gone all the same.
    if (attempt > 1 &&
        (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)) {
      return true;
    }
    if ((error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED) ||
        attempt == kRemoveAttempts) {
      return false;
    }
    Sleep(kRemoveRetryMilliseconds);
  }
}

}  // namespace base::utils
