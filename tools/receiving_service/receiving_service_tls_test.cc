// The receiving service over HTTPS, with certificates the test makes.

#include <httplib.h>
#include <openssl/ssl.h>

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "test/scoped_temp_dir.h"
#include "test/test_certificates.h"
#include "tools/receiving_service/receiving_service.h"

namespace tools {
namespace {

using Server = test::TestCertificates::Server;

class ReceivingServiceTlsTest : public testing::Test {
 protected:
  ReceivingService::Options Options(Server kind) const {
    const test::TestCertificates::ServerFiles files = certificates_.Issue(kind);
    ReceivingService::Options options;
    options.out_dir = temp_.path() + "/out";
    options.tls_certificate = files.certificate;
    options.tls_key = files.key;
    return options;
  }

  test::ScopedTempDir temp_;
  test::TestCertificates certificates_{temp_.path(), "localhost"};
};

// As data services do: TLS 1.2, which is all Windows 7 to 10 speak, and
// 1.3, and nothing older.
TEST_F(ReceivingServiceTlsTest, SpeaksTls12And13Only) {
  ReceivingService service(Options(Server::kGood));
  ASSERT_TRUE(service.Start());
  struct Case {
    const char* name;
    int version;
    bool answered;
  };
  const std::vector<Case> cases = {
      {"TLS 1.1", TLS1_1_VERSION, false},
      {"TLS 1.2", TLS1_2_VERSION, true},
      {"TLS 1.3", TLS1_3_VERSION, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    httplib::SSLClient client("localhost", service.port());
    client.set_ca_cert_path(certificates_.root_file().c_str());
    client.enable_server_certificate_verification(true);
    SSL_CTX* const context = client.ssl_context();
    // OpenSSL offers TLS 1.1 only at security level 0.
    SSL_CTX_set_security_level(context, 0);
    ASSERT_EQ(SSL_CTX_set_min_proto_version(context, c.version), 1);
    ASSERT_EQ(SSL_CTX_set_max_proto_version(context, c.version), 1);

    const httplib::Result result =
        client.Post("/apm/dataUpload", "[]", "application/json");

    EXPECT_EQ(static_cast<bool>(result), c.answered) << result.error();
  }
  EXPECT_EQ(service.uploads().size(), 2u);
}

TEST_F(ReceivingServiceTlsTest, RefusesAKeyThatIsNotTheCertificates) {
  ReceivingService::Options options = Options(Server::kGood);
  options.tls_key = Options(Server::kExpired).tls_key;
  ReceivingService service(std::move(options));
  EXPECT_FALSE(service.Start());
}

}  // namespace
}  // namespace tools
