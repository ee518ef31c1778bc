// Certificates made on the fly for the TLS test servers, each with one known fault.
//
// Every kind but kSelfSigned is issued by a throw-away test CA that no client
// knows, and its chain (leaf, then CA) is what the server sends. A client that
// trusts `caPem` sees only the fault the kind names:
//
//   const TestCertificateFiles files = MakeTestCertificate(TestCertificate::kExpired);
//   // files.chainPem: leaf + CA, files.keyPem: the leaf's key, files.caPem: the CA alone
//
// Leaves name "localhost" and 127.0.0.1 (and ::1) unless the kind says otherwise,
// are valid from a day ago for a year, and are for server authentication.
#ifndef TIMESYNC_TESTS_SUPPORT_TEST_CERTIFICATE_H_
#define TIMESYNC_TESTS_SUPPORT_TEST_CERTIFICATE_H_

#include <string>

namespace timesync::testing {

enum class TestCertificate {
  kSelfSigned,       // self-signed leaf, no CA at all
  kUnknownCa,        // sound leaf issued by the test CA (its only fault: nobody trusts the CA)
  kWrongHost,        // names only "wrong-host.invalid"
  kExpired,          // valid from 30 days ago until yesterday
  kNotYetValid,      // valid from tomorrow
  kBadSignature,     // one byte of the CA's signature flipped
  kClientUsageOnly,  // extended key usage clientAuth only
};

struct TestCertificateFiles {
  std::string chainPem;  // the leaf, then the issuing CA when there is one
  std::string keyPem;    // the leaf's private key
  std::string caPem;     // the issuing CA (for kSelfSigned: the leaf itself)
};

// Makes a fresh key pair, CA and leaf of the given kind (EC P-256, a few
// milliseconds). Aborts the test program if OpenSSL fails.
TestCertificateFiles MakeTestCertificate(TestCertificate kind);

// "kExpired" and the like, for test names and messages.
const char* TestCertificateName(TestCertificate kind);

}  // namespace timesync::testing

#endif  // TIMESYNC_TESTS_SUPPORT_TEST_CERTIFICATE_H_
