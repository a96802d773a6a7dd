#include "base/utils/file_path.h"

#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace base::utils {
namespace {

TEST(PathTest, Normalisation) {
  struct Case {
    const wchar_t* input;
    const wchar_t* normalised;
  };
  const std::vector<Case> cases = {
      {L"", L""},
      {L"C:\\dir\\sub\\", L"C:/dir/sub"},
      // Slashes go before spaces, so the '/' in front of the space stays.
      {L"a\\b/ ", L"a/b/"},
      {L"a/b //", L"a/b"},
      {L"/", L""},
      {L"\\\\server\\share", L"//server/share"},
      {L"/tmp/x", L"/tmp/x"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.input)));
    EXPECT_EQ(Path(c.input).value(), c.normalised);
  }
}

TEST(PathTest, ParentAndFileName) {
  struct Case {
    const wchar_t* path;
    const wchar_t* parent;
    const wchar_t* file_name;
  };
  const std::vector<Case> cases = {
      {L"C:/a/b.log", L"C:/a", L"b.log"},
      {L"b.log", L"", L"b.log"},
      {L"/b.log", L"", L"b.log"},
      {L"C:\\a\\b.log", L"C:/a", L"b.log"},
      // The parent is normalised again; the file name is not.
      {L"a// /b", L"a//", L"b"},
      {L"", L"", L""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.path)));
    const Path path(c.path);
    EXPECT_EQ(path.Parent().value(), c.parent);
    EXPECT_EQ(path.FileName(), c.file_name);
  }
}

TEST(PathTest, JoinAndAppendNormalise) {
  const Path dir(L"C:\\logs");
  EXPECT_EQ(dir.Join(std::wstring_view(L"sub\\")).value(), L"C:/logs/sub");
  EXPECT_EQ(dir.Join(std::string_view("\xC3\xA9.log")).value(),
            L"C:/logs/\u00E9.log");
  EXPECT_EQ(dir.Append(L"/*").value(), L"C:/logs/*");
  EXPECT_EQ(dir.Append(L".old/").value(), L"C:/logs.old");
}

TEST(PathTest, Utf8Boundary) {
  const Path path("C:\\d\xC3\xA9p\xC3\xB4t\\caf\xC3\xA9.dmp");
  EXPECT_EQ(path.value(), L"C:/d\u00E9p\u00F4t/caf\u00E9.dmp");
  EXPECT_EQ(path.ToUtf8(), "C:/d\xC3\xA9p\xC3\xB4t/caf\xC3\xA9.dmp");
  EXPECT_EQ(path.FileNameUtf8(), "caf\xC3\xA9.dmp");
  EXPECT_EQ(Path("bad\xFF").value(), L"bad\uFFFD");
  EXPECT_EQ(Path("a/b"), Path(L"a\\b\\"));
}

}  // namespace
}  // namespace base::utils
