#include "base/net/http_body.h"

#include <fstream>
#include <string>
#include <vector>

#include "base/utils/string_util.h"
#include "gtest/gtest.h"
#include "test/scoped_temp_dir.h"

namespace base::net {
namespace {

// What one Read returned, as text; -1 reads as "<-1>".
std::string ReadText(HTTPBodyStream& body, int64_t capacity) {
  std::string buffer(static_cast<size_t>(capacity), '\0');
  const int64_t count = body.Read(buffer.data(), capacity);
  if (count < 0) {
    return "<" + std::to_string(count) + ">";
  }
  buffer.resize(static_cast<size_t>(count));
  return buffer;
}

TEST(StringHTTPBodyStreamTest, ReadsInPiecesAndRewinds) {
  StringHTTPBodyStream body(std::string("abc\0ef", 6));
  EXPECT_EQ(body.Size(), 6);
  EXPECT_EQ(ReadText(body, 4), std::string("abc\0", 4));
  EXPECT_EQ(ReadText(body, 4), "ef");
  EXPECT_EQ(ReadText(body, 4), "");
  body.Reset();
  EXPECT_EQ(ReadText(body, 0), "");
  EXPECT_EQ(ReadText(body, 8), std::string("abc\0ef", 6));
}

TEST(FileReaderHTTPBodyStreamTest, ReopensFromStartAfterReset) {
  test::ScopedTempDir dir;
  const std::string path = dir.path() + "/body.bin";
  std::ofstream(path, std::ios::binary) << "0123456789";
  FileReaderHTTPBodyStream body(utils::Utf8ToWide(path));

  EXPECT_EQ(body.Size(), 10);
  EXPECT_EQ(ReadText(body, 4), "0123");
  body.Reset();
  EXPECT_EQ(ReadText(body, 16), "0123456789");
  EXPECT_EQ(ReadText(body, 16), "");
}

TEST(FileReaderHTTPBodyStreamTest, MissingFileHasNoSizeAndFailsToRead) {
  test::ScopedTempDir dir;
  FileReaderHTTPBodyStream body(utils::Utf8ToWide(dir.path() + "/missing"));
  EXPECT_EQ(body.Size(), 0);
  EXPECT_EQ(ReadText(body, 16), "<-1>");
  EXPECT_EQ(ReadText(body, 16), "<-1>");
}

TEST(HTTPBodyStreamTest, ProgressIsReportedBeforeEachRead) {
  struct Case {
    size_t size;
    int64_t capacity;
    std::vector<int32_t> expected;
  };
  const std::vector<Case> cases = {
      {10, 3, {0, 30, 60, 90, 100}},
      // Nothing is left to send, so an empty body is complete from the start.
      {0, 8, {100}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    StringHTTPBodyStream body(std::string(c.size, 'x'));
    std::vector<int32_t> percents;
    body.set_progress_callback(
        [&percents](int32_t percent) { percents.push_back(percent); });
    std::string buffer(static_cast<size_t>(c.capacity), '\0');
    while (body.ReadWithProgress(buffer.data(), c.capacity) > 0) {
    }
    EXPECT_EQ(percents, c.expected);
  }
}

}  // namespace
}  // namespace base::net
