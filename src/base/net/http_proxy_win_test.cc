#include "base/net/http_proxy_win.h"

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/net/http_transport.h"
#include "base/utils/string_util.h"
#include "gtest/gtest.h"
#include "test/forward_proxy.h"
#include "test/loopback_server.h"
#include "test/process_log.h"

namespace base::net {
namespace {

// The lookups ChooseProxyRoute asked for, by their automatic logon, each
// answered with the next of answers.
class ScriptedLookup final {
 public:
  explicit ScriptedLookup(std::vector<ProxyLookup> answers)
      : answers_(std::move(answers)) {}

  ProxyLookupFunction function() {
    return [this](bool auto_logon) {
      logons.push_back(auto_logon);
      return logons.size() <= answers_.size()
                 ? answers_[logons.size() - 1]
                 : ProxyLookup{ERROR_GEN_FAILURE, false, L"", L""};
    };
  }

  std::vector<bool> logons;

 private:
  const std::vector<ProxyLookup> answers_;
};

TEST(ChooseProxyRouteTest, FollowsTheInternetOptions) {
  const ProxyLookup kFound = {ERROR_SUCCESS, false, L"pac-proxy:3128",
                              L"*.lan"};
  const ProxyLookup kDirect = {ERROR_SUCCESS, true, L"", L""};
  const ProxyLookup kNotDetected = {ERROR_WINHTTP_AUTODETECTION_FAILED, false,
                                    L"", L""};
  const ProxyLookup kLogin = {ERROR_WINHTTP_LOGIN_FAILURE, false, L"", L""};
  const UserProxySettings kNamed = {false, L"", L"office:8080", L"<local>"};
  const UserProxySettings kDetect = {true, L"", L"", L""};
  const UserProxySettings kScript = {false, L"http://wpad/proxy.pac", L"", L""};
  const UserProxySettings kDetectOrNamed = {true, L"", L"office:8080",
                                            L"<local>"};
  struct Case {
    const char* name;
    std::optional<UserProxySettings> user;
    std::vector<ProxyLookup> answers;
    std::vector<bool> logons;  // the lookups expected, by automatic logon
    DWORD access_type;
    std::wstring proxy;
    std::wstring bypass;
  };
  const std::vector<Case> cases = {
      {"unreadable options",
       std::nullopt,
       {},
       {},
       WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY,
       L"",
       L""},
      {"nothing set",
       UserProxySettings{},
       {},
       {},
       WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY,
       L"",
       L""},
      {"named proxy",
       kNamed,
       {},
       {},
       WINHTTP_ACCESS_TYPE_NAMED_PROXY,
       L"office:8080",
       L"<local>"},
      {"detection finds a proxy",
       kDetect,
       {kFound},
       {false},
       WINHTTP_ACCESS_TYPE_NAMED_PROXY,
       L"pac-proxy:3128",
       L"*.lan"},
      {"script says direct",
       kScript,
       {kDirect},
       {false},
       WINHTTP_ACCESS_TYPE_NO_PROXY,
       L"",
       L""},
      {"script's server wants a login",
       kScript,
       {kLogin, kFound},
       {false, true},
       WINHTTP_ACCESS_TYPE_NAMED_PROXY,
       L"pac-proxy:3128",
       L"*.lan"},
      {"nothing detected, named proxy",
       kDetectOrNamed,
       {kNotDetected},
       {false},
       WINHTTP_ACCESS_TYPE_NAMED_PROXY,
       L"office:8080",
       L"<local>"},
      {"nothing detected",
       kDetect,
       {kNotDetected},
       {false},
       WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
       L"",
       L""},
      {"login refused",
       kScript,
       {kLogin, kLogin},
       {false, true},
       WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
       L"",
       L""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedLookup lookup(c.answers);
    const ProxyRoute route = ChooseProxyRoute(c.user, lookup.function());
    EXPECT_EQ(lookup.logons, c.logons);
    EXPECT_EQ(route.access_type, c.access_type);
    EXPECT_EQ(route.proxy, c.proxy);
    EXPECT_EQ(route.bypass, c.bypass);
    EXPECT_FALSE(route.source.empty());
  }
}

// Windows before 8.1 refuses the automatic proxy with
// ERROR_INVALID_PARAMETER; Wine accepts it, so the answers are handed in.
TEST(OpenProxySessionTest, DefaultProxyWhereAutomaticIsRefused) {
  struct Call {
    DWORD access_type;
    std::wstring proxy;
    std::wstring bypass;
    bool operator==(const Call&) const = default;
  };
  struct Case {
    const char* name;
    ProxyRoute route;
    DWORD refused_type;  // the access type the system refuses
    DWORD refusal;       // with this error
    std::vector<Call> calls;
    bool opened;
  };
  const DWORD kAutomatic = WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY;
  const DWORD kDefault = WINHTTP_ACCESS_TYPE_DEFAULT_PROXY;
  const DWORD kNamed = WINHTTP_ACCESS_TYPE_NAMED_PROXY;
  const std::vector<Case> cases = {
      {"automatic accepted",
       {kAutomatic, L"", L"", ""},
       kNamed,
       ERROR_INVALID_PARAMETER,
       {{kAutomatic, L"", L""}},
       true},
      {"automatic refused",
       {kAutomatic, L"", L"", ""},
       kAutomatic,
       ERROR_INVALID_PARAMETER,
       {{kAutomatic, L"", L""}, {kDefault, L"", L""}},
       true},
      {"automatic fails otherwise",
       {kAutomatic, L"", L"", ""},
       kAutomatic,
       ERROR_NOT_ENOUGH_MEMORY,
       {{kAutomatic, L"", L""}},
       false},
      {"named proxy",
       {kNamed, L"office:8080", L"<local>", ""},
       kAutomatic,
       ERROR_INVALID_PARAMETER,
       {{kNamed, L"office:8080", L"<local>"}},
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::ProcessLog log;
    std::vector<Call> calls;
    const ScopedHInternet session = OpenProxySession(
        c.route,
        [&c, &calls](DWORD access_type, const wchar_t* proxy,
                     const wchar_t* bypass) -> HINTERNET {
          calls.push_back(
              {access_type, proxy ? proxy : L"", bypass ? bypass : L""});
          if (access_type == c.refused_type) {
            SetLastError(c.refusal);
            return nullptr;
          }
          return WinHttpOpen(L"test", WINHTTP_ACCESS_TYPE_NO_PROXY,
                             WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
        });
    EXPECT_EQ(session != nullptr, c.opened);
    EXPECT_EQ(calls, c.calls);
    EXPECT_EQ(log.Take().find("the system has no automatic proxy") !=
                  std::string::npos,
              c.calls.size() == 2);
  }
}

// For this process only, the current user's Internet Options name a proxy:
// HKEY_CURRENT_USER is mapped to a key of the test's own that holds the
// settings where Windows keeps them, so other processes of the machine (or
// of the Wine prefix) see nothing of it.
class ScopedInternetOptions final {
 public:
  ScopedInternetOptions(const std::string& proxy, const std::string& bypass) {
    EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, key_name_.c_str(), 0, nullptr,
                              0, KEY_ALL_ACCESS, nullptr, &user_, nullptr),
              ERROR_SUCCESS);
    HKEY connections;
    EXPECT_EQ(RegCreateKeyExW(user_,
                              L"Software\\Microsoft\\Windows\\CurrentVersion\\"
                              L"Internet Settings\\Connections",
                              0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &connections, nullptr),
              ERROR_SUCCESS);
    const std::string settings = ConnectionSettings(proxy, bypass);
    EXPECT_EQ(
        RegSetValueExW(connections, L"DefaultConnectionSettings", 0, REG_BINARY,
                       reinterpret_cast<const BYTE*>(settings.data()),
                       static_cast<DWORD>(settings.size())),
        ERROR_SUCCESS);
    RegCloseKey(connections);
    EXPECT_EQ(RegOverridePredefKey(HKEY_CURRENT_USER, user_), ERROR_SUCCESS);
  }
  ScopedInternetOptions(const ScopedInternetOptions&) = delete;
  ScopedInternetOptions& operator=(const ScopedInternetOptions&) = delete;
  ~ScopedInternetOptions() {
    RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
    RegDeleteTreeW(user_, nullptr);
    RegCloseKey(user_);
    RegDeleteKeyW(HKEY_CURRENT_USER, key_name_.c_str());
  }

 private:
  // The layout Internet Options write: a version, a change counter, the
  // flags (1 direct, 2 named proxy), then the proxy, the bypass list and
  // the script's URL, each as a 32-bit length and its ANSI text, and further
  // fields this test leaves zero.
  static std::string ConnectionSettings(const std::string& proxy,
                                        const std::string& bypass) {
    std::string settings;
    const auto add_number = [&settings](uint32_t number) {
      settings.append(reinterpret_cast<const char*>(&number), sizeof(number));
    };
    const auto add_text = [&settings, &add_number](const std::string& text) {
      add_number(static_cast<uint32_t>(text.size()));
      settings.append(text);
    };
    add_number(0x46);
    add_number(1);
    add_number(0x1 | 0x2);
    add_text(proxy);
    add_text(bypass);
    add_text("");
    settings.append(32, '\0');
    return settings;
  }

  const std::wstring key_name_ =
      L"Software\\crashreport-test-" + std::to_wstring(GetCurrentProcessId());
  HKEY user_ = nullptr;
};

// A proxy set in the Internet Options carries the requests, unless its
// bypass list names the host. The route is decided at the first request to
// a server and kept for the process, so each case has a server name of its
// own, and a second request to the server goes the same way undecided. The
// loopback server plays the service.
TEST(HTTPProxyTest, InternetOptionsProxyCarriesTheRequests) {
  struct Case {
    const char* name;
    std::string host;
    std::string bypass;
    bool through_proxy;
  };
  const std::vector<Case> cases = {
      {"through the proxy", "localhost", "", true},
      {"host on the bypass list", "127.0.0.1", "127.0.0.1", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::ProcessLog log;
    const test::LoopbackServer server;
    test::ForwardProxy proxy;
    const ScopedInternetOptions options(proxy.address(), c.bypass);

    // The loopback server's URLs under the case's name for it.
    const auto url = [&server, &c](const std::string& path) {
      std::string url = server.Url(path);
      return url.replace(url.find("127.0.0.1"), 9, c.host);
    };
    const std::vector<std::string> urls = {url("/upload"), url("/again")};
    for (const std::string& url : urls) {
      std::unique_ptr<HTTPTransport> transport = HTTPTransport::Create();
      transport->SetUrl(url);
      transport->SetBody(std::make_unique<StringHTTPBodyStream>("report"));
      std::string response;
      EXPECT_TRUE(transport->ExecuteSynchronously(response, 0)) << response;
      EXPECT_EQ(response, "ok");
    }

    const std::vector<test::LoopbackServer::Request> requests =
        server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].body, "report");
    EXPECT_EQ(proxy.forwarded(),
              c.through_proxy ? urls : std::vector<std::string>{});
    std::string route = "proxy " + proxy.address();
    if (!c.bypass.empty())
      route += ", bypass " + c.bypass;
    const std::string origin = urls[0].substr(0, urls[0].find('/', 7));
    const std::string logged = log.Take();
    const std::string decided = "HTTPTransport proxy for " + origin + ": " +
                                route + " (Internet Options)";
    EXPECT_NE(logged.find(decided), std::string::npos) << logged;
    EXPECT_EQ(logged.find("HTTPTransport proxy for"),
              logged.rfind("HTTPTransport proxy for"))
        << logged;
  }
}

}  // namespace
}  // namespace base::net
