#ifndef BASE_NET_HTTP_TLS_WIN_H_
#define BASE_NET_HTTP_TLS_WIN_H_

#include <windows.h>
#include <winhttp.h>

#include <functional>
#include <string>

namespace base::net {

// How the WinHTTP transport speaks TLS. Certificates are checked by WinHTTP
// as the system does, and nothing here relaxes that; this only chooses the
// protocol versions and names what is wrong when a check fails.

// Sets WINHTTP_OPTION_SECURE_PROTOCOLS to the flags given; false, with the
// thread's last error, when the system refuses them.
using SecureProtocolsSetter = std::function<bool(DWORD protocols)>;

// The protocols a session is to offer, asked of set: TLS 1.2 and 1.3, or
// TLS 1.2 alone where the system refuses the 1.3 flag, as older systems do;
// 0 when the system refuses TLS 1.2 too and keeps its defaults.
// Windows 7 and 8 offer TLS 1.0 alone unless told, which services refuse.
DWORD ChooseSecureProtocols(const SecureProtocolsSetter& set);

// Sets the protocols on a new session: ChooseSecureProtocols at the first
// session of the process, which logs the choice, and the protocols chosen
// then on every later one.
void SetSecureProtocols(HINTERNET session);

// Collects what WinHTTP reports of a request's failed certificate check.
// A synchronous request fails with ERROR_WINHTTP_SECURE_FAILURE alone; the
// flags that say why (WINHTTP_CALLBACK_STATUS_FLAG_*) come only through the
// status callback, which Watch installs.
class SecureFailureWatch final {
 public:
  SecureFailureWatch() = default;
  SecureFailureWatch(const SecureFailureWatch&) = delete;
  SecureFailureWatch& operator=(const SecureFailureWatch&) = delete;

  // Installs the callback on request; false, with the last error, when it
  // cannot. Pass context() to WinHttpSendRequest, so that the callback
  // finds this object.
  bool Watch(HINTERNET request);
  DWORD_PTR context() { return reinterpret_cast<DWORD_PTR>(this); }

  // The flags reported so far.
  DWORD flags() const { return flags_; }

 private:
  static void CALLBACK OnStatus(HINTERNET handle,
                                DWORD_PTR context,
                                DWORD status,
                                void* information,
                                DWORD length);

  DWORD flags_ = 0;
};

// What the failed call's code and the reported flags say of the server's
// certificate, as text to follow the error text ("; the server's
// certificate is issued by an untrusted root"); empty when they say
// nothing of it. Some WinHTTP implementations (Wine's) name the problem in
// the code itself instead of the flags.
std::string CertificateProblemText(DWORD error, DWORD secure_failure_flags);

}  // namespace base::net

#endif  // BASE_NET_HTTP_TLS_WIN_H_
