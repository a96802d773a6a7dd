#ifndef BASE_UTILS_HELD_FILE_H_
#define BASE_UTILS_HELD_FILE_H_

#include <memory>

#include "base/utils/file_path.h"

namespace base::utils {

#if defined(_WIN32)
using FileHandle = void*;
#else
using FileHandle = int;
#endif

// A temporary file that this process writes and reads for a while, and that
// no other process removes meanwhile: two processes may share a directory,
// and one must not remove the archive that the other is still writing or
// sending. On POSIX the holder keeps an exclusive advisory lock (flock) on
// the file, which the system drops when the holder ends, however it ends;
// on Windows an open file cannot be deleted anyway, so holding it open is
// enough there. Nothing here logs; results tell what happened.
class HeldFile {
 public:
  // Creates the regular file path, empty, and holds it. Null when something
  // already exists at path (a link is not followed) or the file cannot be
  // created or held.
  static std::unique_ptr<HeldFile> Create(const Path& path);

  HeldFile(const HeldFile&) = delete;
  HeldFile& operator=(const HeldFile&) = delete;
  // Removes the file, then lets go of it.
  ~HeldFile();

  const Path& path() const { return path_; }

 private:
  HeldFile(const Path& path, FileHandle handle)
      : path_(path), handle_(handle) {}

  const Path path_;
  const FileHandle handle_;
};

// Removes the regular file at path unless a HeldFile of this or another
// process holds it, without waiting for it. True when it removed the file;
// anything else at path (a directory, a link, a FIFO) stays.
bool RemoveUnheldFile(const Path& path);

}  // namespace base::utils

#endif  // BASE_UTILS_HELD_FILE_H_
