// The certificate functions where the build has no OpenSSL (Windows): each reports that it
// cannot make or read a certificate. The HTTPS tests skip themselves there.
#include <stdexcept>

#include "httpd/Certificate.h"

namespace vesk::httpd {
namespace {

[[noreturn]] void Unavailable() {
  throw std::runtime_error("no certificates in this build: it has no OpenSSL");
}

}  // namespace

CertificatePair MakeSelfSignedCertificate(const std::string&, int, int) { Unavailable(); }

CertificatePair MakeSignedCertificate(const CertificatePair&, const std::string&, int, int) {
  Unavailable();
}

std::string Sha256Fingerprint(const std::string&) { Unavailable(); }

}  // namespace vesk::httpd
