#include "test/test_certificates.h"

#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>

#include "gtest/gtest.h"

namespace test {
namespace {

struct BioFree {
  void operator()(BIO* bio) const { BIO_free(bio); }
};
struct KeyFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct CertificateFree {
  void operator()(X509* certificate) const { X509_free(certificate); }
};
using ScopedBio = std::unique_ptr<BIO, BioFree>;
using ScopedKey = std::unique_ptr<EVP_PKEY, KeyFree>;
using ScopedCertificate = std::unique_ptr<X509, CertificateFree>;

constexpr long kHour = 60 * 60;
constexpr long kDay = 24 * kHour;

// What a certificate says, besides its key and its issuer.
struct Subject {
  std::string common_name;
  std::string dns_name;  // the subjectAltName's one name; none for a root
  long not_before;       // seconds from now
  long not_after;
};

// Adds the extension of nid with the configuration text value, with ctx's
// issuer and subject for the key identifiers.
void AddExtension(X509* certificate,
                  X509V3_CTX* ctx,
                  int nid,
                  const std::string& value) {
  X509_EXTENSION* extension =
      X509V3_EXT_conf_nid(nullptr, ctx, nid, value.c_str());
  ASSERT_NE(extension, nullptr) << value;
  EXPECT_EQ(X509_add_ext(certificate, extension, -1), 1) << value;
  X509_EXTENSION_free(extension);
}

// A certificate of subject for key, signed by issuer with issuer_key; a root
// (no issuer) signs itself and may issue certificates.
ScopedCertificate MakeCertificate(const Subject& subject,
                                  EVP_PKEY* key,
                                  X509* issuer,
                                  EVP_PKEY* issuer_key) {
  ScopedCertificate certificate(X509_new());
  EXPECT_EQ(X509_set_version(certificate.get(), X509_VERSION_3), 1);
  // A random serial: two certificates of one issuer must never share one.
  unsigned char serial[16];
  EXPECT_EQ(RAND_bytes(serial, sizeof(serial)), 1);
  serial[0] &= 0x7F;
  BIGNUM* number = BN_bin2bn(serial, sizeof(serial), nullptr);
  BN_to_ASN1_INTEGER(number, X509_get_serialNumber(certificate.get()));
  BN_free(number);
  X509_gmtime_adj(X509_getm_notBefore(certificate.get()), subject.not_before);
  X509_gmtime_adj(X509_getm_notAfter(certificate.get()), subject.not_after);
  X509_NAME* name = X509_get_subject_name(certificate.get());
  X509_NAME_add_entry_by_txt(
      name, "CN", MBSTRING_UTF8,
      reinterpret_cast<const unsigned char*>(subject.common_name.c_str()), -1,
      -1, 0);
  X509_set_issuer_name(certificate.get(),
                       issuer ? X509_get_subject_name(issuer) : name);
  X509_set_pubkey(certificate.get(), key);

  X509V3_CTX ctx;
  X509V3_set_ctx(&ctx, issuer ? issuer : certificate.get(), certificate.get(),
                 nullptr, nullptr, 0);
  AddExtension(certificate.get(), &ctx, NID_subject_key_identifier, "hash");
  AddExtension(certificate.get(), &ctx, NID_authority_key_identifier,
               "keyid:always");
  if (issuer) {
    AddExtension(certificate.get(), &ctx, NID_basic_constraints,
                 "critical,CA:FALSE");
    AddExtension(certificate.get(), &ctx, NID_key_usage,
                 "critical,digitalSignature");
    AddExtension(certificate.get(), &ctx, NID_ext_key_usage, "serverAuth");
    AddExtension(certificate.get(), &ctx, NID_subject_alt_name,
                 "DNS:" + subject.dns_name);
  } else {
    AddExtension(certificate.get(), &ctx, NID_basic_constraints,
                 "critical,CA:TRUE");
    AddExtension(certificate.get(), &ctx, NID_key_usage,
                 "critical,keyCertSign,cRLSign");
  }
  EXPECT_GT(X509_sign(certificate.get(), issuer_key, EVP_sha256()), 0);
  return certificate;
}

void WriteCertificate(const std::string& path, X509* certificate) {
  const ScopedBio file(BIO_new_file(path.c_str(), "w"));
  ASSERT_TRUE(file) << path;
  EXPECT_EQ(PEM_write_bio_X509(file.get(), certificate), 1) << path;
}

void WriteKey(const std::string& path, EVP_PKEY* key) {
  const ScopedBio file(BIO_new_file(path.c_str(), "w"));
  ASSERT_TRUE(file) << path;
  EXPECT_EQ(PEM_write_bio_PrivateKey(file.get(), key, nullptr, nullptr, 0,
                                     nullptr, nullptr),
            1)
      << path;
}

ScopedCertificate ReadCertificate(const std::string& path) {
  const ScopedBio file(BIO_new_file(path.c_str(), "r"));
  EXPECT_TRUE(file) << path;
  return ScopedCertificate(
      file ? PEM_read_bio_X509(file.get(), nullptr, nullptr, nullptr)
           : nullptr);
}

ScopedKey ReadKey(const std::string& path) {
  const ScopedBio file(BIO_new_file(path.c_str(), "r"));
  EXPECT_TRUE(file) << path;
  return ScopedKey(
      file ? PEM_read_bio_PrivateKey(file.get(), nullptr, nullptr, nullptr)
           : nullptr);
}

std::string KeyFile(const std::string& certificate_file) {
  return certificate_file.substr(0, certificate_file.size() - 4) + "-key.pem";
}

// Makes a root named common_name, its certificate in path.
void MakeRoot(const std::string& path, const std::string& common_name) {
  const ScopedKey key(EVP_EC_gen("P-256"));
  ASSERT_TRUE(key);
  const ScopedCertificate root = MakeCertificate(
      {common_name, "", -kHour, 30 * kDay}, key.get(), nullptr, key.get());
  WriteCertificate(path, root.get());
  WriteKey(KeyFile(path), key.get());
}

}  // namespace

TestCertificates::TestCertificates(const std::string& dir,
                                   const std::string& host)
    : dir_(dir),
      host_(host),
      root_file_(dir + "/test-root.pem"),
      untrusted_root_file_(dir + "/untrusted-root.pem") {
  // scripts/check-no-test-root.sh looks for these names in executables.
  MakeRoot(root_file_, "crashreport test root");
  MakeRoot(untrusted_root_file_, "crashreport untrusted root");
}

TestCertificates::ServerFiles TestCertificates::Issue(Server kind) const {
  Subject subject = {host_, host_, -kHour, kDay};
  std::string issuer_file = root_file_;
  std::string name;
  switch (kind) {
    case Server::kGood:
      name = "good";
      break;
    case Server::kOtherHostName:
      name = "other-host-name";
      subject.common_name = subject.dns_name = "elsewhere.invalid";
      break;
    case Server::kExpired:
      name = "expired";
      subject.not_before = -30 * kDay;
      subject.not_after = -kDay;
      break;
    case Server::kUntrustedRoot:
      name = "untrusted-root-server";
      issuer_file = untrusted_root_file_;
      break;
  }
  const ScopedCertificate issuer = ReadCertificate(issuer_file);
  const ScopedKey issuer_key = ReadKey(KeyFile(issuer_file));
  const ScopedKey key(EVP_EC_gen("P-256"));
  ServerFiles files = {dir_ + "/" + name + ".pem",
                       dir_ + "/" + name + "-key.pem"};
  if (!issuer || !issuer_key || !key) {
    ADD_FAILURE() << "no key or issuer for " << name;
    return files;
  }
  const ScopedCertificate certificate =
      MakeCertificate(subject, key.get(), issuer.get(), issuer_key.get());
  WriteCertificate(files.certificate, certificate.get());
  WriteKey(files.key, key.get());
  return files;
}

}  // namespace test
