#ifndef TEST_SCOPED_TEMP_DIR_H_
#define TEST_SCOPED_TEMP_DIR_H_

#include <string>

namespace test {

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes away.
class ScopedTempDir {
 public:
  ScopedTempDir();
  ScopedTempDir(const ScopedTempDir&) = delete;
  ScopedTempDir& operator=(const ScopedTempDir&) = delete;
  ~ScopedTempDir();

  // UTF-8, without a trailing '/'.
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace test

#endif  // TEST_SCOPED_TEMP_DIR_H_
