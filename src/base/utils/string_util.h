#ifndef BASE_UTILS_STRING_UTIL_H_
#define BASE_UTILS_STRING_UTIL_H_

#include <string>
#include <string_view>

namespace base::utils {

// Conversions between UTF-8 and the platform's wide text (UTF-16 on Windows,
// UTF-32 on Linux). Each converts the text up to its first zero character.
// Invalid input sequences are not rejected: each becomes U+FFFD. An empty
// input, or one that converts to nothing, yields an empty result.
std::string WideToUtf8(std::wstring_view wide);
std::wstring Utf8ToWide(std::string_view utf8);

#if !defined(_WIN32)
// A POSIX file name is bytes, and not always UTF-8. These two convert such a
// name to the wide text of a Path and back without loss, up to the first
// zero byte or character: each byte that is not part of a valid UTF-8
// sequence becomes the lone surrogate U+DC00 + byte (U+DC80..U+DCFF, which
// no valid UTF-8 decodes to) and turns back into that byte. WideToUtf8 shows
// such a character as U+FFFD.
std::wstring NativeToWide(std::string_view bytes);
std::string WideToNative(std::wstring_view wide);
#endif

// 32 characters drawn uniformly from "0123456789abcdefghijklmnopqrstuvwxyz"
// with the operating system's random source (RandBytes): about 165 random
// bits, so ids made on different machines at the same moment do not
// collide. It names reports, events and runs, which a service files by
// that name.
std::string RandomString();

// printf-style formatting with the C library's rules. Yields an empty text
// when the format is rejected.
std::string StringPrintf(const char* format, ...)
    __attribute__((format(printf, 1, 2)));

}  // namespace base::utils

#endif  // BASE_UTILS_STRING_UTIL_H_
