#include "platform/http/TrustedCertificates.hpp"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>

#include <utility>

namespace orbisgrove::platform::http {

struct TrustedCertificates::File {
  std::string path;
  std::vector<X509*> certificates;
  std::optional<std::string> problem;

  File() = default;
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File() {
    for (X509* certificate : certificates) X509_free(certificate);
  }
};

std::shared_ptr<const TrustedCertificates::File> TrustedCertificates::readFile(const std::string& path) {
  auto file = std::make_shared<File>();
  file->path = path;
  BIO* bio = BIO_new_file(path.c_str(), "r");
  if (bio == nullptr) {
    ERR_clear_error();
    file->problem = "the trusted certificates file \"" + path + "\" cannot be read";
    return file;
  }
  while (X509* certificate = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr)) {
    file->certificates.push_back(certificate);
  }
  // The loop ends on "no more PEM blocks", which OpenSSL reports as an error.
  ERR_clear_error();
  BIO_free(bio);
  if (file->certificates.empty()) {
    file->problem = "the trusted certificates file \"" + path + "\" holds no PEM certificate";
  }
  return file;
}

std::shared_ptr<const TrustedCertificates> TrustedCertificates::adding(
    const std::shared_ptr<const TrustedCertificates>& base, const std::string& pemFile) {
  auto extended = std::make_shared<TrustedCertificates>();
  if (base) extended->files_ = base->files_;
  extended->files_.push_back(readFile(pemFile));
  return extended;
}

std::optional<std::string> TrustedCertificates::addTo(X509_STORE* store) const {
  for (const auto& file : files_) {
    if (file->problem) return file->problem;
    for (X509* certificate : file->certificates) {
      // A certificate that is already in the store (the same authority given
      // twice, or also in the system's bundle) is not a failure.
      if (X509_STORE_add_cert(store, certificate) != 1) ERR_clear_error();
    }
  }
  return std::nullopt;
}

}  // namespace orbisgrove::platform::http
