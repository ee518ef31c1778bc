#include "support/test_certificate.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace timesync::testing {
namespace {

struct KeyFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct CertFree {
  void operator()(X509* cert) const { X509_free(cert); }
};
struct BioFree {
  void operator()(BIO* bio) const { BIO_free(bio); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, KeyFree>;
using CertPtr = std::unique_ptr<X509, CertFree>;
using BioPtr = std::unique_ptr<BIO, BioFree>;

constexpr long kDay = 24 * 60 * 60;

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "test certificate: %s failed\n", what);
  ERR_print_errors_fp(stderr);
  std::abort();
}

void Check(bool ok, const char* what) {
  if (!ok) Fail(what);
}

KeyPtr NewKey() {
  KeyPtr key(EVP_EC_gen("P-256"));
  Check(key != nullptr, "EVP_EC_gen");
  return key;
}

void AddExtension(X509* cert, X509* issuer, int nid, const char* value) {
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, issuer, cert, nullptr, nullptr, 0);
  X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
  Check(extension != nullptr, "X509V3_EXT_conf_nid");
  const int added = X509_add_ext(cert, extension, -1);
  X509_EXTENSION_free(extension);
  Check(added == 1, "X509_add_ext");
}

struct Validity {
  long notBeforeSeconds;  // relative to now
  long notAfterSeconds;
};

// A certificate for `key` named `commonName`, issued by `issuer` (itself when null)
// and signed with `issuerKey`. Extensions come as (nid, value) pairs.
CertPtr NewCertificate(EVP_PKEY* key, const char* commonName, X509* issuer, EVP_PKEY* issuerKey,
                       Validity validity,
                       const std::vector<std::pair<int, const char*>>& extensions) {
  CertPtr cert(X509_new());
  Check(cert != nullptr, "X509_new");
  Check(X509_set_version(cert.get(), 2) == 1, "X509_set_version");
  unsigned char serial[8];
  Check(RAND_bytes(serial, sizeof serial) == 1, "RAND_bytes");
  serial[0] &= 0x7F;  // positive
  std::uint64_t serialNumber = 0;
  for (const unsigned char byte : serial) serialNumber = (serialNumber << 8) | byte;
  Check(ASN1_INTEGER_set_uint64(X509_get_serialNumber(cert.get()), serialNumber) == 1,
        "ASN1_INTEGER_set_uint64");
  Check(X509_gmtime_adj(X509_getm_notBefore(cert.get()), validity.notBeforeSeconds) != nullptr,
        "X509_gmtime_adj");
  Check(X509_gmtime_adj(X509_getm_notAfter(cert.get()), validity.notAfterSeconds) != nullptr,
        "X509_gmtime_adj");
  Check(X509_set_pubkey(cert.get(), key) == 1, "X509_set_pubkey");
  X509_NAME* subject = X509_get_subject_name(cert.get());
  Check(X509_NAME_add_entry_by_txt(subject, "O", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>("timesync tests"), -1, -1,
                                   0) == 1,
        "X509_NAME_add_entry_by_txt");
  Check(X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>(commonName), -1, -1,
                                   0) == 1,
        "X509_NAME_add_entry_by_txt");
  X509* const signer = issuer != nullptr ? issuer : cert.get();
  Check(X509_set_issuer_name(cert.get(), X509_get_subject_name(signer)) == 1,
        "X509_set_issuer_name");
  for (const auto& [nid, value] : extensions) AddExtension(cert.get(), signer, nid, value);
  Check(X509_sign(cert.get(), issuerKey != nullptr ? issuerKey : key, EVP_sha256()) > 0,
        "X509_sign");
  return cert;
}

// The same certificate with the last byte of its signature flipped. The
// signature is the last field of the DER encoding, and for ECDSA its last byte
// belongs to the integer s, so the encoding stays well-formed.
CertPtr WithBrokenSignature(X509* cert) {
  unsigned char* der = nullptr;
  const int length = i2d_X509(cert, &der);
  Check(length > 0, "i2d_X509");
  der[length - 1] ^= 0x01;
  const unsigned char* cursor = der;
  CertPtr broken(d2i_X509(nullptr, &cursor, length));
  OPENSSL_free(der);
  Check(broken != nullptr, "d2i_X509");
  return broken;
}

std::string BioText(BIO* bio) {
  char* data = nullptr;
  const long length = BIO_get_mem_data(bio, &data);
  return std::string(data, static_cast<std::size_t>(length));
}

std::string CertPem(X509* cert) {
  BioPtr bio(BIO_new(BIO_s_mem()));
  Check(bio != nullptr && PEM_write_bio_X509(bio.get(), cert) == 1, "PEM_write_bio_X509");
  return BioText(bio.get());
}

std::string KeyPem(EVP_PKEY* key) {
  BioPtr bio(BIO_new(BIO_s_mem()));
  Check(bio != nullptr &&
            PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr) == 1,
        "PEM_write_bio_PrivateKey");
  return BioText(bio.get());
}

}  // namespace

TestCertificateFiles MakeTestCertificate(TestCertificate kind) {
  const Validity current{-kDay, 365 * kDay};
  const char* const localNames = "DNS:localhost,IP:127.0.0.1,IP:::1";
  const char* const serverUsage = "serverAuth";

  const KeyPtr leafKey = NewKey();
  if (kind == TestCertificate::kSelfSigned) {
    const CertPtr leaf = NewCertificate(leafKey.get(), "localhost", nullptr, nullptr, current,
                                        {{NID_basic_constraints, "critical,CA:FALSE"},
                                         {NID_key_usage, "critical,digitalSignature,keyCertSign"},
                                         {NID_ext_key_usage, serverUsage},
                                         {NID_subject_key_identifier, "hash"},
                                         {NID_subject_alt_name, localNames}});
    const std::string pem = CertPem(leaf.get());
    return {.chainPem = pem, .keyPem = KeyPem(leafKey.get()), .caPem = pem};
  }

  const KeyPtr caKey = NewKey();
  const CertPtr ca =
      NewCertificate(caKey.get(), "timesync test CA", nullptr, nullptr, {-kDay, 3650 * kDay},
                     {{NID_basic_constraints, "critical,CA:TRUE"},
                      {NID_key_usage, "critical,keyCertSign,cRLSign"},
                      {NID_subject_key_identifier, "hash"}});

  Validity validity = current;
  const char* names = localNames;
  const char* usage = serverUsage;
  switch (kind) {
    case TestCertificate::kExpired:
      validity = {-30 * kDay, -kDay};
      break;
    case TestCertificate::kNotYetValid:
      validity = {kDay, 30 * kDay};
      break;
    case TestCertificate::kWrongHost:
      names = "DNS:wrong-host.invalid";
      break;
    case TestCertificate::kClientUsageOnly:
      usage = "clientAuth";
      break;
    default:
      break;
  }
  const char* const commonName =
      kind == TestCertificate::kWrongHost ? "wrong-host.invalid" : "localhost";
  CertPtr leaf = NewCertificate(leafKey.get(), commonName, ca.get(), caKey.get(), validity,
                                {{NID_basic_constraints, "critical,CA:FALSE"},
                                 {NID_key_usage, "critical,digitalSignature"},
                                 {NID_ext_key_usage, usage},
                                 {NID_subject_key_identifier, "hash"},
                                 {NID_authority_key_identifier, "keyid:always"},
                                 {NID_subject_alt_name, names}});
  if (kind == TestCertificate::kBadSignature) leaf = WithBrokenSignature(leaf.get());
  const std::string caPem = CertPem(ca.get());
  return {.chainPem = CertPem(leaf.get()) + caPem, .keyPem = KeyPem(leafKey.get()), .caPem = caPem};
}

const char* TestCertificateName(TestCertificate kind) {
  switch (kind) {
    case TestCertificate::kSelfSigned:
      return "kSelfSigned";
    case TestCertificate::kUnknownCa:
      return "kUnknownCa";
    case TestCertificate::kWrongHost:
      return "kWrongHost";
    case TestCertificate::kExpired:
      return "kExpired";
    case TestCertificate::kNotYetValid:
      return "kNotYetValid";
    case TestCertificate::kBadSignature:
      return "kBadSignature";
    case TestCertificate::kClientUsageOnly:
      return "kClientUsageOnly";
  }
  return "?";
}

}  // namespace timesync::testing
