#include "httpd/Certificate.h"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>
#include <stdexcept>

namespace vesk::httpd {

namespace {

template <auto Free>
struct Deleter {
  template <typename T>
  void operator()(T* object) const {
    Free(object);
  }
};
using PkeyPtr = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY_free>>;
using X509Ptr = std::unique_ptr<X509, Deleter<X509_free>>;
using ExtensionPtr = std::unique_ptr<X509_EXTENSION, Deleter<X509_EXTENSION_free>>;
using BignumPtr = std::unique_ptr<BIGNUM, Deleter<BN_free>>;
using BioPtr = std::unique_ptr<BIO, Deleter<BIO_free>>;

[[noreturn]] void Fail(const char* what) {
  std::string message = std::string("certificate generation failed: ") + what;
  if (const unsigned long code = ERR_get_error()) {
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    message += ": ";
    message += text;
  }
  ERR_clear_error();
  throw std::runtime_error(message);
}

void Check(bool ok, const char* what) {
  if (!ok) Fail(what);
}

void AddExtension(X509* cert, int nid, const char* value, X509* issuer = nullptr) {
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, issuer ? issuer : cert, cert, nullptr, nullptr, 0);
  ExtensionPtr extension(X509V3_EXT_conf_nid(nullptr, &context, nid, value));
  Check(extension != nullptr, "extension");
  Check(X509_add_ext(cert, extension.get(), -1) == 1, "add extension");
}

template <typename Write>
std::string ToPem(Write write) {
  BioPtr bio(BIO_new(BIO_s_mem()));
  Check(bio != nullptr, "memory BIO");
  Check(write(bio.get()) == 1, "PEM output");
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, static_cast<std::size_t>(size));
}

X509Ptr ReadCertificate(const std::string& pem) {
  BioPtr bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
  Check(bio != nullptr, "memory BIO");
  X509Ptr cert(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
  Check(cert != nullptr, "certificate PEM");
  return cert;
}

PkeyPtr ReadKey(const std::string& pem) {
  BioPtr bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
  Check(bio != nullptr, "memory BIO");
  PkeyPtr key(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
  Check(key != nullptr, "key PEM");
  return key;
}

// A version 3 certificate with a random serial, the validity, the subject commonName and
// the key; extensions, issuer and signature are the caller's.
X509Ptr NewCertificate(const std::string& commonName, int notBeforeDays, int notAfterDays,
                       EVP_PKEY* key) {
  X509Ptr cert(X509_new());
  Check(cert != nullptr, "X509_new");
  Check(X509_set_version(cert.get(), X509_VERSION_3) == 1, "version");

  // A random serial number, so that two generated certificates never look alike to a client.
  BignumPtr serial(BN_new());
  Check(serial != nullptr, "serial");
  Check(BN_rand(serial.get(), 64, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY) == 1, "serial");
  Check(BN_to_ASN1_INTEGER(serial.get(), X509_get_serialNumber(cert.get())) != nullptr, "serial");

  constexpr long kDay = 24L * 60 * 60;
  Check(X509_gmtime_adj(X509_getm_notBefore(cert.get()), notBeforeDays * kDay) != nullptr,
        "notBefore");
  Check(X509_gmtime_adj(X509_getm_notAfter(cert.get()), notAfterDays * kDay) != nullptr,
        "notAfter");

  X509_NAME* name = X509_get_subject_name(cert.get());
  Check(X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                                   reinterpret_cast<const unsigned char*>(commonName.c_str()), -1,
                                   -1, 0) == 1,
        "common name");
  Check(X509_set_pubkey(cert.get(), key) == 1, "public key");
  return cert;
}

CertificatePair ToPair(X509* cert, EVP_PKEY* key) {
  CertificatePair pair;
  pair.certPem = ToPem([&](BIO* bio) { return PEM_write_bio_X509(bio, cert); });
  pair.keyPem = ToPem([&](BIO* bio) {
    return PEM_write_bio_PrivateKey(bio, key, nullptr, nullptr, 0, nullptr, nullptr);
  });
  return pair;
}

}  // namespace

CertificatePair MakeSelfSignedCertificate(const std::string& commonName, int notBeforeDays,
                                          int notAfterDays) {
  PkeyPtr key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
  Check(key != nullptr, "EC key");
  X509Ptr cert = NewCertificate(commonName, notBeforeDays, notAfterDays, key.get());
  Check(X509_set_issuer_name(cert.get(), X509_get_subject_name(cert.get())) == 1, "issuer");

  // CA:TRUE lets a client take the certificate itself as the trust anchor.
  AddExtension(cert.get(), NID_basic_constraints, "critical,CA:TRUE");
  AddExtension(cert.get(), NID_key_usage, "critical,digitalSignature,keyCertSign");
  AddExtension(cert.get(), NID_ext_key_usage, "serverAuth");
  AddExtension(cert.get(), NID_subject_key_identifier, "hash");
  AddExtension(cert.get(), NID_subject_alt_name, "DNS:localhost,IP:127.0.0.1");

  Check(X509_sign(cert.get(), key.get(), EVP_sha256()) > 0, "signature");
  return ToPair(cert.get(), key.get());
}

CertificatePair MakeSignedCertificate(const CertificatePair& issuer, const std::string& commonName,
                                      int notBeforeDays, int notAfterDays) {
  const X509Ptr issuerCert = ReadCertificate(issuer.certPem);
  const PkeyPtr issuerKey = ReadKey(issuer.keyPem);
  PkeyPtr key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
  Check(key != nullptr, "EC key");
  X509Ptr cert = NewCertificate(commonName, notBeforeDays, notAfterDays, key.get());
  Check(X509_set_issuer_name(cert.get(), X509_get_subject_name(issuerCert.get())) == 1, "issuer");

  AddExtension(cert.get(), NID_basic_constraints, "critical,CA:FALSE");
  AddExtension(cert.get(), NID_key_usage, "critical,digitalSignature");
  AddExtension(cert.get(), NID_ext_key_usage, "serverAuth");
  AddExtension(cert.get(), NID_subject_key_identifier, "hash");
  AddExtension(cert.get(), NID_authority_key_identifier, "keyid", issuerCert.get());
  AddExtension(cert.get(), NID_subject_alt_name, "DNS:localhost,IP:127.0.0.1");

  Check(X509_sign(cert.get(), issuerKey.get(), EVP_sha256()) > 0, "signature");
  return ToPair(cert.get(), key.get());
}

std::string Sha256Fingerprint(const std::string& certPem) {
  const X509Ptr cert = ReadCertificate(certPem);
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  Check(X509_digest(cert.get(), EVP_sha256(), digest, &length) == 1, "digest");
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text;
  for (unsigned int i = 0; i < length; ++i) {
    if (i > 0) text.push_back(':');
    text.push_back(kHex[digest[i] >> 4]);
    text.push_back(kHex[digest[i] & 0xF]);
  }
  return text;
}

}  // namespace vesk::httpd
