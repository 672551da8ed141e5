// Transport failures (of libcurl, or of a host's transport) as errors of the
// URL-loading domain.
#pragma once

#include <orbisgrove/platform/Error.hpp>
#include <orbisgrove/platform/URLError.hpp>

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace orbisgrove::platform::http {

/// An error of the URL-loading domain whose failure reason says in words
/// what failed, followed by `detail` (libcurl's own message) when there is
/// one, and which names the failing URL. `mayHaveReachedServer` is false only
/// when nothing of the request can have left the device.
std::shared_ptr<const Error> makeTransportError(URLErrorCode code, std::string_view detail,
                                                const std::string& failingURL, bool mayHaveReachedServer);

/// The detail of a reply whose body is larger than `limit` bytes.
std::string bodyTooLargeDetail(std::size_t limit);

}  // namespace orbisgrove::platform::http
