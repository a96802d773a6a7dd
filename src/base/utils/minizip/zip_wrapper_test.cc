#include "base/utils/minizip/zip_wrapper.h"

#include <xxhash.h>
#include <zlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "base/utils/file_util.h"
#include "gtest/gtest.h"
#include "test/file_setup.h"
#include "test/process_log.h"
#include "test/scoped_temp_dir.h"
#include "test/scoped_time_zone.h"
#include "test/unzip.h"

namespace base::utils {
namespace {

constexpr std::string_view kFinishInfo = "2 base::utils::ZipWrapper::Finish: ";
constexpr std::string_view kFinishError = "4 base::utils::ZipWrapper::Finish: ";
constexpr std::string_view kSizeInfo =
    "2 base::utils::ZipWrapper::IsLargeFile: ";

std::string Line(std::string_view prefix, const std::string& message) {
  return std::string(prefix) + message + "\n";
}

// The lines Finish logs for a file it can query: its name, then its size.
std::string OpeningLines(const Path& path, size_t size) {
  return Line(kFinishInfo, "Package opening " + path.ToUtf8()) +
         Line(kSizeInfo, "File : " + path.ToUtf8() + " is " +
                             std::to_string(size) + " bytes");
}

// Each test works in a fresh temporary directory and reads what was logged
// since it began.
class ZipWrapperTest : public ::testing::Test {
 protected:
  Path At(std::string_view relative) const { return root_.Join(relative); }

  static void MakeDir(const Path& path) {
    ASSERT_TRUE(std::filesystem::create_directory(path.value()))
        << path.ToUtf8();
  }

  static void WriteFile(const Path& path, const std::string& content) {
    std::ofstream stream(path.ToUtf8(), std::ios::binary | std::ios::trunc);
    stream << content;
    ASSERT_TRUE(stream.good()) << path.ToUtf8();
  }

  // Pseudo-random bytes, zeros included: Deflate barely shrinks them, so
  // the entry spans many of minizip's output buffers.
  static std::string Pattern(size_t size) {
    std::string bytes(size, '\0');
    uint32_t state = 12345;
    for (size_t i = 0; i < size; ++i) {
      state = state * 1103515245 + 12345;
      bytes[i] = static_cast<char>((state >> 16) & 0xFF);
    }
    return bytes;
  }

  // Which files went in whole.
  static std::vector<bool> Whole(const ZipWrapper& zip) {
    std::vector<bool> whole;
    for (const ZipWrapper::Packed& packed : zip.packed())
      whole.push_back(packed.whole);
    return whole;
  }

  static void ExpectIntact(const Path& archive) {
    EXPECT_TRUE(test::ZipIsIntact(archive.ToUtf8()));
  }

  test::ScopedTempDir dir_;
  const Path root_{dir_.path()};
  test::ProcessLog log_;
};

TEST_F(ZipWrapperTest, PacksEachFileAtTheRootByNameInOrder) {
  for (const char* dir : {"dumps", "logs", "empty"}) {
    MakeDir(At(dir));
  }
  // Larger than the copy buffer and not a multiple of it.
  const std::string dump = Pattern(100'003);
  const Path files[] = {At("dumps/crash.dmp"), At("logs/first.txt"),
                        At("empty/empty.log")};
  const std::string contents[] = {dump, "first line\n", ""};
  for (size_t i = 0; i < std::size(files); ++i) {
    WriteFile(files[i], contents[i]);
  }
  const Path archive = At("report.zip");
  ZipWrapper zip(archive);
  for (const Path& file : files) {
    zip.AddFile(file);
  }

  ASSERT_TRUE(zip.Finish());
  EXPECT_EQ(log_.Take(), OpeningLines(files[0], dump.size()) +
                             OpeningLines(files[1], contents[1].size()) +
                             OpeningLines(files[2], 0));
  const std::vector<std::string> names = {"crash.dmp", "first.txt",
                                          "empty.log"};
  EXPECT_EQ(test::ZipEntryNames(archive.ToUtf8()), names);
  for (size_t i = 0; i < names.size(); ++i) {
    SCOPED_TRACE(names[i]);
    // EXPECT_TRUE: a failing comparison of 100 KB would print both.
    EXPECT_TRUE(test::ZipEntryContent(archive.ToUtf8(), names[i]) ==
                contents[i]);
    // The identity of what went in, which the caller keeps.
    EXPECT_EQ(zip.packed()[i].crc32,
              crc32_z(0, reinterpret_cast<const Bytef*>(contents[i].data()),
                      contents[i].size()));
    EXPECT_EQ(zip.packed()[i].xxh3,
              XXH3_64bits(contents[i].data(), contents[i].size()));
  }
  ExpectIntact(archive);
  EXPECT_EQ(Whole(zip), std::vector<bool>({true, true, true}));

  // A second Finish writes the archive anew from the same list.
  WriteFile(files[1], "changed\n");
  ASSERT_TRUE(zip.Finish());
  EXPECT_EQ(test::ZipEntryNames(archive.ToUtf8()), names);
  EXPECT_EQ(test::ZipEntryContent(archive.ToUtf8(), "first.txt"), "changed\n");
  ExpectIntact(archive);
  EXPECT_EQ(Whole(zip), std::vector<bool>({true, true, true}));
}

// Neither a path added twice nor two files of one name are merged: each
// addition is an entry of its own, named by the file or as it was added.
TEST_F(ZipWrapperTest, EveryAdditionIsAnEntryEvenWithTheSameName) {
  MakeDir(At("a"));
  MakeDir(At("b"));
  WriteFile(At("a/log.txt"), "from a\n");
  WriteFile(At("b/log.txt"), "from b\n");
  const Path archive = At("report.zip");
  ZipWrapper zip(archive);
  zip.AddFile(At("a/log.txt"));
  zip.AddFile(At("b/log.txt"));
  zip.AddFile(At("a/log.txt"));
  zip.AddFile(At("b/log.txt"), "b.log");

  ASSERT_TRUE(zip.Finish());
  EXPECT_EQ(
      test::ZipEntryNames(archive.ToUtf8()),
      (std::vector<std::string>{"log.txt", "log.txt", "log.txt", "b.log"}));
  EXPECT_EQ(test::ZipEntryContent(archive.ToUtf8(), "log.txt"),
            "from a\nfrom b\nfrom a\n");
  EXPECT_EQ(test::ZipEntryContent(archive.ToUtf8(), "b.log"), "from b\n");
  ExpectIntact(archive);
  EXPECT_EQ(Whole(zip), std::vector<bool>({true, true, true, true}));
}

// A file that cannot be read leaves an empty entry of its name between
// complete ones; the archive stays valid and Finish succeeds.
TEST_F(ZipWrapperTest, UnreadableFileLeavesAnEmptyEntry) {
  struct Case {
    const char* name;
    bool make_directory;
    const char* error;  // "{}" stands for the path
  };
  const Case cases[] = {
    {"missing.log", false, "error in opening {} for reading"},
#if defined(_WIN32)
    // Windows opens no directory as a stream.
    {"directory.log", true, "error in opening {} for reading"},
#else
    // Opens on POSIX, but reading it fails.
    {"directory.log", true, "error in reading {}"},
#endif
  };
  WriteFile(At("before.txt"), "before\n");
  WriteFile(At("after.txt"), "after\n");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Path unreadable = At(c.name);
    if (c.make_directory) {
      MakeDir(unreadable);
    }
    const Path archive = At(std::string(c.name) + ".zip");
    ZipWrapper zip(archive);
    zip.AddFile(At("before.txt"));
    zip.AddFile(unreadable);
    zip.AddFile(At("after.txt"));

    log_.Take();
    EXPECT_TRUE(zip.Finish());
    std::string error = c.error;
    error.replace(error.find("{}"), 2, unreadable.ToUtf8());
    EXPECT_NE(log_.Take().find(Line(kFinishError, error)), std::string::npos)
        << error;
    EXPECT_EQ(test::ZipEntryNames(archive.ToUtf8()),
              std::vector<std::string>({"before.txt", c.name, "after.txt"}));
    EXPECT_EQ(test::ZipEntryContent(archive.ToUtf8(), c.name), "");
    EXPECT_EQ(test::ZipEntryContent(archive.ToUtf8(), "after.txt"), "after\n");
    ExpectIntact(archive);
    EXPECT_EQ(Whole(zip), std::vector<bool>({true, false, true}));
  }
}

TEST_F(ZipWrapperTest, EmptyListCreatesNoArchive) {
  const Path archive = At("report.zip");
  ZipWrapper zip(archive);
  EXPECT_FALSE(zip.Finish());
  EXPECT_EQ(log_.Take(), Line(kFinishError, "please add files"));
  EXPECT_FALSE(PathExists(archive));
  EXPECT_TRUE(zip.packed().empty());
}

TEST_F(ZipWrapperTest, ArchiveThatCannotBeCreatedFails) {
  WriteFile(At("a.txt"), "a");
  const Path archive = At("no/such/dir/report.zip");
  ZipWrapper zip(archive);
  zip.AddFile(At("a.txt"));
  EXPECT_FALSE(zip.Finish());
  EXPECT_EQ(log_.Take(),
            Line(kFinishError, "error opening " + archive.ToUtf8()));
  EXPECT_EQ(Whole(zip), std::vector<bool>({false}));
}

// Whatever was at the archive's path, larger than the new archive, is
// gone: a reader that looks for the end of the archive from the end of the
// file would otherwise find the old one's.
TEST_F(ZipWrapperTest, ReplacesAnExistingFile) {
  WriteFile(At("old.bin"), Pattern(200'000));
  WriteFile(At("new.txt"), "new\n");
  struct Case {
    const char* name;
    bool older_archive;
  };
  for (const Case& c : {Case{"older archive", true}, Case{"junk", false}}) {
    SCOPED_TRACE(c.name);
    const Path archive = At(std::string(c.name) + ".zip");
    if (c.older_archive) {
      ZipWrapper older(archive);
      older.AddFile(At("old.bin"));
      ASSERT_TRUE(older.Finish());
    } else {
      WriteFile(archive, std::string(200'000, 'J'));
    }

    ZipWrapper zip(archive);
    zip.AddFile(At("new.txt"));
    ASSERT_TRUE(zip.Finish());
    EXPECT_EQ(test::ZipEntryNames(archive.ToUtf8()),
              std::vector<std::string>({"new.txt"}));
    ExpectIntact(archive);
  }
}

// Zip entry times are local times without a zone. Under a zone nine hours
// east of UTC the file's UTC time falls on the previous day.
TEST_F(ZipWrapperTest, EntryTimeIsTheLocalLastWriteTime) {
  test::ScopedTimeZone zone("JST-9");
  const Path file = At("stamped.log");
  WriteFile(file, "x");
  // 2024-03-01 08:15:30 in that zone, 2024-02-29 23:15:30 UTC.
  test::SetFileTimes(file, 1'709'248'530, 0, 1'709'248'530, 0);
  const Path archive = At("report.zip");
  ZipWrapper zip(archive);
  zip.AddFile(file);
  ASSERT_TRUE(zip.Finish());

  // Zip times have a resolution of two seconds.
  EXPECT_EQ(test::ZipEntryTime(archive.ToUtf8(), "stamped.log"),
            "20240301.081530");
}

// An archive that could not be written must not pass for complete. On a
// full device every write lands in the stream's buffer and fails only when
// the buffer is flushed: first by the seek back to the entry's header when
// the entry is closed, then, for the end of the archive, by the final close
// alone.
TEST_F(ZipWrapperTest, ArchiveThatCannotBeCompletedFails) {
  const Path full("/dev/full");
  if (!PathExists(full)) {
    GTEST_SKIP() << "no /dev/full";
  }
  const Path file = At("a.txt");
  WriteFile(file, "a");
  ZipWrapper zip(full);
  zip.AddFile(file);
  EXPECT_FALSE(zip.Finish());
  EXPECT_EQ(log_.Take(),
            OpeningLines(file, 1) +
                Line(kFinishError,
                     "error in closing " + file.ToUtf8() + " in the zipfile") +
                Line(kFinishError, "error in closing /dev/full"));
  EXPECT_EQ(Whole(zip), std::vector<bool>({false}));
}

TEST_F(ZipWrapperTest, IsLargeFileFromTheZip64Size) {
  struct Case {
    const char* name;
    int64_t size;  // -1: the file does not exist
    bool large;
  };
  const Case cases[] = {
      {"below", 4'294'967'294, false},
      {"at", 4'294'967'295, true},
      {"missing", -1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Path path = At(c.name);
    if (c.size >= 0 && !test::MakeSparseFile(path, c.size, "")) {
      GTEST_SKIP() << "the file system refuses a 4 GiB sparse file";
    }
    log_.Take();
    EXPECT_EQ(ZipWrapper::IsLargeFile(path), c.large);
    EXPECT_EQ(log_.Take(),
              c.size < 0
                  ? ""
                  : Line(kSizeInfo, "File : " + path.ToUtf8() + " is " +
                                        std::to_string(c.size) + " bytes"));
  }
}

}  // namespace
}  // namespace base::utils
