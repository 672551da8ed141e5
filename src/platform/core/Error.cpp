#include <orbisgrove/platform/Error.hpp>

#include <utility>

namespace orbisgrove::platform {

Error::Error(std::string domain, std::int64_t code, UserInfo userInfo, DeliveryFacts facts)
    : domain_(std::move(domain)), code_(code), userInfo_(std::move(userInfo)), facts_(facts) {}

std::shared_ptr<const Error> Error::make(std::string domain, std::int64_t code, UserInfo userInfo,
                                         DeliveryFacts facts) {
  return std::make_shared<const Error>(std::move(domain), code, std::move(userInfo), facts);
}

std::optional<std::string> Error::textForKey(std::string_view key) const {
  const auto entry = userInfo_.find(key);
  if (entry == userInfo_.end()) return std::nullopt;
  if (const auto* text = std::get_if<std::string>(&entry->second)) return *text;
  return std::nullopt;
}

std::optional<std::string> Error::localizedFailureReason() const {
  return textForKey(NSLocalizedFailureReasonErrorKey);
}

std::optional<std::string> Error::localizedRecoverySuggestion() const {
  return textForKey(NSLocalizedRecoverySuggestionErrorKey);
}

std::shared_ptr<const Error> Error::underlyingError() const {
  const auto entry = userInfo_.find(NSUnderlyingErrorKey);
  if (entry == userInfo_.end()) return nullptr;
  if (const auto* error = std::get_if<std::shared_ptr<const Error>>(&entry->second)) return *error;
  return nullptr;
}

std::string Error::description() const {
  std::string line = domain_ + " " + std::to_string(code_);
  if (const auto reason = localizedFailureReason()) line += ": " + *reason;
  return line;
}

}  // namespace orbisgrove::platform
