#include "base/utils/string_util.h"

#include <cstdint>

// wchar_t holds UTF-32 here. The converters are written out rather than taken
// from iconv or the C library's multibyte functions, whose results depend on
// the process locale.

namespace base::utils {

namespace {

constexpr char32_t kReplacementCharacter = 0xFFFD;
// NativeToWide's escape of byte b is kFirstEscape + b, for b from 0x80 on:
// lone low surrogates, which no valid UTF-8 decodes to.
constexpr char32_t kFirstEscape = 0xDC00;

bool IsContinuationIn(unsigned char byte,
                      unsigned char low,
                      unsigned char high) {
  return byte >= low && byte <= high;
}

struct Sequence {
  bool valid = false;
  char32_t character = 0;  // when valid
  // The bytes of the sequence, or of its maximal ill-formed subpart.
  size_t length = 1;
};

// The UTF-8 sequence that starts at utf8[i], which is not zero.
Sequence DecodeSequence(std::string_view utf8, size_t i) {
  const unsigned char lead = static_cast<unsigned char>(utf8[i]);
  if (lead < 0x80) {
    return {true, lead, 1};
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
    return {};
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
  return {end - i == length, c, end - i};
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
  for (size_t i = 0; i < utf8.size() && utf8[i] != 0;) {
    const Sequence sequence = DecodeSequence(utf8, i);
    wide.push_back(static_cast<wchar_t>(
        sequence.valid ? sequence.character : kReplacementCharacter));
    i += sequence.length;
  }
  return wide;
}

std::wstring NativeToWide(std::string_view bytes) {
  std::wstring wide;
  for (size_t i = 0; i < bytes.size() && bytes[i] != 0;) {
    const Sequence sequence = DecodeSequence(bytes, i);
    if (sequence.valid) {
      wide.push_back(static_cast<wchar_t>(sequence.character));
      i += sequence.length;
    } else {
      wide.push_back(static_cast<wchar_t>(
          kFirstEscape + static_cast<unsigned char>(bytes[i])));
      ++i;
    }
  }
  return wide;
}

std::string WideToNative(std::wstring_view wide) {
  std::string bytes;
  for (const wchar_t& character : wide) {
    if (character == 0) {
      break;
    }
    const char32_t c = static_cast<char32_t>(character);
    if (c >= kFirstEscape + 0x80 && c <= kFirstEscape + 0xFF) {
      bytes.push_back(static_cast<char>(c - kFirstEscape));
    } else {
      bytes += WideToUtf8(std::wstring_view(&character, 1));
    }
  }
  return bytes;
}

}  // namespace base::utils
