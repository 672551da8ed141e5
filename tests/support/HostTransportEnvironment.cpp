// In a build without the kit's own libcurl session, every request of a test
// program goes through a host's transport installed before the first test:
// the examples' C transport, trusting the authority of every local test
// service, gateway and listener (the kit's addTrustedCertificates does not
// reach a host's transport).
#include <TestAuthorities.hpp>

#include <gtest/gtest.h>

#include "transport.h"

namespace {

void trustTestServices(void* /*context*/, CURL* easy) {
  const std::string pem = orbisgrove::testing::testAuthoritiesMade();
  if (pem.empty()) return;
  curl_blob blob{const_cast<char*>(pem.data()), pem.size(), CURL_BLOB_COPY};
  curl_easy_setopt(easy, CURLOPT_CAINFO_BLOB, &blob);
}

class HostTransportEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    // As many requests at once as the kit's own session has connections to
    // a host: tests hold six stalled and queue the next behind them.
    example_transport* transport = example_transport_start(6, nullptr, trustTestServices, nullptr);
    ASSERT_NE(transport, nullptr);
    orbisgrove_error* error = nullptr;
    ASSERT_EQ(example_transport_install(transport, &error), ORBISGROVE_OK) << orbisgrove_error_description(error);
  }
};

// gtest owns the environment.
[[maybe_unused]] const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new HostTransportEnvironment);

}  // namespace
