#include "base/logging/sinks.h"

#include <memory>
#include <string>
#include <string_view>

#include "base/utils/file.h"
#include "base/utils/file_util.h"
#include "gtest/gtest.h"
#include "test/scoped_temp_dir.h"

namespace base::sinks {
namespace {

// The file sink writes in text mode ("w", "a"), where Windows' C library
// ends each line with CRLF.
#if defined(_WIN32)
constexpr char kFileLineEnd[] = "\r\n";
#else
constexpr char kFileLineEnd[] = "\n";
#endif

std::shared_ptr<const logging::LogBuffer> MakeLine(std::string_view text) {
  auto line = std::make_shared<logging::LogBuffer>();
  line->append(text);
  return line;
}

class FileSinkTest : public testing::Test {
 protected:
  test::ScopedTempDir dir_;
  const utils::Path log_path_ = utils::Path(dir_.path()).Join("telvane.log");
};

TEST_F(FileSinkTest, EmptiesTheFileThenAppendsEachLine) {
  {
    utils::File earlier_run(log_path_, utils::kWrite);
    ASSERT_TRUE(earlier_run.Write("old line\n", 9));
  }

  FileSink sink(log_path_);
  EXPECT_EQ(utils::ReadFileToString(log_path_), "");

  sink.Log(MakeLine("one\n"));
  // In the file as soon as Log returns, without a flush.
  const std::string one = std::string("one") + kFileLineEnd;
  EXPECT_EQ(utils::ReadFileToString(log_path_), one);
  sink.Log(MakeLine("two\n"));
  EXPECT_EQ(utils::ReadFileToString(log_path_), one + "two" + kFileLineEnd);
}

TEST_F(FileSinkTest, DropsLinesUntilTheFileCanBeOpened) {
  const utils::Path subdir = utils::Path(dir_.path()).Join("later");
  const utils::Path path = subdir.Join("telvane.log");
  FileSink sink(path);
  sink.Log(MakeLine("lost\n"));
  EXPECT_FALSE(utils::PathExists(path));

  ASSERT_TRUE(utils::CreateDir(subdir, /*recursive=*/false));
  sink.Log(MakeLine("kept\n"));
  EXPECT_EQ(utils::ReadFileToString(path), std::string("kept") + kFileLineEnd);
}

TEST(ConsoleSinkTest, WritesLinesToStandardOutput) {
  ConsoleSink sink;
  testing::internal::CaptureStdout();
  sink.Log(MakeLine("one\n"));
  sink.Log(MakeLine(std::string(1000, 'x') + "\n"));
  sink.Flush();
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "one\n" + std::string(1000, 'x') + "\n");
}

}  // namespace
}  // namespace base::sinks
