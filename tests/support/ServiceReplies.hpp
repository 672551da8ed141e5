// Replies and errors as the service clients see them, for their unit tests.
#pragma once

#include "TestPrelude.hpp"

#include <orbisgrove/platform/URLError.hpp>

#include "service/OrbisgroveReportCategoriesAPIManager.hpp"
#include "service/ReplyRoutine.hpp"

namespace orbisgrove::testing {

inline const platform::URL kServiceURL = *platform::URL::fromString("https://127.0.0.1/explore-api/v1.2/");

/// An HTTP reply from the service's URL.
inline std::shared_ptr<const platform::URLResponse> http(std::int64_t status, platform::HTTPHeaderFields fields = {}) {
  return std::make_shared<const platform::HTTPURLResponse>(kServiceURL, status, std::move(fields));
}

/// The error of a reply's verdict; null for a success.
inline std::shared_ptr<const platform::Error> failureOf(const ReplyVerdict& verdict) {
  const auto* error = std::get_if<std::shared_ptr<const platform::Error>>(&verdict);
  return error ? *error : nullptr;
}

/// The clients' error for an error envelope's `fields`, the reply and the transport's error.
inline std::shared_ptr<const platform::Error> build(
    const platform::UserInfo& fields, const std::shared_ptr<const platform::URLResponse>& reply,
    const std::shared_ptr<const platform::Error>& underlying = nullptr) {
  return OrbisgroveReportCategoriesAPIManager::descriptiveError(fields, reply, underlying);
}

inline const platform::UserInfo kMessage{{"message", std::string("Latitude must be a number.")}};

}  // namespace orbisgrove::testing
