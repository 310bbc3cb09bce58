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

}  // namespace vesk::httpd

#endif  // VESK_HTTPD_CERTIFICATE_H
