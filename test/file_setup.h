#ifndef TEST_FILE_SETUP_H_
#define TEST_FILE_SETUP_H_

#include <cstdint>
#include <string>

#include "base/utils/file_path.h"

namespace test {

// Sets up files as a test needs them, with the platform's own calls rather
// than the code under test.

// Sets the last access and the last write time of path, each as seconds and
// nanoseconds since 1970 (Windows keeps them in units of 100 ns). A failure
// fails the current test.
void SetFileTimes(const base::utils::Path& path,
                  int64_t access_seconds,
                  int64_t access_nanoseconds,
                  int64_t write_seconds,
                  int64_t write_nanoseconds);

// Makes path a file of size bytes that ends in tail and holds zeros before
// it, without storing them where the file system can avoid it. False when
// the file system refuses a file of that size.
bool MakeSparseFile(const base::utils::Path& path,
                    int64_t size,
                    const std::string& tail);

// The content of a file written in text mode, as the log file is, with the
// line ends the C library wrote there (CRLF on Windows) read back as "\n".
std::string ReadTextFile(const base::utils::Path& path);

}  // namespace test

#endif  // TEST_FILE_SETUP_H_
