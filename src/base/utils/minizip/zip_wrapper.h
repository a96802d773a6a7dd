#ifndef BASE_UTILS_MINIZIP_ZIP_WRAPPER_H_
#define BASE_UTILS_MINIZIP_ZIP_WRAPPER_H_

#include <cstdint>
#include <string>
#include <vector>

#include "base/utils/file_path.h"

namespace base::utils {

// Packs files into a new zip archive with minizip over zlib. Every file
// becomes one Deflate entry at the archive's root, named by its file name or
// the name it was added under (UTF-8, without the UTF-8 name flag), stamped
// with its local last-write
// time, and written with ZIP64 extensions when it has 0xFFFFFFFF bytes or
// more. Files and the archive are opened with shared access, so a log the
// host application is still writing can be packed.
//
// Collect the paths with AddFile, then call Finish once: it opens, writes
// and closes the archive in one go, streaming each file through one 16 KiB
// buffer. A file that cannot be packed is logged and skipped (an entry may
// remain for it, empty or cut short); packed() tells which files went in
// whole.
class ZipWrapper {
 public:
  explicit ZipWrapper(Path archive);
  ZipWrapper(const ZipWrapper&) = delete;
  ZipWrapper& operator=(const ZipWrapper&) = delete;

  // Appends path to the list as it is; the same path may be added twice.
  void AddFile(const Path& path);
  // The same, for an entry named entry_name (UTF-8) rather than by the
  // file's own name: a temporary copy that stands for another file.
  void AddFile(const Path& path, std::string entry_name);

  // Writes the archive, replacing any file at its path. False when the list
  // is empty (no archive is created) or when the archive itself cannot be
  // created or completed; then its content must not be used. True does not
  // mean that every file was packed: see packed().
  bool Finish();

  // What became of one added file.
  struct Packed {
    // All of the file's bytes went into its entry and the entry was closed.
    bool whole = false;
    // The CRC-32 of the bytes that went into the entry, as the archive
    // records it.
    uint32_t crc32 = 0;
    // Their XXH3 (64 bits), the hash the delivery ledger keeps, made in the
    // same read so that it is of the very bytes packed.
    uint64_t xxh3 = 0;
  };

  // After Finish, one per added file, in the order added.
  const std::vector<Packed>& packed() const { return packed_; }

  // True when the file has at least 0xFFFFFFFF bytes, the size from which
  // its entry needs ZIP64 extensions; false when it cannot be queried.
  static bool IsLargeFile(const Path& path);

 private:
  struct Entry {
    Path path;
    std::string name;  // UTF-8
  };
  std::vector<Entry> files_;
  Path archive_;
  std::vector<Packed> packed_;
};

}  // namespace base::utils

#endif  // BASE_UTILS_MINIZIP_ZIP_WRAPPER_H_
