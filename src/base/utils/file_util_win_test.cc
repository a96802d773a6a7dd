#include "base/utils/file_util_win.h"

#include <windows.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "base/utils/file.h"
#include "base/utils/file_util.h"
#include "gtest/gtest.h"
#include "test/scoped_temp_dir.h"

namespace base::utils {
namespace {

// Wine keeps neither reparse tags nor the attributes of cloud and offline
// files, so the decision is tested with Windows' answers handed in.
TEST(AttributesFromWin32Test, LinksAndFilesThatAreNotOnDisk) {
  constexpr DWORD kDirectory = FILE_ATTRIBUTE_DIRECTORY;
  constexpr DWORD kReparse = FILE_ATTRIBUTE_REPARSE_POINT;
  constexpr DWORD kArchive = FILE_ATTRIBUTE_ARCHIVE;
  constexpr DWORD kRecallOnDataAccess = 0x00400000;
  constexpr DWORD kRecallOnOpen = 0x00040000;
  constexpr DWORD kPinned = 0x00080000;
  struct Case {
    const char* name;
    DWORD attributes;
    DWORD tag;
    bool link;
    bool not_on_disk;
  };
  const std::vector<Case> cases = {
      {"plain directory", kDirectory, 0, false, false},
      {"symbolic link to a directory", kDirectory | kReparse,
       IO_REPARSE_TAG_SYMLINK, true, false},
      {"junction", kDirectory | kReparse, IO_REPARSE_TAG_MOUNT_POINT, true,
       false},
      {"OneDrive's Documents", kDirectory | kReparse, IO_REPARSE_TAG_CLOUD_6,
       false, false},
      {"cloud folder not yet listed", kDirectory | kReparse | kRecallOnOpen,
       IO_REPARSE_TAG_CLOUD_6, false, false},
      {"cloud file kept on this machine", kArchive | kReparse | kPinned,
       IO_REPARSE_TAG_CLOUD_6, false, false},
      {"cloud file only online", kArchive | kReparse | kRecallOnDataAccess,
       IO_REPARSE_TAG_CLOUD_6, false, true},
      {"file fetched on opening", kArchive | kRecallOnOpen, 0, false, true},
      {"file in offline storage", kArchive | FILE_ATTRIBUTE_OFFLINE, 0, false,
       true},
      {"deduplicated file", kArchive | kReparse, IO_REPARSE_TAG_DEDUP, false,
       false},
      {"symbolic link to a file", kArchive | kReparse, IO_REPARSE_TAG_SYMLINK,
       true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FileInfo info;
    info.attributes = internal::AttributesFromWin32(c.attributes, c.tag);
    EXPECT_EQ((info.attributes & kAttributeReparsePoint) != 0, c.link);
    EXPECT_EQ(info.IsNotOnDisk(), c.not_on_disk);
    EXPECT_EQ(info.IsDirectory(), (c.attributes & kDirectory) != 0);
    EXPECT_EQ(info.IsFile(), !(c.attributes & kDirectory) && !c.not_on_disk);
  }
}

TEST(Win32PathTest, LongPathsTakeTheLongForm) {
  // 40 components of 9 characters and a separator each.
  std::wstring deep;
  for (int i = 0; i < 40; ++i) {
    deep += L"/component";
  }
  std::wstring deep_backslashed = deep;
  for (wchar_t& c : deep_backslashed) {
    c = c == L'/' ? L'\\' : c;
  }
  struct Case {
    std::wstring path;
    std::wstring win32;
  };
  const std::vector<Case> cases = {
      {L"C:/games/dumps/a.dmp", L"C:/games/dumps/a.dmp"},
      {L"//server/share/a.dmp", L"//server/share/a.dmp"},
      {L"C:" + deep + L"/a.dmp", L"\\\\?\\C:" + deep_backslashed + L"\\a.dmp"},
      {L"C:" + deep + L"/x/../y/./a.dmp",
       L"\\\\?\\C:" + deep_backslashed + L"\\y\\a.dmp"},
      {L"//server/share" + deep,
       L"\\\\?\\UNC\\server\\share" + deep_backslashed},
      {L"//?/C:" + deep, L"\\\\?\\C:" + deep_backslashed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(Path(c.path).ToUtf8()));
    EXPECT_EQ(internal::Win32Path(Path(c.path)), c.win32);
  }
}

// Windows refuses a longer path at the Win32 calls unless its long-path
// policy is on; Wine takes it either way, so this shows that the long form
// reaches each call intact.
TEST(Win32PathTest, DeepTreeIsMadeReadListedAndRemoved) {
  const test::ScopedTempDir temp;
  Path dir(temp.path());
  while (dir.value().size() < 2 * MAX_PATH) {
    dir = dir.Join(std::wstring_view(L"a-directory-name-of-some-length"));
  }
  ASSERT_TRUE(CreateDir(dir, /*recursive=*/true)) << dir.ToUtf8();
  const Path dump = dir.Join(std::wstring_view(L"crash.dmp"));
  {
    File file(dump, kWriteBinary);
    ASSERT_TRUE(file.IsOpen());
    EXPECT_TRUE(file.Write("minidump", 8));
  }
  EXPECT_EQ(ReadFileToString(dump), "minidump");
  const std::optional<FileInfo> info = GetFileInfo(dump);
  ASSERT_TRUE(info);
  EXPECT_EQ(info->size, 8u);
  DirectoryWalker walker(Path(temp.path()), /*recursive=*/true,
                         DirectoryWalker::kFiles, L"\\.dmp$");
  EXPECT_EQ(walker.Next(), dump);
  EXPECT_TRUE(RemoveFile(dump));
  EXPECT_FALSE(PathExists(dump));
  // The C++ library's removal of the temporary directory does not reach
  // this deep.
  for (Path d = dir; d != Path(temp.path()); d = d.Parent()) {
    ASSERT_TRUE(RemoveDirectoryW(internal::Win32Path(d).c_str())) << d.ToUtf8();
  }
}

class RemoveFileTest : public ::testing::Test {
 protected:
  // Opens path as an antivirus scanner does: reading and writing shared,
  // deletion not.
  static HANDLE Hold(const Path& path) {
    return CreateFileW(path.value().c_str(), GENERIC_READ,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  }

  const test::ScopedTempDir temp_;
  const Path dump_ = Path(temp_.path()).Join(std::wstring_view(L"a.dmp"));
};

// A dump that another handle holds without sharing deletion goes once it is
// let go within the second of retries; one held longer stays.
TEST_F(RemoveFileTest, WaitsForAHolderToLetGo) {
  struct Case {
    const char* name;
    int held_milliseconds;
    bool removed;
  };
  const std::vector<Case> cases = {
      {"let go after 300 ms", 300, true},
      {"held for 2 s", 2000, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    {
      File file(dump_, kWriteBinary);
      ASSERT_TRUE(file.Write("x", 1));
    }
    const HANDLE holder = Hold(dump_);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    std::thread release([holder, &c] {
      std::this_thread::sleep_for(
          std::chrono::milliseconds(c.held_milliseconds));
      CloseHandle(holder);
    });
    EXPECT_EQ(RemoveFile(dump_), c.removed);
    EXPECT_EQ(PathExists(dump_), !c.removed);
    release.join();
  }
}

TEST_F(RemoveFileTest, ReadOnlyDumpIsRemoved) {
  {
    File file(dump_, kWriteBinary);
    ASSERT_TRUE(file.Write("x", 1));
  }
  ASSERT_TRUE(
      SetFileAttributesW(dump_.value().c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_TRUE(RemoveFile(dump_));
  EXPECT_FALSE(PathExists(dump_));
}

// The process's own reading never keeps a dump from being deleted, by it or
// by the host.
TEST_F(RemoveFileTest, DumpBeingReadCanBeRemoved) {
  {
    File file(dump_, kWriteBinary);
    ASSERT_TRUE(file.Write("x", 1));
  }
  File reading(dump_, kReadBinary);
  ASSERT_TRUE(reading.IsOpen());
  EXPECT_TRUE(DeleteFileW(dump_.value().c_str())) << GetLastError();
  reading.Close();
  EXPECT_FALSE(PathExists(dump_));
}

}  // namespace
}  // namespace base::utils
