// The host's network settings: those made before the shared session's first
// use go into its configuration, later ones to the session itself.
#include <orbisgrove/platform/Settings.hpp>

#include "platform/http/SharedSessionSetup.hpp"

#include <algorithm>
#include <string_view>
#include <utility>

namespace orbisgrove::platform {
namespace {

// "sha256//" and the base64 text of a 32-byte digest: 43 digits and one "=".
bool isPublicKeyPin(std::string_view pin) {
  constexpr std::string_view prefix = "sha256//";
  if (!pin.starts_with(prefix) || pin.size() != prefix.size() + 44 || pin.back() != '=') return false;
  const auto digits = pin.substr(prefix.size(), 43);
  return std::all_of(digits.begin(), digits.end(), [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
  });
}

}  // namespace

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
  if (!std::all_of(pins.begin(), pins.end(), [](const std::string& pin) { return isPublicKeyPin(pin); })) {
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
