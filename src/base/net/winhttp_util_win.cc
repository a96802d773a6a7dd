#include "base/net/winhttp_util_win.h"

#include <iterator>
#include <string_view>

#include "base/logging/logging.h"
#include "base/utils/string_util.h"

namespace base::net {

void HInternetCloser::operator()(HINTERNET handle) const {
  if (!WinHttpCloseHandle(handle)) {
    TLV_LOG(logging::kError, "{}", LastErrorText("WinHttpCloseHandle"));
  }
}

std::string ErrorText(const char* step, const char* message, DWORD code) {
  return utils::StringPrintf("%s: %s (0x%lx)", step, message,
                             static_cast<unsigned long>(code));
}

// The wide call: the narrow one would give the message in the system's ANSI
// code page, which is not UTF-8 on Chinese, Japanese or Russian Windows and
// would reach the log and the telemetry as U+FFFD. WinHTTP's own codes have
// their messages in winhttp.dll, not in the system's table, so the lookup
// searches both; language 0 takes the user's language first.
std::string SystemErrorText(const char* step, DWORD code) {
  wchar_t message[512];
  DWORD length = FormatMessageW(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_FROM_HMODULE |
          FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK,
      GetModuleHandleW(L"winhttp.dll"), code, 0, message, std::size(message),
      nullptr);
  if (length == 0) {
    return utils::StringPrintf("%s: error 0x%lx while retrieving error 0x%lx",
                               step, static_cast<unsigned long>(GetLastError()),
                               static_cast<unsigned long>(code));
  }
  // FORMAT_MESSAGE_MAX_WIDTH_MASK turns the message's closing line break into
  // a space.
  if (message[length - 1] == L' ') {
    --length;
  }
  return ErrorText(
      step, utils::WideToUtf8(std::wstring_view(message, length)).c_str(),
      code);
}

std::string LastErrorText(const char* step) {
  return SystemErrorText(step, GetLastError());
}

}  // namespace base::net
