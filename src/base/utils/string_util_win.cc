#include "base/utils/string_util.h"

#include <windows.h>

#include <climits>
#include <string>
#include <string_view>

namespace base::utils {

namespace {

// Converts in, up to its first zero character, with convert(input, input
// length, output, output capacity), which measures when output is null and
// returns the length written. The length is passed rather than -1 because a
// view need not end in a zero. Windows replaces every invalid sequence with
// U+FFFD (flags 0, CP_UTF8), so only an empty input or a text too long for
// the platform's int lengths yields nothing.
template <typename Output, typename Input, typename Convert>
Output ConvertUpToZero(std::basic_string_view<Input> in, Convert convert) {
  in = in.substr(0, in.find(Input()));
  if (in.empty() || in.size() > INT_MAX) {
    return Output();
  }
  const int in_length = static_cast<int>(in.size());
  const int length = convert(in.data(), in_length, nullptr, 0);
  if (length <= 0) {
    return Output();
  }
  Output out(static_cast<size_t>(length), typename Output::value_type());
  if (convert(in.data(), in_length, out.data(), length) != length) {
    return Output();
  }
  return out;
}

}  // namespace

std::string WideToUtf8(std::wstring_view wide) {
  return ConvertUpToZero<std::string>(
      wide, [](const wchar_t* in, int in_length, char* out, int out_length) {
        return WideCharToMultiByte(CP_UTF8, 0, in, in_length, out, out_length,
                                   nullptr, nullptr);
      });
}

std::wstring Utf8ToWide(std::string_view utf8) {
  return ConvertUpToZero<std::wstring>(
      utf8, [](const char* in, int in_length, wchar_t* out, int out_length) {
        return MultiByteToWideChar(CP_UTF8, 0, in, in_length, out, out_length);
      });
}

}  // namespace base::utils
