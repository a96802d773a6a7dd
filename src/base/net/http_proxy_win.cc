#include "base/net/http_proxy_win.h"

#include <map>
#include <mutex>
#include <utility>

#include "base/logging/logging.h"
#include "base/net/http_transport.h"
#include "base/utils/string_util.h"

namespace base::net {

namespace {

// Takes a text that WinHTTP allocated, freeing it; empty for none.
std::wstring TakeGlobalText(wchar_t* text) {
  const ScopedGlobalText owned(text);
  return owned ? std::wstring(owned.get()) : std::wstring();
}

// The Internet Options of the current user; none when they cannot be read.
// A user who never opened them has none on Windows (ERROR_FILE_NOT_FOUND),
// which counts as nothing set.
std::optional<UserProxySettings> ReadUserProxySettings() {
  WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config = {};
  if (!WinHttpGetIEProxyConfigForCurrentUser(&config)) {
    const DWORD code = GetLastError();
    if (code != ERROR_FILE_NOT_FOUND) {
      TLV_LOG(logging::kWarn, "{}",
              SystemErrorText("WinHttpGetIEProxyConfigForCurrentUser", code));
    }
    return std::nullopt;
  }
  UserProxySettings settings;
  settings.auto_detect = config.fAutoDetect;
  settings.auto_config_url = TakeGlobalText(config.lpszAutoConfigUrl);
  settings.proxy = TakeGlobalText(config.lpszProxy);
  settings.bypass = TakeGlobalText(config.lpszProxyBypass);
  return settings;
}

// Asks the automatic configuration of settings which proxy serves url. The
// lookup's own session goes direct: the script or the detection is what
// tells where the proxy is.
ProxyLookup LookUpProxy(const std::wstring& url,
                        const UserProxySettings& settings,
                        bool auto_logon) {
  ProxyLookup result;
  const ScopedHInternet session(
      WinHttpOpen(L"WinHTTP", WINHTTP_ACCESS_TYPE_NO_PROXY,
                  WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
  // Fetching the script is bounded like a request of the transport.
  constexpr int kTimeout = HTTPTransport::kDefaultTimeoutSeconds * 1000;
  if (!session || !WinHttpSetTimeouts(session.get(), kTimeout, kTimeout,
                                      kTimeout, kTimeout)) {
    result.error = GetLastError();
    return result;
  }
  WINHTTP_AUTOPROXY_OPTIONS options = {};
  if (settings.auto_detect) {
    options.dwFlags |= WINHTTP_AUTOPROXY_AUTO_DETECT;
    options.dwAutoDetectFlags =
        WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
  }
  if (!settings.auto_config_url.empty()) {
    options.dwFlags |= WINHTTP_AUTOPROXY_CONFIG_URL;
    options.lpszAutoConfigUrl = settings.auto_config_url.c_str();
  }
  options.fAutoLogonIfChallenged = auto_logon;
  WINHTTP_PROXY_INFO info = {};
  if (!WinHttpGetProxyForUrl(session.get(), url.c_str(), &options, &info)) {
    result.error = GetLastError();
    return result;
  }
  result.proxy = TakeGlobalText(info.lpszProxy);
  result.bypass = TakeGlobalText(info.lpszProxyBypass);
  result.direct =
      info.dwAccessType == WINHTTP_ACCESS_TYPE_NO_PROXY || result.proxy.empty();
  return result;
}

std::string DescribeRoute(const ProxyRoute& route) {
  switch (route.access_type) {
    case WINHTTP_ACCESS_TYPE_NO_PROXY:
      return "direct";
    case WINHTTP_ACCESS_TYPE_NAMED_PROXY:
      return "proxy " + utils::WideToUtf8(route.proxy) +
             (route.bypass.empty()
                  ? std::string()
                  : ", bypass " + utils::WideToUtf8(route.bypass));
    case WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY:
      return "the system's automatic proxy";
    default:
      return "WinHTTP's default proxy";
  }
}

}  // namespace

ProxyRoute ChooseProxyRoute(const std::optional<UserProxySettings>& user,
                            const ProxyLookupFunction& lookup) {
  if (!user) {
    return {WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, L"", L"",
            "no Internet Options"};
  }
  const bool automatic = user->auto_detect || !user->auto_config_url.empty();
  std::string failure;
  if (automatic) {
    ProxyLookup found = lookup(false);
    if (found.error == ERROR_WINHTTP_LOGIN_FAILURE) {
      found = lookup(true);
    }
    if (found.error == ERROR_SUCCESS) {
      const std::string source = "Internet Options' automatic configuration";
      if (found.direct) {
        return {WINHTTP_ACCESS_TYPE_NO_PROXY, L"", L"", source};
      }
      return {WINHTTP_ACCESS_TYPE_NAMED_PROXY, std::move(found.proxy),
              std::move(found.bypass), source};
    }
    // Most players have detection on and nothing to detect: this is the
    // common way, not an oddity, and the route's log line tells it.
    failure = SystemErrorText("WinHttpGetProxyForUrl", found.error);
  }
  if (!user->proxy.empty()) {
    return {WINHTTP_ACCESS_TYPE_NAMED_PROXY, user->proxy, user->bypass,
            failure.empty() ? "Internet Options"
                            : "Internet Options, after " + failure};
  }
  if (automatic) {
    return {WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, L"", L"",
            "Internet Options' automatic configuration found none: " + failure};
  }
  return {WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, L"", L"",
          "no proxy in the Internet Options"};
}

ProxyRoute ProxyRouteFor(const std::wstring& origin, const std::wstring& url) {
  static std::mutex mutex;
  static std::map<std::wstring, ProxyRoute> routes;
  // Held while the route is decided: two threads asking for one origin would
  // otherwise both wait for the detection.
  const std::lock_guard lock(mutex);
  const auto known = routes.find(origin);
  if (known != routes.end()) {
    return known->second;
  }
  const std::optional<UserProxySettings> user = ReadUserProxySettings();
  ProxyRoute route = ChooseProxyRoute(user, [&url, &user](bool auto_logon) {
    return LookUpProxy(url, *user, auto_logon);
  });
  // A detail for whoever looks into a player's failed uploads: at the
  // levels a game sets, the log keeps its lines.
  TLV_LOG(logging::kDebug, "HTTPTransport proxy for {}: {} ({})",
          utils::WideToUtf8(origin), DescribeRoute(route), route.source);
  return routes.emplace(origin, std::move(route)).first->second;
}

ScopedHInternet OpenProxySession(const ProxyRoute& route,
                                 const SessionOpener& open) {
  const wchar_t* const proxy =
      route.proxy.empty() ? WINHTTP_NO_PROXY_NAME : route.proxy.c_str();
  const wchar_t* const bypass =
      route.bypass.empty() ? WINHTTP_NO_PROXY_BYPASS : route.bypass.c_str();
  ScopedHInternet session(open(route.access_type, proxy, bypass));
  if (!session && route.access_type == WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY &&
      GetLastError() == ERROR_INVALID_PARAMETER) {
    TLV_LOG(logging::kWarn,
            "HTTPTransport the system has no automatic proxy, WinHTTP's "
            "default proxy instead");
    session.reset(open(WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                       WINHTTP_NO_PROXY_BYPASS));
  }
  return session;
}

}  // namespace base::net
