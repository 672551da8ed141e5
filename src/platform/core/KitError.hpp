// Error values of the kit's own domain, built in one place for every layer.
#pragma once

#include <orbisgrove/platform/Error.hpp>

#include <memory>
#include <string>

namespace orbisgrove::platform {

/// An error of the kit's domain (code -1) whose failure reason is `reason`.
std::shared_ptr<const Error> kitError(std::string reason, DeliveryFacts facts = {});
/// An error of the kit's domain (code -1) with the given user information.
std::shared_ptr<const Error> kitError(UserInfo userInfo, DeliveryFacts facts = {});

}  // namespace orbisgrove::platform
