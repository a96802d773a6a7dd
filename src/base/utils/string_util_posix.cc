#include "base/utils/string_util.h"

#include <cstdint>

// wchar_t holds UTF-32 here. The converters are written out rather than taken
// from iconv or the C library's multibyte functions, whose results depend on
// the process locale.

namespace base::utils {

namespace {

constexpr char32_t kReplacementCharacter = 0xFFFD;

bool IsContinuationIn(unsigned char byte,
                      unsigned char low,
                      unsigned char high) {
  return byte >= low && byte <= high;
}

}  // namespace

std::string WideToUtf8(std::wstring_view wide) {
  std::string utf8;
  for (const wchar_t character : wide) {
    if (character == 0) {
      break;
    }
    char32_t c = static_cast<char32_t>(character);
    if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) {
      c = kReplacementCharacter;
    }
    if (c < 0x80) {
      utf8.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      utf8.push_back(static_cast<char>(0xC0 | (c >> 6)));
      utf8.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      utf8.push_back(static_cast<char>(0xE0 | (c >> 12)));
      utf8.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      utf8.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      utf8.push_back(static_cast<char>(0xF0 | (c >> 18)));
      utf8.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      utf8.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      utf8.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return utf8;
}

// Each maximal subpart of an ill-formed sequence becomes one U+FFFD, as the
// Unicode standard recommends: a lead byte followed by fewer continuation
// bytes than it announces is one replacement, and the byte that broke the
// sequence starts the next one.
std::wstring Utf8ToWide(std::string_view utf8) {
  std::wstring wide;
  size_t i = 0;
  while (i < utf8.size()) {
    const unsigned char lead = static_cast<unsigned char>(utf8[i]);
    if (lead == 0) {
      break;
    }
    if (lead < 0x80) {
      wide.push_back(static_cast<wchar_t>(lead));
      ++i;
      continue;
    }
    // The length a lead byte announces, and the range of the byte after it,
    // which excludes overlong forms, surrogates and values above U+10FFFF.
    size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      low = lead == 0xE0 ? 0xA0 : 0x80;
      high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      low = lead == 0xF0 ? 0x90 : 0x80;
      high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
      wide.push_back(kReplacementCharacter);
      ++i;
      continue;
    }
    char32_t c = lead & (0x7F >> length);
    size_t end = i + 1;
    while (end < i + length && end < utf8.size()) {
      const unsigned char next = static_cast<unsigned char>(utf8[end]);
      if (!IsContinuationIn(next, low, high)) {
        break;
      }
      c = (c << 6) | (next & 0x3F);
      low = 0x80;
      high = 0xBF;
      ++end;
    }
    wide.push_back(end - i == length
                       ? static_cast<wchar_t>(c)
                       : static_cast<wchar_t>(kReplacementCharacter));
    i = end;
  }
  return wide;
}

}  // namespace base::utils
