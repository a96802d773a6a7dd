#ifndef BASE_UTILS_FILE_UTIL_H_
#define BASE_UTILS_FILE_UTIL_H_

#include <cstdint>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "base/utils/file_path.h"
#include "base/utils/time.h"

namespace base::utils {

// Attribute bits as Windows reports them. On other platforms the same bits
// are derived from the file's type.
inline constexpr uint32_t kAttributeReadOnly = 0x1;
inline constexpr uint32_t kAttributeDirectory = 0x10;
// A FIFO, socket or device. Opening or reading one can wait for ever (a
// FIFO without a writer) or never end, so it never counts as a file.
inline constexpr uint32_t kAttributeDevice = 0x40;
inline constexpr uint32_t kAttributeNormal = 0x80;
// A symbolic link or junction. A walker never descends into a directory
// that carries this bit: a link cycle would otherwise walk forever. Other
// reparse points of Windows (a cloud folder, a deduplicated file) are not
// links and do not carry it.
inline constexpr uint32_t kAttributeReparsePoint = 0x400;
// A file whose data is not on this machine: a cloud file that is only
// online, or one in offline storage. Reading it would make the system fetch
// it, which can take long and costs the player's bandwidth, so it never
// counts as a file. Windows' FILE_ATTRIBUTE_RECALL_ON_DATA_ACCESS, which
// also stands for its other two ways of saying so; never set on POSIX.
inline constexpr uint32_t kAttributeNotOnDisk = 0x400000;

struct FileInfo {
  uint64_t size = 0;  // 0 for directories
  Time last_write = Time::FromTicks(0);
  Time creation = Time::FromTicks(0);
  Time last_access = Time::FromTicks(0);
  uint32_t attributes = 0;

  bool IsDirectory() const { return attributes & kAttributeDirectory; }
  bool IsDevice() const { return attributes & kAttributeDevice; }
  bool IsNotOnDisk() const { return attributes & kAttributeNotOnDisk; }
  // Anything that is neither a directory nor a device, and whose data is on
  // this machine, counts as a file.
  bool IsFile() const {
    return !IsDirectory() && !IsDevice() && !IsNotOnDisk();
  }
};

struct DirectoryEntry {
  Path path;  // the listed directory joined with the entry's name
  std::optional<FileInfo> info;
};

// 100-ns units from 1601-01-01, where Windows file times and its system clock
// count from, to 1970-01-01, where Time counts from.
inline constexpr uint64_t kFileTimeEpochToUnixEpoch = 116'444'736'000'000'000;

// A platform file time (100-ns units since 1601-01-01 UTC) as Time ticks:
// truncated to whole microseconds, then moved to the 1970 epoch.
int64_t FileTimeToTicks(uint64_t file_time);

// None of these log; each reports failure by its result.

// True when the platform reports attributes for path, file or directory. A
// symbolic link exists even when its target does not.
bool PathExists(const Path& path);

// Creates path, and with recursive its missing parents first. False for an
// empty path and for a directory that already exists: callers that accept
// an existing directory test PathExists first.
bool CreateDir(const Path& path, bool recursive);

// One query; empty on failure. For a symbolic link the information is its
// target's, with kAttributeReparsePoint added.
std::optional<FileInfo> GetFileInfo(const Path& path);

// Appends the entries of dir in the platform's order, "." and ".." skipped.
// On POSIX a name that is not UTF-8 keeps its bytes (see NativeToWide), so
// that the entry can still be opened.
// False, with out untouched, when dir cannot be listed; true for an empty
// directory.
bool ListDirectory(const Path& dir, std::vector<DirectoryEntry>& out);

// Deletes the file path names. On Windows, where an open handle that does
// not share deletion blocks it (antivirus scanners and crash handlers hold
// fresh dumps for a moment), a read-only attribute is cleared first and a
// refused deletion is tried again for about a second.
bool RemoveFile(const Path& path);

// Renames from to to, replacing a file of that name. False when the rename
// fails; nothing has moved then.
bool RenameFile(const Path& from, const Path& to);

// The name of path as the platform's narrow file calls take it, and with
// them libraries such as SQLite: the name's own bytes on POSIX (see
// WideToNative), UTF-8 on Windows.
std::string NarrowPath(const Path& path);

// A text that is the same for two spellings of a path exactly where the
// platform's file names make them one, for keys that outlive the process:
// the name's bytes on POSIX; on Windows, whose file systems ignore case,
// the UTF-8 text in upper case. Links and other names of the same file are
// not resolved: nothing here touches the disk.
std::string PathKey(const Path& path);

// True when both paths exist and name the same file or directory, however
// they are spelt: through symbolic links, hard links, or a different case
// where the file system ignores case. Implemented per platform.
bool IsSameFile(const Path& a, const Path& b);

// The whole content, zero bytes included; empty when the file cannot be
// opened.
std::string ReadFileToString(const Path& path);

// Copies source from byte offset to its end into destination, which is
// created or truncated. An offset beyond the end gives an empty destination
// and true; one the platform cannot seek to at all (above the largest file
// its file system can hold) gives false. The destination may exist after a
// failure.
bool CopyFileFrom(const Path& source, const Path& destination, uint64_t offset);

namespace internal {

// Creates the one directory path names; its parent must exist. Implemented
// per platform.
bool CreateSingleDirectory(const Path& path);

}  // namespace internal

// Walks the entries below a root directory whose file names match a pattern
// (an ECMAScript regular expression, case-sensitive, searched anywhere in the
// name; the full path is not tested).
//
// Order: all matches of one directory are returned before any of its
// subdirectories is entered; subdirectories are entered last-listed first,
// depth first. The root itself is never returned. kFiles takes what
// FileInfo::IsFile counts as a file, never a FIFO or a device. A directory
// that cannot be listed is skipped. Directories that are symbolic links or
// junctions are never entered. A matching file whose data is not on this
// machine is passed over and kept in not_on_disk(), for the caller to tell.
//
// A pattern that is not a valid regular expression makes an empty walk:
// pattern_error() then tells why, so the caller can log it.
class DirectoryWalker {
 public:
  // Bits of include.
  static constexpr uint32_t kFiles = 1;
  static constexpr uint32_t kDirectories = 2;

  DirectoryWalker(const Path& root,
                  bool recursive,
                  uint32_t include,
                  std::wstring_view pattern);

  // The next matching entry's path, or none when the walk is over.
  std::optional<Path> Next();

  // Empty unless the pattern was rejected.
  const std::string& pattern_error() const { return pattern_error_; }

  // The matching files passed over so far because their data is not on
  // this machine, in the order met.
  const std::vector<Path>& not_on_disk() const { return not_on_disk_; }

 private:
  Path current_;
  uint32_t include_;
  bool recursive_;
  std::wregex pattern_;
  std::string pattern_error_;
  size_t position_ = 0;
  std::vector<DirectoryEntry> batch_;
  std::vector<Path> pending_;
  std::vector<Path> not_on_disk_;
};

}  // namespace base::utils

#endif  // BASE_UTILS_FILE_UTIL_H_
