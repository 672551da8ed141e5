// A throw-away certificate authority and one server certificate it signed,
// made with OpenSSL 3 each time a loopback service starts.
#include "LoopbackCertificates.hpp"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orbisgrove::tools {
namespace {

template <auto Free>
struct OpenSSLDeleter {
  template <typename T>
  void operator()(T* object) const noexcept {
    Free(object);
  }
};

using KeyPointer = std::unique_ptr<EVP_PKEY, OpenSSLDeleter<EVP_PKEY_free>>;
using CertificatePointer = std::unique_ptr<X509, OpenSSLDeleter<X509_free>>;
using ExtensionPointer = std::unique_ptr<X509_EXTENSION, OpenSSLDeleter<X509_EXTENSION_free>>;
using NamesPointer = std::unique_ptr<GENERAL_NAMES, OpenSSLDeleter<GENERAL_NAMES_free>>;
using BioPointer = std::unique_ptr<BIO, OpenSSLDeleter<BIO_free_all>>;

[[noreturn]] void fail(const std::string& what) {
  std::string message = "loopback certificates: " + what;
  // The queue holds the reason OpenSSL gave; the last entry is the most specific.
  unsigned long code = 0;
  char text[256];
  while ((code = ERR_get_error()) != 0) {
    ERR_error_string_n(code, text, sizeof text);
    message += " (";
    message += text;
    message += ")";
  }
  throw std::runtime_error(message);
}

void check(int result, const char* what) {
  if (result <= 0) fail(what);
}

KeyPointer newKey() {
  // P-256 keys take microseconds to make, where RSA keys take a noticeable
  // part of a second: every test fixture makes a pair.
  KeyPointer key(EVP_EC_gen("P-256"));
  if (!key) fail("cannot generate a key");
  return key;
}

void setRandomSerial(X509* certificate) {
  unsigned char bytes[16];
  check(RAND_bytes(bytes, sizeof bytes), "cannot make a serial number");
  bytes[0] &= 0x7f;  // keep the serial positive
  std::unique_ptr<BIGNUM, OpenSSLDeleter<BN_free>> number(BN_bin2bn(bytes, sizeof bytes, nullptr));
  if (!number || !BN_to_ASN1_INTEGER(number.get(), X509_get_serialNumber(certificate))) fail("cannot set a serial");
}

void setName(X509_NAME* name, const std::string& commonName) {
  check(X509_NAME_add_entry_by_txt(name, "O", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>("Orbisgrove tests"),
                                   -1, -1, 0),
        "cannot set an organisation");
  check(X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                                   reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1, 0),
        "cannot set a common name");
}

CertificatePointer newCertificate(const std::string& commonName, EVP_PKEY* subjectKey) {
  CertificatePointer certificate(X509_new());
  if (!certificate) fail("cannot allocate a certificate");
  check(X509_set_version(certificate.get(), 2), "cannot set the version");
  setRandomSerial(certificate.get());
  // An hour of slack absorbs clocks that differ between a test and its service.
  if (!X509_gmtime_adj(X509_getm_notBefore(certificate.get()), -60L * 60)) fail("cannot set notBefore");
  if (!X509_gmtime_adj(X509_getm_notAfter(certificate.get()), 30L * 24 * 60 * 60)) fail("cannot set notAfter");
  check(X509_set_pubkey(certificate.get(), subjectKey), "cannot set the public key");
  setName(X509_get_subject_name(certificate.get()), commonName);
  return certificate;
}

void addExtension(X509* certificate, X509* issuer, int nid, const char* value) {
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
  ExtensionPointer extension(X509V3_EXT_conf_nid(nullptr, &context, nid, value));
  if (!extension) fail(std::string("cannot make the extension ") + OBJ_nid2sn(nid));
  check(X509_add_ext(certificate, extension.get(), -1), "cannot add an extension");
}

void addSubjectAltNames(X509* certificate, const std::vector<std::string>& names) {
  NamesPointer generalNames(GENERAL_NAMES_new());
  if (!generalNames) fail("cannot allocate subject alternative names");
  for (const auto& name : names) {
    if (name.empty()) throw std::runtime_error("loopback certificates: empty subject alternative name");
    GENERAL_NAME* entry = nullptr;
    // OpenSSL itself decides whether the text is an IPv4 or IPv6 literal.
    if (ASN1_OCTET_STRING* address = a2i_IPADDRESS(name.c_str())) {
      entry = GENERAL_NAME_new();
      if (!entry) {
        ASN1_OCTET_STRING_free(address);
        fail("cannot allocate a name");
      }
      GENERAL_NAME_set0_value(entry, GEN_IPADD, address);
    } else {
      ERR_clear_error();
      ASN1_IA5STRING* dns = ASN1_IA5STRING_new();
      if (!dns || !ASN1_STRING_set(dns, name.data(), static_cast<int>(name.size()))) {
        ASN1_IA5STRING_free(dns);
        fail("cannot make a DNS name");
      }
      entry = GENERAL_NAME_new();
      if (!entry) {
        ASN1_IA5STRING_free(dns);
        fail("cannot allocate a name");
      }
      GENERAL_NAME_set0_value(entry, GEN_DNS, dns);
    }
    if (!sk_GENERAL_NAME_push(generalNames.get(), entry)) {
      GENERAL_NAME_free(entry);
      fail("cannot collect the names");
    }
  }
  check(X509_add1_ext_i2d(certificate, NID_subject_alt_name, generalNames.get(), 0, X509V3_ADD_DEFAULT),
        "cannot add the subject alternative names");
}

std::string toPEM(const X509* certificate) {
  BioPointer bio(BIO_new(BIO_s_mem()));
  if (!bio || !PEM_write_bio_X509(bio.get(), certificate)) fail("cannot encode a certificate");
  char* data = nullptr;
  const long length = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, static_cast<std::size_t>(length));
}

std::string toPEM(EVP_PKEY* key) {
  BioPointer bio(BIO_new(BIO_s_mem()));
  if (!bio || !PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr)) {
    fail("cannot encode a private key");
  }
  char* data = nullptr;
  const long length = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, static_cast<std::size_t>(length));
}

void writeFile(const std::string& path, const std::string& contents, mode_t mode) {
  const int descriptor = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  if (descriptor < 0) throw std::runtime_error("loopback certificates: cannot create " + path);
  std::size_t written = 0;
  while (written < contents.size()) {
    const ssize_t result = ::write(descriptor, contents.data() + written, contents.size() - written);
    if (result < 0) {
      ::close(descriptor);
      throw std::runtime_error("loopback certificates: cannot write " + path);
    }
    written += static_cast<std::size_t>(result);
  }
  if (::close(descriptor) != 0) throw std::runtime_error("loopback certificates: cannot write " + path);
}

std::string joinPath(const std::string& directory, const char* name) {
  if (directory.empty() || directory.back() == '/') return directory + name;
  return directory + "/" + name;
}

}  // namespace

LoopbackCertificates generateLoopbackCertificates(const std::string& directory,
                                                  const std::vector<std::string>& subjectAltNames) {
  if (subjectAltNames.empty()) throw std::runtime_error("loopback certificates: no subject alternative name");
  ERR_clear_error();

  KeyPointer authorityKey = newKey();
  CertificatePointer authority = newCertificate("Orbisgrove Loopback Test Authority", authorityKey.get());
  check(X509_set_issuer_name(authority.get(), X509_get_subject_name(authority.get())), "cannot set the issuer");
  // Strict chain checks (OpenSSL 3 applies them to authorities) want key usage
  // and both key identifiers.
  addExtension(authority.get(), authority.get(), NID_basic_constraints, "critical,CA:TRUE,pathlen:0");
  addExtension(authority.get(), authority.get(), NID_key_usage, "critical,keyCertSign,cRLSign");
  addExtension(authority.get(), authority.get(), NID_subject_key_identifier, "hash");
  addExtension(authority.get(), authority.get(), NID_authority_key_identifier, "keyid:always");
  check(X509_sign(authority.get(), authorityKey.get(), EVP_sha256()), "cannot sign the authority");

  KeyPointer serverKey = newKey();
  CertificatePointer server = newCertificate(subjectAltNames.front(), serverKey.get());
  check(X509_set_issuer_name(server.get(), X509_get_subject_name(authority.get())), "cannot set the issuer");
  addExtension(server.get(), authority.get(), NID_basic_constraints, "critical,CA:FALSE");
  addExtension(server.get(), authority.get(), NID_key_usage, "critical,digitalSignature");
  addExtension(server.get(), authority.get(), NID_ext_key_usage, "serverAuth");
  addExtension(server.get(), authority.get(), NID_subject_key_identifier, "hash");
  addExtension(server.get(), authority.get(), NID_authority_key_identifier, "keyid:always");
  addSubjectAltNames(server.get(), subjectAltNames);
  check(X509_sign(server.get(), authorityKey.get(), EVP_sha256()), "cannot sign the server certificate");

  LoopbackCertificates files{joinPath(directory, "loopback-ca.pem"), joinPath(directory, "loopback-server.pem"),
                             joinPath(directory, "loopback-server-key.pem")};
  writeFile(files.caCertificateFile, toPEM(authority.get()), 0644);
  writeFile(files.serverCertificateFile, toPEM(server.get()), 0644);
  writeFile(files.serverPrivateKeyFile, toPEM(serverKey.get()), 0600);
  return files;
}

std::string publicKeyPin(const std::string& certificateFile) {
  const BioPointer file(BIO_new_file(certificateFile.c_str(), "r"));
  const CertificatePointer certificate(file ? PEM_read_bio_X509(file.get(), nullptr, nullptr, nullptr) : nullptr);
  if (!certificate) fail("cannot read the certificate " + certificateFile);
  unsigned char* der = nullptr;
  const int length = i2d_X509_PUBKEY(X509_get_X509_PUBKEY(certificate.get()), &der);
  check(length, "i2d_X509_PUBKEY");
  unsigned char digest[32];
  const bool hashed = EVP_Digest(der, static_cast<std::size_t>(length), digest, nullptr, EVP_sha256(), nullptr) == 1;
  OPENSSL_free(der);
  if (!hashed) fail("EVP_Digest");
  unsigned char text[45];
  EVP_EncodeBlock(text, digest, sizeof digest);
  return "sha256//" + std::string(reinterpret_cast<const char*>(text));
}

}  // namespace orbisgrove::tools
