#ifndef BASE_NET_HTTP_PROXY_WIN_H_
#define BASE_NET_HTTP_PROXY_WIN_H_

#include <windows.h>
#include <winhttp.h>

#include <functional>
#include <optional>
#include <string>

#include "base/net/winhttp_util_win.h"

namespace base::net {

// How the WinHTTP transport finds the player's proxy. WinHTTP's default
// proxy is only the machine's WinHTTP setting (netsh), which hardly anyone
// sets: the proxy that players set in Windows' Settings or Internet Options,
// a proxy script (PAC) or automatic detection (WPAD) lives in the current
// user's Internet Options, which WinHTTP reads only when asked.

// What the current user's Internet Options say.
struct UserProxySettings {
  bool auto_detect = false;
  std::wstring auto_config_url;  // the proxy script's URL
  std::wstring proxy;            // "host:port" or "http=host:port;https=..."
  std::wstring bypass;           // "<local>;*.example.com"
};

// WinHttpGetProxyForUrl's answer for one URL.
struct ProxyLookup {
  DWORD error = ERROR_SUCCESS;  // the lookup failed unless ERROR_SUCCESS
  bool direct = false;          // the script or detection says DIRECT
  std::wstring proxy;
  std::wstring bypass;
};

// Which way the sessions for one URL go: an access type of WinHttpOpen with
// its proxy and bypass list.
struct ProxyRoute {
  DWORD access_type = WINHTTP_ACCESS_TYPE_DEFAULT_PROXY;
  std::wstring proxy;
  std::wstring bypass;
  // Where the route comes from, for the log.
  std::string source;
};

// The lookup of the URL by the Internet Options' automatic configuration,
// with automatic logon to the script's server or without.
using ProxyLookupFunction = std::function<ProxyLookup(bool auto_logon)>;

// The decision, from the Internet Options (none when they cannot be read)
// and the lookup:
//   - with automatic detection or a proxy script, what the lookup finds,
//     asked first without automatic logon and again with it when the
//     script's server wants a login;
//   - otherwise, or when the lookup finds nothing, the named proxy with its
//     bypass list, if one is set;
//   - with nothing set, the system's automatic proxy (which WinHttpOpen
//     accepts from Windows 8.1 on; OpenProxySession falls back to the
//     default proxy before that);
//   - when the automatic configuration failed and no proxy is named, the
//     default proxy, so as not to search again for what was just not found.
// The route's source tells why the automatic configuration was left.
ProxyRoute ChooseProxyRoute(const std::optional<UserProxySettings>& user,
                            const ProxyLookupFunction& lookup);

// The route for the requests to origin ("https://host:port"), decided at
// the first of them, to url, and kept for the process: the Internet Options
// are read (WinHttpGetIEProxyConfigForCurrentUser) and a proxy script or
// detection is asked (WinHttpGetProxyForUrl) once per origin, since
// detection can take seconds and every attempt opens a new session. Logs the
// route at level DEBUG when it is decided.
ProxyRoute ProxyRouteFor(const std::wstring& origin, const std::wstring& url);

// WinHttpOpen as the transport calls it, with the user agent filled in.
using SessionOpener = std::function<
    HINTERNET(DWORD access_type, const wchar_t* proxy, const wchar_t* bypass)>;

// Opens a session along route with open. A system that refuses the
// automatic proxy (before Windows 8.1) gets the default proxy instead, and
// the log says so. Null, with the last error of the failed call, when no
// session opens.
ScopedHInternet OpenProxySession(const ProxyRoute& route,
                                 const SessionOpener& open);

}  // namespace base::net

#endif  // BASE_NET_HTTP_PROXY_WIN_H_
