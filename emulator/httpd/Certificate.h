// Self-signed certificates for the HTTPS servers, generated at run time so that nothing
// secret is kept in the repository.
#ifndef VESK_HTTPD_CERTIFICATE_H
#define VESK_HTTPD_CERTIFICATE_H

#include <string>

namespace vesk::httpd {

struct CertificatePair {
  std::string certPem;  // "CERTIFICATE" PEM
  std::string keyPem;   // PKCS#8 "PRIVATE KEY" PEM
};

// A self-signed certificate for commonName with an EC P-256 key, valid from now plus
// notBeforeDays to now plus notAfterDays (negative numbers lie in the past, so (-10, -1)
// makes an expired certificate). It names DNS:localhost and IP:127.0.0.1 as its subject
// alternative names and may act as its own trust anchor. Throws std::runtime_error when
// OpenSSL fails.
CertificatePair MakeSelfSignedCertificate(const std::string& commonName, int notBeforeDays,
                                          int notAfterDays);

// A server certificate for commonName signed by issuer (a pair whose certificate may sign
// others, such as a self-signed one from above, which then plays a certificate authority):
// an EC P-256 key, valid from now plus notBeforeDays to now plus notAfterDays, naming
// DNS:localhost and IP:127.0.0.1, not itself an authority. A client that trusts the issuer's
// certificate accepts it for 127.0.0.1. Throws std::runtime_error when OpenSSL fails or the
// issuer's PEM cannot be read.
CertificatePair MakeSignedCertificate(const CertificatePair& issuer, const std::string& commonName,
                                      int notBeforeDays, int notAfterDays);

// The SHA-256 fingerprint of a PEM certificate, as upper-case hexadecimal pairs joined by
// colons ("AB:01:..."). Throws std::runtime_error when the PEM cannot be read.
std::string Sha256Fingerprint(const std::string& certPem);

}  // namespace vesk::httpd

#endif  // VESK_HTTPD_CERTIFICATE_H
