#include "base/net/http_tls_win.h"

#include <string>

#include "base/logging/logging.h"
#include "base/net/winhttp_util_win.h"

namespace base::net {

namespace {

constexpr DWORD kTls12 = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;
constexpr DWORD kTls12And13 = kTls12 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3;

// Each problem as the status callback flags it, as the error code of an
// implementation that names it there, and in words.
struct CertificateProblem {
  DWORD flag;
  DWORD error;
  const char* text;
};
constexpr CertificateProblem kCertificateProblems[] = {
    {WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CA, ERROR_WINHTTP_SECURE_INVALID_CA,
     "the server's certificate is issued by an untrusted root"},
    {WINHTTP_CALLBACK_STATUS_FLAG_CERT_CN_INVALID,
     ERROR_WINHTTP_SECURE_CERT_CN_INVALID,
     "the server's certificate is issued for another host name"},
    {WINHTTP_CALLBACK_STATUS_FLAG_CERT_DATE_INVALID,
     ERROR_WINHTTP_SECURE_CERT_DATE_INVALID,
     "the server's certificate has expired or is not valid yet"},
    {WINHTTP_CALLBACK_STATUS_FLAG_CERT_REVOKED,
     ERROR_WINHTTP_SECURE_CERT_REVOKED, "the server's certificate is revoked"},
    {WINHTTP_CALLBACK_STATUS_FLAG_CERT_REV_FAILED,
     ERROR_WINHTTP_SECURE_CERT_REV_FAILED,
     "the revocation of the server's certificate could not be checked"},
    {WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CERT,
     ERROR_WINHTTP_SECURE_INVALID_CERT, "the server's certificate is invalid"},
    {WINHTTP_CALLBACK_STATUS_FLAG_CERT_WRONG_USAGE,
     ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE,
     "the server's certificate is not one for a server"},
    {WINHTTP_CALLBACK_STATUS_FLAG_SECURITY_CHANNEL_ERROR,
     ERROR_WINHTTP_SECURE_CHANNEL_ERROR, "the secure channel failed"},
};

}  // namespace

DWORD ChooseSecureProtocols(const SecureProtocolsSetter& set) {
  // At DEBUG, like the proxy's route: a detail for whoever looks into a
  // player's failed uploads, which the levels that games set leave out.
  if (set(kTls12And13)) {
    TLV_LOG(logging::kDebug, "HTTPTransport TLS 1.2 and 1.3");
    return kTls12And13;
  }
  const std::string refusal = LastErrorText("WinHttpSetOption");
  if (set(kTls12)) {
    TLV_LOG(logging::kDebug, "HTTPTransport TLS 1.2 (TLS 1.3 refused: {})",
            refusal);
    return kTls12;
  }
  TLV_LOG(logging::kWarn,
          "HTTPTransport TLS 1.2 refused ({}); the system's own protocols "
          "stay",
          LastErrorText("WinHttpSetOption"));
  return 0;
}

void SetSecureProtocols(HINTERNET session) {
  const auto set = [session](DWORD protocols) {
    return WinHttpSetOption(session, WINHTTP_OPTION_SECURE_PROTOCOLS,
                            &protocols, sizeof(protocols)) != FALSE;
  };
  // The first session of the process chooses, once, while a session that
  // comes at the same time waits for the choice; every later one sets it.
  bool chosen_here = false;
  static const DWORD chosen = [&set, &chosen_here] {
    chosen_here = true;
    return ChooseSecureProtocols(set);
  }();
  if (!chosen_here && chosen != 0 && !set(chosen)) {
    TLV_LOG(logging::kWarn, "{}", LastErrorText("WinHttpSetOption"));
  }
}

bool SecureFailureWatch::Watch(HINTERNET request) {
  return WinHttpSetStatusCallback(request, &SecureFailureWatch::OnStatus,
                                  WINHTTP_CALLBACK_FLAG_SECURE_FAILURE,
                                  0) != WINHTTP_INVALID_STATUS_CALLBACK;
}

// static
void CALLBACK SecureFailureWatch::OnStatus(HINTERNET,
                                           DWORD_PTR context,
                                           DWORD status,
                                           void* information,
                                           DWORD length) {
  if (status == WINHTTP_CALLBACK_STATUS_SECURE_FAILURE && context &&
      information && length >= sizeof(DWORD)) {
    reinterpret_cast<SecureFailureWatch*>(context)->flags_ |=
        *static_cast<const DWORD*>(information);
  }
}

std::string CertificateProblemText(DWORD error, DWORD secure_failure_flags) {
  std::string text;
  for (const CertificateProblem& problem : kCertificateProblems) {
    if ((secure_failure_flags & problem.flag) || error == problem.error) {
      text.append("; ").append(problem.text);
    }
  }
  return text;
}

}  // namespace base::net
