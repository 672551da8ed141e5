// Error values kept in the store as JSON text and read back.
#pragma once

#include <orbisgrove/platform/Error.hpp>

#include <memory>
#include <string>

namespace orbisgrove::platform {

/// The error as JSON: domain, code, user information (nested errors too) and
/// the delivery facts.
std::string archivedError(const Error& error);
/// The error again; null for text that is not such an archive.
std::shared_ptr<const Error> unarchivedError(const std::string& text);

}  // namespace orbisgrove::platform
