// libcurl's result codes as codes of the URL-loading domain.
#pragma once

#include <orbisgrove/platform/URLError.hpp>

#include <curl/curl.h>

namespace orbisgrove::platform::http {

/// The URL-loading code for a failed transfer. `verifyResult` is OpenSSL's
/// certificate verification result (CURLINFO_SSL_VERIFYRESULT), which tells
/// an expired certificate from an untrusted one.
URLErrorCode urlErrorCodeFor(CURLcode result, long verifyResult) noexcept;

}  // namespace orbisgrove::platform::http
