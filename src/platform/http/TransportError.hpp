// Transport failures (of libcurl, or of a host's transport) as errors of the
// URL-loading domain.
#pragma once

#include <orbisgrove/platform/Error.hpp>
#include <orbisgrove/platform/URLError.hpp>

#if ORBISGROVE_WITH_CURL
#include <curl/curl.h>
#endif

#include <memory>
#include <string>
#include <string_view>

namespace orbisgrove::platform::http {

#if ORBISGROVE_WITH_CURL
/// The URL-loading code for a failed transfer. `verifyResult` is OpenSSL's
/// certificate verification result (CURLINFO_SSL_VERIFYRESULT), which tells
/// an expired certificate from an untrusted one.
URLErrorCode urlErrorCodeFor(CURLcode result, long verifyResult) noexcept;
#endif

/// An error of the URL-loading domain whose failure reason says in words
/// what failed, followed by `detail` (libcurl's own message) when there is
/// one, and which names the failing URL. `mayHaveReachedServer` is false only
/// when nothing of the request can have left the device.
std::shared_ptr<const Error> makeTransportError(URLErrorCode code, std::string_view detail,
                                                const std::string& failingURL, bool mayHaveReachedServer);

}  // namespace orbisgrove::platform::http
