// Certificates for HTTPS services on the loopback interface, made fresh at
// start-up so that nothing in the repository can expire.
#pragma once

#include <string>
#include <vector>

namespace orbisgrove::tools {

struct LoopbackCertificates {
  /// PEM of the certificate authority a client must trust.
  std::string caCertificateFile;
  /// PEM of the server certificate (signed by that authority).
  std::string serverCertificateFile;
  /// PEM of the server's private key.
  std::string serverPrivateKeyFile;
};

/// Makes a new certificate authority and a server certificate signed by it
/// for `subjectAltNames` (DNS names and IP addresses, e.g. "localhost",
/// "127.0.0.1", "::1"), valid from one hour ago for 30 days, and writes the
/// three PEM files into `directory` (which must exist). Throws
/// std::runtime_error when OpenSSL or the file system fails.
LoopbackCertificates generateLoopbackCertificates(const std::string& directory,
                                                  const std::vector<std::string>& subjectAltNames = {
                                                      "localhost", "127.0.0.1", "::1"});

/// The pin of the public key of the certificate in `certificateFile` (PEM):
/// "sha256//" and the base64 text of the SHA-256 digest of its DER
/// SubjectPublicKeyInfo. Throws std::runtime_error when the file holds none.
std::string publicKeyPin(const std::string& certificateFile);

}  // namespace orbisgrove::tools
