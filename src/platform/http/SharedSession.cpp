// The process-wide session and the host's settings for it. The settings made
// before its first use are kept here and go into its configuration; later
// ones go to the session itself. The transport is chosen once, when the
// session is made: the host's if one is installed, else the kit's own.
#include <orbisgrove/platform/HTTPTransport.hpp>
#include <orbisgrove/platform/Settings.hpp>

#include "platform/http/DeliveryTimers.hpp"
#include "platform/http/SessionCore.hpp"
#include "platform/http/Sessions.hpp"

#include <algorithm>
#include <mutex>
#include <utility>

namespace orbisgrove::platform {
namespace http {
namespace {

struct SharedSessionSetup {
  std::mutex mutex;
  URLSession* session = nullptr;
  std::shared_ptr<const HTTPTransport> transport;
  URLSessionConfiguration configuration;
};

SharedSessionSetup& sharedSetup() {
  static auto* setup = new SharedSessionSetup;  // never destroyed: used while the process exits
  return *setup;
}

// "sha256//" and the base64 text of a 32-byte digest: 43 digits and one "=".
bool isPublicKeyPin(std::string_view pin) {
  constexpr std::string_view prefix = "sha256//";
  if (!pin.starts_with(prefix) || pin.size() != prefix.size() + 44 || pin.back() != '=') return false;
  const auto digits = pin.substr(prefix.size(), 43);
  return std::all_of(digits.begin(), digits.end(), [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
  });
}

std::shared_ptr<const Error> kitError(std::string reason) {
  return Error::make("OrbisgroveFeedbackErrorDomain", -1,
                     {{std::string(NSLocalizedFailureReasonErrorKey), std::move(reason)}});
}

}  // namespace

}  // namespace http

URLSession& URLSession::shared() {
  // Never destroyed: completions may still be arriving while the process exits.
  static URLSession* const session = [] {
    auto& setup = http::sharedSetup();
    const std::lock_guard lock(setup.mutex);
    auto backend = setup.transport ? http::makeHostTransportBackend(setup.transport)
                                   : http::makeBuiltInBackend(nullptr, setup.configuration);
    setup.session = http::makeSession(std::move(backend), setup.configuration).release();
    return setup.session;
  }();
  return *session;
}

std::unique_ptr<URLSession> URLSession::make(URLSessionConfiguration configuration) {
  std::shared_ptr<const HTTPTransport> installed;
  {
    auto& setup = http::sharedSetup();
    const std::lock_guard lock(setup.mutex);
    installed = setup.transport;
  }
  auto backend = http::makeBuiltInBackend(std::move(installed), configuration);
  return http::makeSession(std::move(backend), std::move(configuration));
}

DeliveryTimers& sharedDeliveryTimers() { return http::coreOf(URLSession::shared()); }

std::shared_ptr<const Error> installHTTPTransport(HTTPTransport transport) {
  if (!transport.start) return http::kitError("The HTTPS transport has no start function.");
  auto& setup = http::sharedSetup();
  const std::lock_guard lock(setup.mutex);
  if (setup.session != nullptr) {
    return http::kitError(
        "The HTTPS transport cannot change any more: the kit's session has been used already. Install the transport "
        "before the first request and before the outbox is first used.");
  }
  setup.transport = std::make_shared<const HTTPTransport>(std::move(transport));
  return nullptr;
}

void addTrustedCertificates(std::string pemFile) {
  auto& setup = http::sharedSetup();
  const std::lock_guard lock(setup.mutex);
  if (setup.session != nullptr) {
    setup.session->addTrustedCertificates(std::move(pemFile));
  } else {
    setup.configuration.additionalTrustedCertificateFiles.push_back(std::move(pemFile));
  }
}

void setProxy(std::optional<std::string> proxyURL) {
  auto& setup = http::sharedSetup();
  const std::lock_guard lock(setup.mutex);
  if (setup.session != nullptr) {
    setup.session->setProxy(std::move(proxyURL));
  } else {
    setup.configuration.proxy = std::move(proxyURL);
  }
}

bool setPinnedPublicKeys(std::vector<std::string> pins) {
  if (!std::all_of(pins.begin(), pins.end(), [](const std::string& pin) { return http::isPublicKeyPin(pin); })) {
    return false;
  }
  auto& setup = http::sharedSetup();
  const std::lock_guard lock(setup.mutex);
  if (setup.session != nullptr) {
    setup.session->setPinnedPublicKeys(std::move(pins));
  } else {
    setup.configuration.pinnedPublicKeys = std::move(pins);
  }
  return true;
}

}  // namespace orbisgrove::platform
