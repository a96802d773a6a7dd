#include "test/scoped_temp_dir.h"

#include <filesystem>
#include <random>
#include <sstream>

#include "gtest/gtest.h"

namespace test {

ScopedTempDir::ScopedTempDir() {
  const std::filesystem::path parent = std::filesystem::temp_directory_path();
  // create_directory claims a name atomically: it fails when the name is
  // taken, so a random one is tried until one is free.
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::ostringstream name;
    name << "tlv_test_" << std::hex << random();
    const std::filesystem::path path = parent / name.str();
    std::error_code error;
    if (std::filesystem::create_directory(path, error)) {
      const std::u8string utf8 = path.u8string();
      path_.assign(utf8.begin(), utf8.end());
      return;
    }
  }
  ADD_FAILURE() << "no temporary directory under " << parent;
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
