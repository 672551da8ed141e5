// Transport failures of the platform session: the URL-loading error domain.
#pragma once

#include <cstdint>
#include <string_view>

namespace orbisgrove::platform {

/// Domain of transport failures (no reply, or no usable reply, from the server).
inline constexpr std::string_view URLErrorDomain = "NSURLErrorDomain";

/// Codes of the URL-loading domain, with the values hosts know them by.
enum class URLErrorCode : std::int64_t {
  unknown = -1,
  cancelled = -999,
  badURL = -1000,
  timedOut = -1001,
  unsupportedURL = -1002,
  cannotFindHost = -1003,
  cannotConnectToHost = -1004,
  networkConnectionLost = -1005,
  dnsLookupFailed = -1006,
  httpTooManyRedirects = -1007,
  resourceUnavailable = -1008,
  notConnectedToInternet = -1009,
  badServerResponse = -1011,
  cannotDecodeRawData = -1015,
  cannotDecodeContentData = -1016,
  cannotParseResponse = -1017,
  dataLengthExceedsMaximum = -1103,
  secureConnectionFailed = -1200,
  serverCertificateHasBadDate = -1201,
  serverCertificateUntrusted = -1202,
  serverCertificateHasUnknownRoot = -1203,
  serverCertificateNotYetValid = -1204,
  clientCertificateRejected = -1205,
  clientCertificateRequired = -1206,
  cannotLoadFromNetwork = -2000,
};

/// User-information key of the URL that failed, as text.
inline constexpr std::string_view NSURLErrorFailingURLStringErrorKey = "NSErrorFailingURLStringKey";

}  // namespace orbisgrove::platform
