#ifndef BASE_NET_WINHTTP_UTIL_WIN_H_
#define BASE_NET_WINHTTP_UTIL_WIN_H_

#include <windows.h>
#include <winhttp.h>

#include <memory>
#include <string>

namespace base::net {

// Owns a WinHTTP handle (session, connection or request) and closes it,
// logging a failed close.
struct HInternetCloser {
  void operator()(HINTERNET handle) const;
};
using ScopedHInternet = std::unique_ptr<void, HInternetCloser>;

// Owns a text that WinHTTP allocated for the caller with GlobalAlloc (the
// proxy settings and lookups) and frees it with GlobalFree.
struct GlobalTextFreer {
  void operator()(wchar_t* text) const { GlobalFree(text); }
};
using ScopedGlobalText = std::unique_ptr<wchar_t, GlobalTextFreer>;

// "<step>: <message> (0x<code>)".
std::string ErrorText(const char* step, const char* message, DWORD code);

// The error text of the call step that failed with code: the system's
// message for it in the user's language, as UTF-8, from winhttp.dll's
// message table for WinHTTP's own codes or the system's for the others.
// When no message can be had, "<step>: error 0x<lookup's code> while
// retrieving error 0x<code>".
std::string SystemErrorText(const char* step, DWORD code);

// SystemErrorText for the thread's last error, read first thing.
std::string LastErrorText(const char* step);

}  // namespace base::net

#endif  // BASE_NET_WINHTTP_UTIL_WIN_H_
