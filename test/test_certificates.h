#ifndef TEST_TEST_CERTIFICATES_H_
#define TEST_TEST_CERTIFICATES_H_

#include <string>

namespace test {

// Certificates for the TLS tests, made when the test runs (OpenSSL) and
// never kept: a test root that the tests make trusted for the process under
// test, a second root that nobody trusts, and server certificates issued
// for a host name. Keys are ECDSA P-256, quick to make.
class TestCertificates {
 public:
  // What a server shows the client that asked for the host name.
  enum class Server {
    kGood,           // the test root's, for the host, valid now
    kOtherHostName,  // the test root's, for another host name only
    kExpired,        // the test root's, for the host, expired yesterday
    kUntrustedRoot,  // for the host, valid now, from the untrusted root
  };

  // The PEM files of one server certificate and its private key.
  struct ServerFiles {
    std::string certificate;
    std::string key;
  };

  // Makes both roots, with their files in dir.
  TestCertificates(const std::string& dir, const std::string& host);

  // The test root's certificate, PEM.
  const std::string& root_file() const { return root_file_; }
  // The untrusted root's certificate, PEM.
  const std::string& untrusted_root_file() const {
    return untrusted_root_file_;
  }

  // Makes a server certificate of that kind in the directory (made anew at
  // every call, under the kind's name).
  ServerFiles Issue(Server kind) const;

 private:
  const std::string dir_;
  const std::string host_;
  std::string root_file_;
  std::string untrusted_root_file_;
};

}  // namespace test

#endif  // TEST_TEST_CERTIFICATES_H_
