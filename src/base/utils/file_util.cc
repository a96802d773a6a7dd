#include "base/utils/file_util.h"

#include <limits>
#include <utility>

#include "base/utils/file.h"

namespace base::utils {

namespace {

constexpr size_t kChunkSize = 0x10000;

}  // namespace

int64_t FileTimeToTicks(uint64_t file_time) {
  return static_cast<int64_t>(file_time / 10 * 10 - kFileTimeEpochToUnixEpoch);
}

bool CreateDir(const Path& path, bool recursive) {
  if (path.empty()) {
    return false;
  }
  if (recursive) {
    // Another process may make a parent at the same moment: one that is
    // there after all will do.
    const Path parent = path.Parent();
    if (!parent.empty() && !PathExists(parent) && !CreateDir(parent, true)) {
      const std::optional<FileInfo> made = GetFileInfo(parent);
      if (!made || !made->IsDirectory()) {
        return false;
      }
    }
  }
  return internal::CreateSingleDirectory(path);
}

std::string ReadFileToString(const Path& path) {
  File file(path, kReadBinary);
  std::string content;
  if (!file.IsOpen()) {
    return content;
  }
  std::string chunk(kChunkSize, '\0');
  int64_t read;
  while ((read = file.Read(chunk.data(), chunk.size())) > 0) {
    content.append(chunk, 0, static_cast<size_t>(read));
  }
  return content;
}

bool CopyFileFrom(const Path& source,
                  const Path& destination,
                  uint64_t offset) {
  File in(source, kReadBinary);
  File out(destination, kWriteUpdateBinary);
  if (!in.IsOpen() || !out.IsOpen()) {
    return false;
  }
  // An offset the platform cannot seek to would otherwise leave the position
  // at 0 and copy the whole file.
  if (offset > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) ||
      !in.Seek(static_cast<int64_t>(offset), 0)) {
    return false;
  }
  std::string chunk(kChunkSize, '\0');
  int64_t read;
  while ((read = in.Read(chunk.data(), chunk.size())) > 0) {
    if (!out.Write(chunk.data(), static_cast<size_t>(read))) {
      return false;
    }
  }
  // A read error also ends the loop, and the copy is whole only once its
  // buffered tail has reached the disk.
  return in.AtEnd() && out.Close();
}

DirectoryWalker::DirectoryWalker(const Path& root,
                                 bool recursive,
                                 uint32_t include,
                                 std::wstring_view pattern)
    : include_(include), recursive_(recursive) {
  try {
    pattern_.assign(pattern.begin(), pattern.end(),
                    std::regex_constants::ECMAScript);
  } catch (const std::regex_error& error) {
    // Nothing is pushed, so the walk is empty.
    pattern_error_ = error.what();
    return;
  }
  pending_.push_back(root);
}

std::optional<Path> DirectoryWalker::Next() {
  ++position_;
  while (position_ >= batch_.size()) {
    if (pending_.empty()) {
      return std::nullopt;
    }
    current_ = std::move(pending_.back());
    pending_.pop_back();
    std::vector<DirectoryEntry> entries;
    if (!ListDirectory(current_, entries)) {
      continue;
    }
    batch_.clear();
    position_ = 0;
    for (DirectoryEntry& entry : entries) {
      if (!entry.info) {
        continue;
      }
      const bool is_directory = entry.info->IsDirectory();
      // A linked directory is never entered: a link cycle would walk forever.
      if (is_directory && recursive_ &&
          !(entry.info->attributes & kAttributeReparsePoint)) {
        pending_.push_back(entry.path);
      }
      const uint32_t kind = is_directory           ? kDirectories
                            : entry.info->IsFile() ? kFiles
                                                   : 0;
      const bool wanted = include_ & kind;
      const bool passed_over =
          (include_ & kFiles) && !is_directory && entry.info->IsNotOnDisk();
      if ((wanted || passed_over) &&
          std::regex_search(entry.path.FileName(), pattern_)) {
        if (wanted) {
          batch_.push_back(std::move(entry));
        } else {
          not_on_disk_.push_back(std::move(entry.path));
        }
      }
    }
  }
  return batch_[position_].path;
}

}  // namespace base::utils
