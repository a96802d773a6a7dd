#include "base/utils/string_util.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "base/utils/rand_util.h"
#include "gtest/gtest.h"

namespace base::utils {
namespace {

using namespace std::string_literals;

TEST(StringUtilTest, ValidTextRoundTrips) {
  struct Case {
    std::string utf8;
    std::wstring wide;
  };
  const std::vector<Case> cases = {
      {"", L""},
      {"crash.dmp", L"crash.dmp"},
      {"\xC3\xA9t\xC3\xA9", L"\u00E9t\u00E9"},
      {"\xE2\x82\xAC", L"\u20AC"},
      {"\xEF\xBF\xBF", L"\uFFFF"},
      {"\xF0\x9F\x98\x80", L"\U0001F600"},
      {"\xF4\x8F\xBF\xBF", L"\U0010FFFF"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.utf8);
    EXPECT_EQ(Utf8ToWide(c.utf8), c.wide);
    EXPECT_EQ(WideToUtf8(c.wide), c.utf8);
  }
}

// Each maximal ill-formed subpart becomes one U+FFFD and the byte that broke
// a sequence is read again as the start of the next. Windows converts with
// the system, which replaces every ill-formed sequence but leaves the number
// of U+FFFD for some of them undocumented (and Wine merges subparts that
// the Unicode standard keeps apart); for those it is only held to
// replacement characters alone.
TEST(StringUtilTest, InvalidUtf8BecomesReplacementCharacters) {
  struct Case {
    const char* name;
    std::string utf8;
    std::wstring wide;
    bool count_is_the_platforms;
  };
  const std::vector<Case> cases = {
      {"lone continuation", "a\x80z", L"a\uFFFDz", false},
      {"invalid lead", "\xFF", L"\uFFFD", false},
      {"overlong two bytes", "\xC0\xAF", L"\uFFFD\uFFFD", false},
      {"overlong three bytes", "\xE0\x80\xAF", L"\uFFFD\uFFFD\uFFFD", true},
      {"surrogate", "\xED\xA0\x80", L"\uFFFD\uFFFD\uFFFD", true},
      {"above U+10FFFF", "\xF4\x90\x80\x80", L"\uFFFD\uFFFD\uFFFD\uFFFD", true},
      {"truncated at the end", "a\xE2\x82", L"a\uFFFD", false},
      {"truncated before ASCII", "\xF0\x9F\x98z", L"\uFFFDz", false},
      {"truncated before a lead", "\xE2\xC3\xA9", L"\uFFFD\u00E9", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::wstring wide = Utf8ToWide(c.utf8);
#if defined(_WIN32)
    if (c.count_is_the_platforms) {
      EXPECT_FALSE(wide.empty());
      EXPECT_EQ(wide.find_first_not_of(L'\uFFFD'), std::wstring::npos);
      continue;
    }
#endif
    EXPECT_EQ(wide, c.wide);
  }
}

TEST(StringUtilTest, InvalidWideBecomesReplacementCharacters) {
  const std::wstring lone_surrogate = {L'a', static_cast<wchar_t>(0xD800)};
  EXPECT_EQ(WideToUtf8(lone_surrogate), "a\xEF\xBF\xBD");
  // Only a 32-bit wchar_t holds a value above U+10FFFF.
  if constexpr (sizeof(wchar_t) == 4) {
    const std::wstring out_of_range = {static_cast<wchar_t>(0x110000)};
    EXPECT_EQ(WideToUtf8(out_of_range), "\xEF\xBF\xBD");
  }
}

#if !defined(_WIN32)
// File names that are not UTF-8 survive the way into a Path and back, byte
// for byte, and show as U+FFFD.
TEST(StringUtilTest, NativeNamesKeepTheirBytes) {
  struct Case {
    const char* name;
    std::string bytes;
    std::wstring wide;
  };
  const std::vector<Case> cases = {
      {"UTF-8", "caf\xC3\xA9.log", L"caf\u00E9.log"},
      {"Latin-1", "caf\xE9.log",
       std::wstring(L"caf") + wchar_t{0xDCE9} + L".log"},
      {"truncated sequence", "\xE2\x82", {wchar_t{0xDCE2}, wchar_t{0xDC82}}},
      {"encoded surrogate",
       "\xED\xA0\x80",
       {wchar_t{0xDCED}, wchar_t{0xDCA0}, wchar_t{0xDC80}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(NativeToWide(c.bytes), c.wide);
    EXPECT_EQ(WideToNative(c.wide), c.bytes);
  }
  EXPECT_EQ(WideToUtf8(NativeToWide("caf\xE9.log")), "caf\xEF\xBF\xBD.log");
  // Other lone surrogates have no byte to stand for.
  EXPECT_EQ(WideToNative(std::wstring{wchar_t{0xD800}, wchar_t{0xDC7F}}),
            "\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(NativeToWide("ab\0\xFF"s), L"ab");
  EXPECT_EQ(WideToNative(L"ab\0cd"s), "ab");
}
#endif

TEST(StringUtilTest, ConversionsStopAtTheFirstZero) {
  EXPECT_EQ(Utf8ToWide("ab\0cd"s), L"ab");
  EXPECT_EQ(WideToUtf8(L"ab\0cd"s), "ab");
  EXPECT_EQ(Utf8ToWide("\0ab"s), L"");
}

// Ids name reports that a service files by id: they must not repeat, and
// every character must carry its share of randomness, whatever the clock.
TEST(StringUtilTest, RandomStringsAreUniformAndDoNotRepeat) {
  constexpr std::string_view kAlphabet = "0123456789abcdefghijklmnopqrstuvwxyz";
  constexpr int kIds = 4000;
  std::set<std::string> ids;
  std::map<char, int> counts;
  int repeats = 0;  // a character equal to the one before it
  for (int i = 0; i < kIds; ++i) {
    const std::string id = RandomString();
    ASSERT_EQ(id.size(), 32u);
    ASSERT_EQ(id.find_first_not_of(kAlphabet), std::string::npos) << id;
    ids.insert(id);
    for (size_t at = 0; at < id.size(); ++at) {
      ++counts[id[at]];
      repeats += at > 0 && id[at] == id[at - 1];
    }
  }
  EXPECT_EQ(ids.size(), static_cast<size_t>(kIds));
  // 128,000 characters: 3,556 of each expected, and 3,444 repeats. The
  // bounds lie more than six standard deviations away.
  ASSERT_EQ(counts.size(), kAlphabet.size());
  for (const auto& [character, count] : counts) {
    EXPECT_GT(count, 3200) << character;
    EXPECT_LT(count, 3920) << character;
  }
  EXPECT_GT(repeats, 3100);
  EXPECT_LT(repeats, 3800);
}

TEST(StringUtilTest, RandBytesFillsTheWholeBuffer) {
  // Large enough that a short read of the system's source would show as a
  // tail of zeros.
  std::vector<uint8_t> bytes(1 << 20, 0);
  ASSERT_TRUE(RandBytes(bytes.data(), bytes.size()));
  const size_t zeros = static_cast<size_t>(
      std::count(bytes.end() - 4096, bytes.end(), uint8_t{0}));
  EXPECT_LT(zeros, 64u);
}

TEST(StringUtilTest, StringPrintf) {
  EXPECT_EQ(StringPrintf("%d-%s", 7, "x"), "7-x");
  const std::string long_text(300, 'a');
  EXPECT_EQ(StringPrintf("<%s>", long_text.c_str()), "<" + long_text + ">");
  // A zero character ends the text.
  EXPECT_EQ(StringPrintf("ab%ccd", 0), "ab");
}

TEST(StringUtilTest, StringPrintfRejectedFormatIsEmpty) {
#if defined(_WIN32)
  GTEST_SKIP() << "MinGW's C library drops what %ls cannot convert and "
                  "reports no error";
#endif
  // The test runs in the "C" locale, where a non-ASCII wide character cannot
  // be converted, so the C library reports a formatting error.
  EXPECT_EQ(StringPrintf("x%lsx", L"\u00E9"), "");
}

}  // namespace
}  // namespace base::utils
