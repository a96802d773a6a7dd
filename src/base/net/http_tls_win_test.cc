#include "base/net/http_tls_win.h"

#include <windows.h>

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "test/process_log.h"

namespace base::net {
namespace {

constexpr DWORD kTls12 = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;
constexpr DWORD kTls12And13 = kTls12 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3;

// Older systems refuse the TLS 1.3 flag, and Windows 7 without its update
// TLS 1.2 too; Wine takes both, so the answers are handed in.
TEST(ChooseSecureProtocolsTest, FallsBackToTls12WhereTls13IsRefused) {
  struct Case {
    const char* name;
    std::vector<DWORD> refused;
    std::vector<DWORD> asked;
    DWORD chosen;
    const char* logged;
  };
  const std::vector<Case> cases = {
      {"both taken",
       {},
       {kTls12And13},
       kTls12And13,
       "1 base::net::ChooseSecureProtocols: HTTPTransport TLS 1.2 and 1.3"},
      {"TLS 1.3 refused",
       {kTls12And13},
       {kTls12And13, kTls12},
       kTls12,
       "1 base::net::ChooseSecureProtocols: HTTPTransport TLS 1.2 (TLS 1.3 "
       "refused: WinHttpSetOption: "},
      {"both refused",
       {kTls12And13, kTls12},
       {kTls12And13, kTls12},
       0,
       "3 base::net::ChooseSecureProtocols: HTTPTransport TLS 1.2 refused "
       "(WinHttpSetOption: "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::ProcessLog log;
    std::vector<DWORD> asked;
    const DWORD chosen = ChooseSecureProtocols([&c, &asked](DWORD protocols) {
      asked.push_back(protocols);
      for (DWORD refused : c.refused) {
        if (protocols == refused) {
          SetLastError(ERROR_INVALID_PARAMETER);
          return false;
        }
      }
      return true;
    });
    EXPECT_EQ(chosen, c.chosen);
    EXPECT_EQ(asked, c.asked);
    const std::string logged = log.Take();
    EXPECT_NE(logged.find(c.logged), std::string::npos) << logged;
  }
}

// Windows reports the problem in the status callback's flags and fails the
// call with ERROR_WINHTTP_SECURE_FAILURE; Wine names it in the code.
TEST(CertificateProblemTextTest, NamesWhatTheFlagsOrTheCodeSay) {
  struct Case {
    const char* name;
    DWORD error;
    DWORD flags;
    std::string text;
  };
  const std::vector<Case> cases = {
      {"flags", ERROR_WINHTTP_SECURE_FAILURE,
       WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CA |
           WINHTTP_CALLBACK_STATUS_FLAG_CERT_DATE_INVALID,
       "; the server's certificate is issued by an untrusted root; the "
       "server's certificate has expired or is not valid yet"},
      {"code", ERROR_WINHTTP_SECURE_CERT_CN_INVALID, 0,
       "; the server's certificate is issued for another host name"},
      {"no certificate problem", ERROR_WINHTTP_TIMEOUT, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(CertificateProblemText(c.error, c.flags), c.text);
  }
}

}  // namespace
}  // namespace base::net
