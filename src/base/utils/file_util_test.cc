#include "base/utils/file_util.h"

#if defined(_WIN32)
#include <windows.h>
#include <winioctl.h>
#else
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "base/utils/file.h"
#include "gtest/gtest.h"
#include "test/file_setup.h"
#include "test/scoped_temp_dir.h"

namespace base::utils {
namespace {

// The attribute bits that tell a file, a directory and a link apart. Windows
// reports others besides as it keeps them (archive, for one).
constexpr uint32_t kKindBits = kAttributeDirectory | kAttributeReparsePoint;

constexpr char kNoLinks[] =
    "this system does not let the test make symbolic links";

// Links made with the platform's own calls.
#if defined(_WIN32)

// False when the system does not make the link: Windows without Developer
// Mode refuses the privilege, and Wine makes nothing.
bool MakeSymbolicLink(const Path& target, const Path& link) {
  const std::wstring target_name =
      std::filesystem::path(target.value()).make_preferred().wstring();
  const DWORD target_attributes = GetFileAttributesW(target.value().c_str());
  const DWORD flags = SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE |
                      (target_attributes != INVALID_FILE_ATTRIBUTES &&
                               (target_attributes & FILE_ATTRIBUTE_DIRECTORY)
                           ? SYMBOLIC_LINK_FLAG_DIRECTORY
                           : 0);
  if (!CreateSymbolicLinkW(link.value().c_str(), target_name.c_str(), flags)) {
    return false;
  }
  const DWORD attributes = GetFileAttributesW(link.value().c_str());
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// False when the file system makes no junctions (Wine's does not).
bool MakeJunction(const Path& target, const Path& link) {
  if (!CreateDirectoryW(link.value().c_str(), nullptr)) {
    ADD_FAILURE() << "CreateDirectoryW " << link.ToUtf8();
    return false;
  }
  const HANDLE directory = CreateFileW(
      link.value().c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (directory == INVALID_HANDLE_VALUE) {
    ADD_FAILURE() << "CreateFileW " << link.ToUtf8();
    return false;
  }
  // A mount point's reparse data (REPARSE_DATA_BUFFER of the driver kit):
  // the target as an NT path, then an empty name to print, each ending in
  // a NUL.
  const std::wstring nt_target =
      L"\\??\\" +
      std::filesystem::path(target.value()).make_preferred().wstring();
  const WORD target_bytes = static_cast<WORD>(nt_target.size() * 2);
  struct {
    DWORD tag;
    WORD data_length;
    WORD reserved;
    WORD substitute_offset;
    WORD substitute_length;
    WORD print_offset;
    WORD print_length;
    wchar_t names[MAX_PATH * 2];
  } data = {};
  data.tag = IO_REPARSE_TAG_MOUNT_POINT;
  data.substitute_length = target_bytes;
  data.print_offset = target_bytes + 2;
  nt_target.copy(data.names, nt_target.size());
  data.data_length = 8 + target_bytes + 2 + 2;
  DWORD returned = 0;
  const bool made =
      DeviceIoControl(directory, FSCTL_SET_REPARSE_POINT, &data,
                      8 + data.data_length, nullptr, 0, &returned, nullptr);
  CloseHandle(directory);
  return made;
}

#else

bool MakeSymbolicLink(const Path& target, const Path& link) {
  const bool made =
      symlink(target.ToUtf8().c_str(), link.ToUtf8().c_str()) == 0;
  EXPECT_TRUE(made) << link.ToUtf8();
  return made;
}

#endif

// Each test works in a fresh temporary directory.
class FileUtilTest : public ::testing::Test {
 protected:
  Path At(const char* relative) const {
    return root_.Join(std::string_view(relative));
  }

  static void WriteFile(const Path& path, const std::string& content) {
    std::ofstream stream(path.ToUtf8(), std::ios::binary);
    stream << content;
    ASSERT_TRUE(stream.good()) << path.ToUtf8();
  }

  static void MakeDir(const Path& path) {
    ASSERT_TRUE(std::filesystem::create_directory(path.value()))
        << path.ToUtf8();
  }

  // Distinct bytes at every offset, zeros included.
  static std::string Pattern(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) {
      bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    }
    return bytes;
  }

  test::ScopedTempDir dir_;
  const Path root_{dir_.path()};
};

TEST(FileTimeTest, FileTimeToTicks) {
  EXPECT_EQ(FileTimeToTicks(116'444'736'000'000'009), 0);
  EXPECT_EQ(FileTimeToTicks(116'444'736'015'000'019), 15'000'010);
  EXPECT_EQ(FileTimeToTicks(0), -116'444'736'000'000'000);
}

TEST(OpenModeTest, ModeStrings) {
  const std::vector<const char*> expected = {
      "r", "rb", "r+", "rb+", "w", "wb", "w+", "wb+", "a", "a+", "ab", "ab+",
  };
  for (size_t mode = 0; mode < expected.size(); ++mode) {
    EXPECT_STREQ(OpenModeString(static_cast<int32_t>(mode)), expected[mode]);
  }
  EXPECT_STREQ(OpenModeString(-1), "r");
  EXPECT_STREQ(OpenModeString(12), "r");
}

TEST_F(FileUtilTest, ClosedFileRefusesEverything) {
  File file;
  char byte = 0;
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(file.Read(&byte, 1), -1);
  EXPECT_FALSE(file.Write("x", 1));
  EXPECT_FALSE(file.Seek(0, 0));

  EXPECT_FALSE(file.Open(At("missing"), kReadBinary));
  EXPECT_EQ(file.Read(&byte, 1), -1);
  EXPECT_TRUE(file.path().empty());
}

TEST_F(FileUtilTest, FileWritesSeeksAndReads) {
  const Path path = At("data.bin");
  File file(path, kWriteUpdateBinary);
  ASSERT_TRUE(file.IsOpen());
  EXPECT_EQ(file.path(), path.value());
  EXPECT_TRUE(file.Write("", 0));
  EXPECT_TRUE(file.Write("0123456789", 10));

  EXPECT_EQ(file.Tell(), 10);

  struct Case {
    int64_t offset;
    int32_t origin;
    char expected;
  };
  // Each read moves the position one byte on.
  const std::vector<Case> cases = {
      {2, 0, '2'}, {3, 1, '6'}, {-3, 2, '7'}, {-2, 1, '6'}};
  for (const Case& c : cases) {
    char byte = 0;
    EXPECT_TRUE(file.Seek(c.offset, c.origin));
    EXPECT_EQ(file.Tell(), c.expected - '0');
    EXPECT_EQ(file.Read(&byte, 1), 1);
    EXPECT_EQ(byte, c.expected);
  }
  EXPECT_FALSE(file.AtEnd());
  char buffer[4] = {};
  EXPECT_TRUE(file.Seek(-2, 2));
  EXPECT_EQ(file.Read(buffer, sizeof(buffer)), 2);
  EXPECT_TRUE(file.AtEnd());
  EXPECT_FALSE(file.Seek(-1, 0));

  EXPECT_TRUE(file.Close());
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(file.Tell(), -1);
  EXPECT_FALSE(file.AtEnd());
  EXPECT_TRUE(file.path().empty());
  EXPECT_EQ(ReadFileToString(path), "0123456789");
}

TEST_F(FileUtilTest, PathExists) {
  WriteFile(At("file"), "x");
  EXPECT_TRUE(PathExists(root_));
  EXPECT_TRUE(PathExists(At("file")));
  EXPECT_FALSE(PathExists(At("nowhere")));
  EXPECT_FALSE(PathExists(Path()));
}

TEST_F(FileUtilTest, CreateDir) {
  const Path deep = At("a/b/c");
  EXPECT_FALSE(CreateDir(deep, false));
  EXPECT_FALSE(PathExists(At("a")));

  EXPECT_TRUE(CreateDir(deep, true));
  EXPECT_TRUE(GetFileInfo(At("a/b"))->IsDirectory());
  EXPECT_TRUE(GetFileInfo(deep)->IsDirectory());
  // An existing directory is a failure.
  EXPECT_FALSE(CreateDir(deep, true));
  EXPECT_FALSE(CreateDir(Path(), true));

  // A parent that is a file cannot be created through.
  WriteFile(At("file"), "x");
  EXPECT_FALSE(CreateDir(At("file/sub/dir"), true));
}

// Runs that start together make the same parents at the same moment, as two
// crash reporters do with a new work directory: a parent that another made
// first is no failure.
TEST_F(FileUtilTest, CreateDirSharesParentsMadeAtTheSameMoment) {
  for (int round = 0; round < 20; ++round) {
    const std::string parents = "r" + std::to_string(round) + "/a/b/c/d/e";
    std::vector<std::thread> threads;
    std::atomic<int> made = 0;
    for (int i = 0; i < 4; ++i) {
      threads.emplace_back([&, i] {
        const std::string leaf = parents + "/" + std::to_string(i);
        made += CreateDir(At(leaf.c_str()), true);
      });
    }
    for (std::thread& thread : threads)
      thread.join();
    EXPECT_EQ(made, 4) << round;
  }
}

TEST_F(FileUtilTest, GetFileInfo) {
  WriteFile(At("file"), "12345");
  MakeDir(At("dir"));

  const std::optional<FileInfo> file = GetFileInfo(At("file"));
  ASSERT_TRUE(file);
  EXPECT_EQ(file->size, 5u);
  EXPECT_EQ(file->attributes & kKindBits, 0u);
  EXPECT_TRUE(file->IsFile());
  const std::optional<FileInfo> dir = GetFileInfo(At("dir"));
  ASSERT_TRUE(dir);
  EXPECT_EQ(dir->size, 0u);
  EXPECT_EQ(dir->attributes & kKindBits, kAttributeDirectory);
  EXPECT_FALSE(GetFileInfo(At("nowhere")));
#if !defined(_WIN32)
  // Derived from the file's type where the platform keeps no attributes.
  EXPECT_EQ(file->attributes, kAttributeNormal);
  EXPECT_EQ(dir->attributes, kAttributeDirectory);
#endif
}

// A link exists even without its target, is described by its target as far
// as that exists, and names the same file as the target.
TEST_F(FileUtilTest, SymbolicLinks) {
  WriteFile(At("file"), "12345");
  MakeDir(At("dir"));
  if (!MakeSymbolicLink(At("file"), At("file_link")) ||
      !MakeSymbolicLink(At("dir"), At("dir_link")) ||
      !MakeSymbolicLink(At("nowhere"), At("dangling"))) {
    GTEST_SKIP() << kNoLinks;
  }

  struct Case {
    const char* name;
    uint64_t size;
    uint32_t kind;
  };
  const std::vector<Case> cases = {
      {"file_link", 5, kAttributeReparsePoint},
      {"dir_link", 0, kAttributeDirectory | kAttributeReparsePoint},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::optional<FileInfo> info = GetFileInfo(At(c.name));
    ASSERT_TRUE(info);
    EXPECT_EQ(info->size, c.size);
    EXPECT_EQ(info->attributes & kKindBits, c.kind);
  }
  EXPECT_TRUE(PathExists(At("dangling")));
  const std::optional<FileInfo> dangling = GetFileInfo(At("dangling"));
  ASSERT_TRUE(dangling);
  EXPECT_TRUE(dangling->IsFile());
  EXPECT_TRUE(dangling->attributes & kAttributeReparsePoint);

  EXPECT_TRUE(IsSameFile(At("file_link"), At("file")));
  EXPECT_TRUE(IsSameFile(At("dir_link"), At("dir")));
  EXPECT_FALSE(IsSameFile(At("dangling"), At("nowhere")));
}

TEST_F(FileUtilTest, GetFileInfoTimesInWholeMicroseconds) {
  const Path path = At("file");
  WriteFile(path, "x");
  // 2023-11-14T22:13:20.123456789Z written and read.
  test::SetFileTimes(path, 1'700'000'000, 123'456'789, 1'700'000'001,
                     987'654'321);
  const std::optional<FileInfo> info = GetFileInfo(path);
  ASSERT_TRUE(info);
  EXPECT_EQ(info->last_access.ticks(), 17'000'000'001'234'560);
  EXPECT_EQ(info->last_write.ticks(), 17'000'000'019'876'540);
}

TEST_F(FileUtilTest, ListDirectory) {
  std::vector<DirectoryEntry> entries;
  EXPECT_TRUE(ListDirectory(root_, entries));
  EXPECT_TRUE(entries.empty());

  WriteFile(At("a.dmp"), "x");
  MakeDir(At("sub"));
  EXPECT_TRUE(ListDirectory(root_, entries));
  std::vector<std::wstring> names;
  for (const DirectoryEntry& entry : entries) {
    EXPECT_EQ(entry.path.Parent(), root_);
    ASSERT_TRUE(entry.info);
    EXPECT_EQ(entry.info->IsDirectory(), entry.path.FileName() == L"sub");
    names.push_back(entry.path.FileName());
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::wstring>{L"a.dmp", L"sub"}));

  // A failed listing leaves what was there.
  EXPECT_FALSE(ListDirectory(At("missing"), entries));
  EXPECT_FALSE(ListDirectory(At("a.dmp"), entries));
  EXPECT_EQ(entries.size(), 2u);
}

TEST_F(FileUtilTest, RemoveFile) {
  WriteFile(At("file"), "x");
  MakeDir(At("dir"));
  EXPECT_TRUE(RemoveFile(At("file")));
  EXPECT_FALSE(PathExists(At("file")));
  EXPECT_FALSE(RemoveFile(At("file")));
  EXPECT_FALSE(RemoveFile(At("dir")));
  EXPECT_TRUE(PathExists(At("dir")));
}

TEST_F(FileUtilTest, ReadFileToString) {
  // Around the 65536-byte chunk.
  for (size_t size : {0, 1, 65'535, 65'536, 65'537, 200'003}) {
    SCOPED_TRACE(size);
    const std::string content = Pattern(size);
    WriteFile(At("file"), content);
    EXPECT_EQ(ReadFileToString(At("file")), content);
  }
  EXPECT_EQ(ReadFileToString(At("missing")), "");
}

TEST_F(FileUtilTest, CopyFileFrom) {
  const std::string content = Pattern(200'000);
  WriteFile(At("source"), content);
  for (uint64_t offset : {0, 1, 65'536, 150'000, 199'999, 200'000, 300'000}) {
    SCOPED_TRACE(offset);
    WriteFile(At("destination"), "old content");
    EXPECT_TRUE(CopyFileFrom(At("source"), At("destination"), offset));
    EXPECT_EQ(ReadFileToString(At("destination")),
              content.substr(std::min<uint64_t>(offset, content.size())));
  }
  EXPECT_FALSE(CopyFileFrom(At("missing"), At("destination"), 0));
  EXPECT_FALSE(CopyFileFrom(At("source"), At("no_dir/destination"), 0));
  // Not a position any file can have: copying from 0 instead would be wrong.
  EXPECT_FALSE(CopyFileFrom(At("source"), At("destination"), ~0ull));
}

// A copy whose bytes cannot all be stored fails, also when the only failure
// is writing out the buffered tail as the copy is closed.
TEST_F(FileUtilTest, CopyFileFromToAFullDevice) {
  const Path full("/dev/full");
  if (!PathExists(full)) {
    GTEST_SKIP() << "no /dev/full";
  }
  WriteFile(At("source"), Pattern(200'000));
  for (uint64_t offset : {0, 199'999}) {
    SCOPED_TRACE(offset);
    EXPECT_FALSE(CopyFileFrom(At("source"), full, offset));
  }
}

TEST_F(FileUtilTest, IsSameFile) {
  WriteFile(At("file"), "x");
  WriteFile(At("other"), "x");
  MakeDir(At("dir"));
  std::filesystem::create_hard_link(At("file").value(), At("hard").value());

  struct Case {
    const char* a;
    const char* b;
    bool same;
  };
  const std::vector<Case> cases = {
      {"file", "file", true},        {"hard", "file", true},
      {"dir/../file", "file", true}, {"dir", "dir/.", true},
      {"file", "other", false},      {"file", "dir", false},
      {"missing", "missing", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.a) + " " + c.b);
    EXPECT_EQ(IsSameFile(At(c.a), At(c.b)), c.same);
  }
}

TEST_F(FileUtilTest, CopyFileFromAbove4GiB) {
  constexpr int64_t kSize = 5ll << 30;
  constexpr size_t kTail = 10'485'760;
  const std::string tail = Pattern(kTail);
  const Path source = At("sparse");
  if (!test::MakeSparseFile(source, kSize, tail)) {
    GTEST_SKIP() << "the file system refuses a 5 GiB sparse file";
  }
  EXPECT_TRUE(CopyFileFrom(source, At("tail"), kSize - kTail));
  EXPECT_TRUE(ReadFileToString(At("tail")) == tail);
}

// The tree every walker test starts from:
//   a.dmp  a.dmp.bak  b.txt
//   one/c.dmp
//   two/d.dmp  two/deep/e.dmp  two/deep/f.txt
//   three/
class DirectoryWalkerTest : public FileUtilTest {
 protected:
  void SetUp() override {
    FileUtilTest::SetUp();
    for (const char* dir : {"one", "two", "two/deep", "three"}) {
      MakeDir(At(dir));
    }
    for (const char* file : {"a.dmp", "a.dmp.bak", "b.txt", "one/c.dmp",
                             "two/d.dmp", "two/deep/e.dmp", "two/deep/f.txt"}) {
      WriteFile(At(file), "x");
    }
  }

  static std::vector<Path> Walk(DirectoryWalker& walker) {
    std::vector<Path> paths;
    while (std::optional<Path> path = walker.Next()) {
      paths.push_back(*path);
    }
    return paths;
  }

  // The walk order stated recursively: a directory's matches in listing
  // order, then the walks of its subdirectories, the last-listed first.
  static void ExpectedWalk(const Path& dir,
                           uint32_t include,
                           const std::wregex& pattern,
                           std::vector<Path>& out) {
    std::vector<DirectoryEntry> entries;
    ASSERT_TRUE(ListDirectory(dir, entries));
    std::vector<Path> subdirectories;
    for (const DirectoryEntry& entry : entries) {
      const bool is_directory = entry.info->IsDirectory();
      if (is_directory) {
        subdirectories.push_back(entry.path);
      }
      const uint32_t kind = is_directory ? DirectoryWalker::kDirectories
                                         : DirectoryWalker::kFiles;
      if ((include & kind) &&
          std::regex_search(entry.path.FileName(), pattern)) {
        out.push_back(entry.path);
      }
    }
    for (auto it = subdirectories.rbegin(); it != subdirectories.rend(); ++it) {
      ExpectedWalk(*it, include, pattern, out);
    }
  }
};

TEST_F(DirectoryWalkerTest, RecursiveOrder) {
  struct Case {
    uint32_t include;
    const wchar_t* pattern;
    size_t count;
  };
  const std::vector<Case> cases = {
      {DirectoryWalker::kFiles, L"\\.dmp$", 4},
      {DirectoryWalker::kFiles, L"", 7},
      {DirectoryWalker::kDirectories, L"e", 3},
      {DirectoryWalker::kFiles | DirectoryWalker::kDirectories, L"", 11},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.pattern)));
    SCOPED_TRACE(c.include);
    std::vector<Path> expected;
    ExpectedWalk(root_, c.include, std::wregex(c.pattern), expected);
    DirectoryWalker walker(root_, true, c.include, c.pattern);
    EXPECT_EQ(Walk(walker), expected);
    EXPECT_EQ(expected.size(), c.count);
  }
}

TEST_F(DirectoryWalkerTest, SearchesTheFileNameOnly) {
  struct Case {
    const wchar_t* pattern;
    std::vector<std::wstring> names;
  };
  const std::vector<Case> cases = {
      {L"\\.dmp$", {L"a.dmp"}},
      {L"dmp", {L"a.dmp", L"a.dmp.bak"}},
      {L"^a", {L"a.dmp", L"a.dmp.bak"}},
      {L"DMP", {}},
      // The directory part of the path is not searched.
      {L"base_utils", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.pattern)));
    DirectoryWalker walker(root_, false, DirectoryWalker::kFiles, c.pattern);
    std::vector<std::wstring> names;
    for (const Path& path : Walk(walker)) {
      EXPECT_EQ(path.Parent(), root_);
      names.push_back(path.FileName());
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, c.names);
  }
}

TEST_F(DirectoryWalkerTest, EmptyWalks) {
  DirectoryWalker no_match(root_, true, DirectoryWalker::kFiles, L"\\.zip$");
  EXPECT_FALSE(no_match.Next());
  EXPECT_FALSE(no_match.Next());

  DirectoryWalker missing_root(At("missing"), true, DirectoryWalker::kFiles,
                               L"");
  EXPECT_FALSE(missing_root.Next());

  DirectoryWalker nothing_included(root_, true, 0, L"");
  EXPECT_FALSE(nothing_included.Next());
}

TEST_F(DirectoryWalkerTest, InvalidPatternMakesAnEmptyWalk) {
  DirectoryWalker walker(root_, true, DirectoryWalker::kFiles, L"(dmp");
  EXPECT_FALSE(walker.pattern_error().empty());
  EXPECT_FALSE(walker.Next());

  DirectoryWalker valid(root_, true, DirectoryWalker::kFiles, L"dmp");
  EXPECT_TRUE(valid.pattern_error().empty());
}

TEST_F(DirectoryWalkerTest, LinkedDirectoriesAreNotEntered) {
  // A cycle back to the root, and a linked file that is still reported.
  if (!MakeSymbolicLink(root_, At("two/deep/loop")) ||
      !MakeSymbolicLink(At("one/c.dmp"), At("linked.dmp"))) {
    GTEST_SKIP() << kNoLinks;
  }

  DirectoryWalker files(root_, true, DirectoryWalker::kFiles, L"\\.dmp$");
  std::vector<std::wstring> names;
  for (const Path& path : Walk(files)) {
    names.push_back(path.FileName());
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::wstring>{L"a.dmp", L"c.dmp", L"d.dmp",
                                              L"e.dmp", L"linked.dmp"}));

  DirectoryWalker directories(root_, true, DirectoryWalker::kDirectories,
                              L"loop");
  EXPECT_EQ(Walk(directories), std::vector<Path>{At("two/deep/loop")});
}

#if !defined(_WIN32)
// A FIFO is not a file: opening it would wait for a writer. Names that are
// not UTF-8 keep their bytes, so what is found can be opened.
TEST_F(DirectoryWalkerTest, TakesNoFifoAndKeepsNamesThatAreNotUtf8) {
  ASSERT_EQ(mkfifo(At("pipe.dmp").ToUtf8().c_str(), 0644), 0);
  const std::string odd_dir = dir_.path() + "/dir\xFF";
  ASSERT_EQ(mkdir(odd_dir.c_str(), 0755), 0);
  std::ofstream(odd_dir + "/caf\xE9.dmp") << "odd";

  DirectoryWalker walker(root_, true, DirectoryWalker::kFiles, L"\\.dmp$");
  std::vector<std::string> names;
  for (const Path& path : Walk(walker)) {
    names.push_back(path.FileNameUtf8());
    EXPECT_TRUE(GetFileInfo(path)->IsFile()) << path.ToUtf8();
    if (path.FileNameUtf8().starts_with("caf")) {
      EXPECT_EQ(ReadFileToString(path), "odd");
    }
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names,
            (std::vector<std::string>{"a.dmp", "c.dmp", "caf\xEF\xBF\xBD.dmp",
                                      "d.dmp", "e.dmp"}));
  EXPECT_TRUE(GetFileInfo(At("pipe.dmp"))->IsDevice());
}
#endif

#if defined(_WIN32)
// A junction is Windows' other link to a directory, made without privileges.
TEST_F(DirectoryWalkerTest, JunctionsAreNotEntered) {
  const Path junction = At("two/deep/junction");
  if (!MakeJunction(root_, junction)) {
    GTEST_SKIP() << "this file system makes no junctions";
  }
  const std::optional<FileInfo> info = GetFileInfo(junction);
  ASSERT_TRUE(info);
  EXPECT_EQ(info->attributes & kKindBits,
            kAttributeDirectory | kAttributeReparsePoint);
  EXPECT_TRUE(IsSameFile(junction, root_));

  DirectoryWalker files(root_, true, DirectoryWalker::kFiles, L"\\.dmp$");
  std::vector<std::wstring> names;
  for (const Path& path : Walk(files)) {
    names.push_back(path.FileName());
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::wstring>{L"a.dmp", L"c.dmp", L"d.dmp",
                                              L"e.dmp"}));

  DirectoryWalker directories(root_, true, DirectoryWalker::kDirectories,
                              L"junction");
  EXPECT_EQ(Walk(directories), std::vector<Path>{junction});
}
#endif

}  // namespace
}  // namespace base::utils
