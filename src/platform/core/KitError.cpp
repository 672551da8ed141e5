#include "platform/core/KitError.hpp"

#include <utility>

namespace orbisgrove::platform {

std::shared_ptr<const Error> kitError(std::string reason, DeliveryFacts facts) {
  return kitError(UserInfo{{std::string(NSLocalizedFailureReasonErrorKey), std::move(reason)}}, facts);
}

std::shared_ptr<const Error> kitError(UserInfo userInfo, DeliveryFacts facts) {
  return Error::make(std::string(detail::kitErrorDomain), detail::kitErrorCode, std::move(userInfo), facts);
}

}  // namespace orbisgrove::platform
