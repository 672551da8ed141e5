// The loopback certificates that the tool's service and the tests' use.
#include "TestPrelude.hpp"

#include <loopback_tls/LoopbackCertificates.hpp>

#include "ScratchFiles.hpp"

#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>

#include <sys/stat.h>

namespace orbisgrove::tools {
namespace {

struct X509Deleter {
  void operator()(X509* certificate) const { X509_free(certificate); }
};
using CertificatePointer = std::unique_ptr<X509, X509Deleter>;

CertificatePointer readCertificate(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "r");
  if (file == nullptr) return nullptr;
  CertificatePointer certificate(PEM_read_X509(file, nullptr, nullptr, nullptr));
  std::fclose(file);
  return certificate;
}

TEST(LoopbackCertificatesTest, ServerCertificateVerifiesForItsNamesOnlyAndItsKeyIsPrivate) {
  const orbisgrove::testing::ScratchDirectory directory("orbisgrove-certs");
  const auto files = generateLoopbackCertificates(directory.path());

  const auto authority = readCertificate(files.caCertificateFile);
  const auto server = readCertificate(files.serverCertificateFile);
  ASSERT_NE(authority, nullptr);
  ASSERT_NE(server, nullptr);

  std::unique_ptr<X509_STORE, decltype(&X509_STORE_free)> store(X509_STORE_new(), X509_STORE_free);
  X509_STORE_add_cert(store.get(), authority.get());
  std::unique_ptr<X509_STORE_CTX, decltype(&X509_STORE_CTX_free)> context(X509_STORE_CTX_new(), X509_STORE_CTX_free);
  ASSERT_EQ(X509_STORE_CTX_init(context.get(), store.get(), server.get(), nullptr), 1);
  X509_STORE_CTX_set_purpose(context.get(), X509_PURPOSE_SSL_SERVER);
  X509_VERIFY_PARAM_set_flags(X509_STORE_CTX_get0_param(context.get()), X509_V_FLAG_X509_STRICT);
  EXPECT_EQ(X509_verify_cert(context.get()), 1)
      << X509_verify_cert_error_string(X509_STORE_CTX_get_error(context.get()));

  EXPECT_EQ(X509_check_host(server.get(), "localhost", 0, 0, nullptr), 1);
  EXPECT_EQ(X509_check_ip_asc(server.get(), "127.0.0.1", 0), 1);
  EXPECT_EQ(X509_check_ip_asc(server.get(), "::1", 0), 1);
  EXPECT_NE(X509_check_host(server.get(), "example.com", 0, 0, nullptr), 1);
  EXPECT_NE(X509_check_ip_asc(server.get(), "127.0.0.2", 0), 1);

  struct stat status {};
  ASSERT_EQ(::stat(files.serverPrivateKeyFile.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0077, 0U) << "the private key must not be readable by others";
}

}  // namespace
}  // namespace orbisgrove::tools
