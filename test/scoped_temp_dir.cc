#include "test/scoped_temp_dir.h"

#include <filesystem>

#include "gtest/gtest.h"

namespace test {

ScopedTempDir::ScopedTempDir() {
  std::string pattern =
      (std::filesystem::temp_directory_path() / "tlv_test_XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr)
    ADD_FAILURE() << "mkdtemp " << pattern;
  else
    path_ = pattern;
}

ScopedTempDir::~ScopedTempDir() {
  if (path_.empty())
    return;
  std::error_code error;
  std::filesystem::remove_all(path_, error);
  if (error)
    ADD_FAILURE() << "remove_all " << path_ << ": " << error.message();
}

}  // namespace test
