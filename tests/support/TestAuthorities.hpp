// Certificates for the local test services, gateways and listeners, with a
// record of every authority made: a host's transport in the tests, which the
// kit's addTrustedCertificates does not reach, trusts them all.
#pragma once

#include <loopback_tls/LoopbackCertificates.hpp>

#include <string>
#include <vector>

namespace orbisgrove::testing {

/// Loopback certificates in `directory` (see tools::generateLoopbackCertificates),
/// for the loopback names or for `names`, their authority remembered.
tools::LoopbackCertificates makeTestCertificates(const std::string& directory);
tools::LoopbackCertificates makeTestCertificates(const std::string& directory, const std::vector<std::string>& names);

/// The PEM text of every authority makeTestCertificates has made in this process.
std::string testAuthoritiesMade();

}  // namespace orbisgrove::testing
