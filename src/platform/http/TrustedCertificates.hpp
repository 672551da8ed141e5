// Certificate authorities that a session trusts besides the system's store.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <openssl/x509.h>

namespace orbisgrove::platform::http {

/// An immutable set of certificate authorities read from PEM files. Adding a
/// file makes a new set, so a transfer keeps the set it started with while
/// later calls add to the session's.
class TrustedCertificates {
 public:
  /// `base` plus the authorities in `pemFile`. The file is read now; when it
  /// cannot be read or holds no certificate, the set remembers why, and every
  /// connection that relies on it fails with that reason instead of quietly
  /// trusting less than the host asked for.
  static std::shared_ptr<const TrustedCertificates> adding(const std::shared_ptr<const TrustedCertificates>& base,
                                                           const std::string& pemFile);

  /// Adds every authority to `store` (which keeps its own references).
  /// Returns why a file of the set was unusable, if one was.
  std::optional<std::string> addTo(X509_STORE* store) const;

  [[nodiscard]] bool empty() const noexcept { return files_.empty(); }

 private:
  struct File;
  static std::shared_ptr<const File> readFile(const std::string& path);
  std::vector<std::shared_ptr<const File>> files_;
};

}  // namespace orbisgrove::platform::http
