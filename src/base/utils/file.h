#ifndef BASE_UTILS_FILE_H_
#define BASE_UTILS_FILE_H_

#include <cstdint>
#include <cstdio>
#include <string>

#include "base/utils/file_path.h"

namespace base::utils {

// The C library's mode strings, by number. Any number outside the table
// opens with "r".
enum OpenMode : int32_t {
  kRead = 0,                 // "r"
  kReadBinary = 1,           // "rb"
  kReadUpdate = 2,           // "r+"
  kReadUpdateBinary = 3,     // "rb+"
  kWrite = 4,                // "w"
  kWriteBinary = 5,          // "wb"
  kWriteUpdate = 6,          // "w+"
  kWriteUpdateBinary = 7,    // "wb+"
  kAppend = 8,               // "a"
  kAppendUpdate = 9,         // "a+"
  kAppendBinary = 10,        // "ab"
  kAppendUpdateBinary = 11,  // "ab+"
};

// A buffered file handle opened with shared access: other handles and other
// processes (the host application among them) may read, write and delete
// the file meanwhile. Closes itself when destroyed. Offsets are 64-bit on every
// platform. Nothing here logs; results tell what happened.
class File {
 public:
  File() = default;
  File(const Path& path, int32_t mode) { Open(path, mode); }
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File() { Close(); }

  // Closes any open stream first. Returns whether the file is now open.
  bool Open(const Path& path, int32_t mode);
  bool IsOpen() const { return open_; }
  const std::wstring& path() const { return path_; }

  // Bytes read; 0 at end of file; -1 when the file is not open. Fewer than
  // n bytes before the end (AtEnd() false) means a read error.
  int64_t Read(void* buffer, size_t n);
  // True once a read has met the end of the file.
  bool AtEnd() const;
  // Writes all n bytes, continuing after partial writes; false when the file
  // is not open or a write makes no progress. Writing 0 bytes succeeds.
  bool Write(const void* data, size_t n);
  // origin 0: from the start, 1: from the current position, otherwise from
  // the end. No effect on a closed file. False when the file is closed or the
  // platform refuses the position (a negative one, or one beyond the largest
  // file the file system can hold).
  bool Seek(int64_t offset, int32_t origin);
  // The current offset; -1 when the file is closed or the platform cannot
  // tell it.
  int64_t Tell() const;
  void Flush();
  // False when the stream's buffered data could not be written: a file just
  // written is complete only when Close succeeds. True for a closed file.
  bool Close();

 private:
  bool open_ = false;
  std::wstring path_;
  FILE* stream_ = nullptr;
};

// The C library's mode string of mode; "r" for a number outside the table.
const char* OpenModeString(int32_t mode);

// Opens path with the mode's C-library string and shared access; null on
// failure. Implemented per platform.
FILE* OpenSharedStream(const Path& path, int32_t mode);

// Writes all n bytes to stream with the C library's buffered write,
// continuing after partial writes; false when a write makes no progress.
// File::Write and the console log sink share it.
bool WriteStream(FILE* stream, const void* data, size_t n);

}  // namespace base::utils

#endif  // BASE_UTILS_FILE_H_
