#include "TestAuthorities.hpp"

#include <fstream>
#include <mutex>
#include <sstream>

namespace orbisgrove::testing {
namespace {

std::mutex authoritiesMutex;
std::string authorities;

tools::LoopbackCertificates remembered(tools::LoopbackCertificates certificates) {
  std::ostringstream pem;
  pem << std::ifstream(certificates.caCertificateFile).rdbuf();
  const std::lock_guard lock(authoritiesMutex);
  authorities += pem.str();
  return certificates;
}

}  // namespace

tools::LoopbackCertificates makeTestCertificates(const std::string& directory) {
  return remembered(tools::generateLoopbackCertificates(directory));
}

tools::LoopbackCertificates makeTestCertificates(const std::string& directory, const std::vector<std::string>& names) {
  return remembered(tools::generateLoopbackCertificates(directory, names));
}

std::string testAuthoritiesMade() {
  const std::lock_guard lock(authoritiesMutex);
  return authorities;
}

}  // namespace orbisgrove::testing
