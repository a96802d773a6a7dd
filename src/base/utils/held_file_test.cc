#include "base/utils/held_file.h"

#if !defined(_WIN32)
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "base/utils/file_util.h"
#include "gtest/gtest.h"
#include "test/scoped_temp_dir.h"

namespace base::utils {
namespace {

namespace fs = std::filesystem;

class HeldFileTest : public ::testing::Test {
 protected:
  Path At(const char* name) const {
    return Path(dir_.path()).Join(std::string_view(name));
  }

  test::ScopedTempDir dir_;
};

// A held file survives every attempt to remove it, and goes with its
// holder. flock conflicts between two opens of one file even within one
// process, so this process stands in for the other one.
TEST_F(HeldFileTest, HeldFileIsRemovedOnlyByItsHolder) {
  const Path path = At("1-crash.zip");
  std::unique_ptr<HeldFile> held = HeldFile::Create(path);
  ASSERT_TRUE(held);
  EXPECT_EQ(held->path(), path);
  std::ofstream(path.ToUtf8()) << "being written";

  EXPECT_FALSE(RemoveUnheldFile(path));
  EXPECT_TRUE(PathExists(path));
  // The name is taken, held or not.
  EXPECT_FALSE(HeldFile::Create(path));

  held.reset();
  EXPECT_FALSE(PathExists(path));
  EXPECT_TRUE(HeldFile::Create(path));
}

TEST_F(HeldFileTest, LeftoverIsRemovedAndAnythingElseStays) {
  const Path leftover = At("leftover");
  std::ofstream(leftover.ToUtf8()) << "of a killed run";
  EXPECT_TRUE(RemoveUnheldFile(leftover));
  EXPECT_FALSE(PathExists(leftover));
  EXPECT_FALSE(RemoveUnheldFile(leftover));

  const Path target = At("host.log");
  std::ofstream(target.ToUtf8()) << "host";
  const Path directory = At("directory");
  fs::create_directory(directory.ToUtf8());
  std::vector<Path> others = {directory};
#if !defined(_WIN32)
  const Path link = At("link");
  ASSERT_EQ(symlink(target.ToUtf8().c_str(), link.ToUtf8().c_str()), 0);
  const Path fifo = At("fifo");
  ASSERT_EQ(mkfifo(fifo.ToUtf8().c_str(), 0644), 0);
  others.insert(others.end(), {link, fifo});
#endif
  for (const Path& path : others) {
    SCOPED_TRACE(path.ToUtf8());
    EXPECT_FALSE(RemoveUnheldFile(path));
    EXPECT_TRUE(PathExists(path));
    // Nothing is created through a link either.
    EXPECT_FALSE(HeldFile::Create(path));
  }
  std::ifstream in(target.ToUtf8());
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "host");
}

}  // namespace
}  // namespace base::utils
