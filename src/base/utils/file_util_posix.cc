#include "base/utils/file_util.h"

#include <dirent.h>
#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "base/utils/string_util.h"

namespace base::utils {

namespace {

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};
using ScopedDir = std::unique_ptr<DIR, DirCloser>;

// Whole microseconds, as the platform file times on Windows give them.
Time TimeFromTimespec(const timespec& time) {
  return Time::FromTicks(static_cast<int64_t>(time.tv_sec) *
                             Time::kTicksPerSecond +
                         time.tv_nsec / 1000 * 10);
}

FileInfo InfoFromStat(const struct stat& status, uint32_t extra_attributes) {
  const bool is_directory = S_ISDIR(status.st_mode);
  const bool is_device = S_ISFIFO(status.st_mode) || S_ISSOCK(status.st_mode) ||
                         S_ISCHR(status.st_mode) || S_ISBLK(status.st_mode);
  FileInfo info;
  info.size = is_directory ? 0 : static_cast<uint64_t>(status.st_size);
  info.last_write = TimeFromTimespec(status.st_mtim);
  // POSIX keeps no portable birth time; the status-change time stands in.
  info.creation = TimeFromTimespec(status.st_ctim);
  info.last_access = TimeFromTimespec(status.st_atim);
  info.attributes = (is_directory ? kAttributeDirectory
                     : is_device  ? kAttributeDevice
                                  : kAttributeNormal) |
                    extra_attributes;
  return info;
}

}  // namespace

namespace internal {

bool CreateSingleDirectory(const Path& path) {
  return mkdir(WideToNative(path.value()).c_str(), 0755) == 0;
}

}  // namespace internal

bool PathExists(const Path& path) {
  struct stat status;
  return lstat(WideToNative(path.value()).c_str(), &status) == 0;
}

std::optional<FileInfo> GetFileInfo(const Path& path) {
  const std::string name = WideToNative(path.value());
  struct stat link_status;
  if (lstat(name.c_str(), &link_status) != 0) {
    return std::nullopt;
  }
  if (!S_ISLNK(link_status.st_mode)) {
    return InfoFromStat(link_status, 0);
  }
  // A dangling link still exists; it is described by itself.
  struct stat target_status;
  const bool has_target = stat(name.c_str(), &target_status) == 0;
  return InfoFromStat(has_target ? target_status : link_status,
                      kAttributeReparsePoint);
}

bool IsSameFile(const Path& a, const Path& b) {
  struct stat status_a;
  struct stat status_b;
  return stat(WideToNative(a.value()).c_str(), &status_a) == 0 &&
         stat(WideToNative(b.value()).c_str(), &status_b) == 0 &&
         status_a.st_dev == status_b.st_dev &&
         status_a.st_ino == status_b.st_ino;
}

bool ListDirectory(const Path& dir, std::vector<DirectoryEntry>& out) {
  ScopedDir stream(opendir(WideToNative(dir.value()).c_str()));
  if (!stream) {
    return false;
  }
  std::vector<DirectoryEntry> entries;
  while (true) {
    errno = 0;
    const dirent* entry = readdir(stream.get());
    if (!entry) {
      if (errno != 0) {
        return false;
      }
      break;
    }
    if (std::strcmp(entry->d_name, ".") == 0 ||
        std::strcmp(entry->d_name, "..") == 0) {
      continue;
    }
    Path path = dir.Join(NativeToWide(entry->d_name));
    std::optional<FileInfo> info = GetFileInfo(path);
    entries.push_back({std::move(path), std::move(info)});
  }
  out.insert(out.end(), std::make_move_iterator(entries.begin()),
             std::make_move_iterator(entries.end()));
  return true;
}

bool RemoveFile(const Path& path) {
  return unlink(WideToNative(path.value()).c_str()) == 0;
}

bool RenameFile(const Path& from, const Path& to) {
  return rename(WideToNative(from.value()).c_str(),
                WideToNative(to.value()).c_str()) == 0;
}

std::string NarrowPath(const Path& path) {
  return WideToNative(path.value());
}

std::string PathKey(const Path& path) {
  return NarrowPath(path);
}

}  // namespace base::utils
