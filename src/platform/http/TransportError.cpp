#include "platform/http/TransportError.hpp"

namespace orbisgrove::platform::http {
namespace {

std::string_view wordsFor(URLErrorCode code) noexcept {
  switch (code) {
    case URLErrorCode::cancelled:
      return "The request was cancelled.";
    case URLErrorCode::badURL:
      return "The URL is not valid.";
    case URLErrorCode::timedOut:
      return "The request timed out.";
    case URLErrorCode::unsupportedURL:
      return "The URL is not supported: only https URLs can be loaded.";
    case URLErrorCode::cannotFindHost:
      return "A server with the specified host name could not be found.";
    case URLErrorCode::cannotConnectToHost:
      return "Could not connect to the server.";
    case URLErrorCode::networkConnectionLost:
      return "The network connection was lost before the whole reply arrived.";
    case URLErrorCode::httpTooManyRedirects:
      return "The server redirected too many times.";
    case URLErrorCode::badServerResponse:
      return "The server sent a reply that could not be understood.";
    case URLErrorCode::cannotDecodeContentData:
      return "The reply's content encoding could not be decoded.";
    case URLErrorCode::dataLengthExceedsMaximum:
      return "The reply is larger than the session accepts.";
    case URLErrorCode::secureConnectionFailed:
      return "A secure connection to the server could not be made.";
    case URLErrorCode::serverCertificateHasBadDate:
      return "The server's certificate has expired.";
    case URLErrorCode::serverCertificateUntrusted:
      return "The server's certificate is not trusted for this host.";
    case URLErrorCode::serverCertificateNotYetValid:
      return "The server's certificate is not yet valid.";
    case URLErrorCode::clientCertificateRequired:
      return "The server requires a client certificate.";
    case URLErrorCode::cannotLoadFromNetwork:
      return "The request could not be sent over the network.";
    default:
      return "The request failed.";
  }
}

}  // namespace

std::string bodyTooLargeDetail(std::size_t limit) { return "the body exceeds " + std::to_string(limit) + " bytes"; }

std::shared_ptr<const Error> makeTransportError(URLErrorCode code, std::string_view detail,
                                                const std::string& failingURL, bool mayHaveReachedServer) {
  std::string reason(wordsFor(code));
  if (!detail.empty()) {
    reason += " (";
    reason += detail;
    reason += ")";
  }
  UserInfo userInfo;
  userInfo.emplace(NSLocalizedFailureReasonErrorKey, std::move(reason));
  userInfo.emplace(NSURLErrorFailingURLStringErrorKey, failingURL);
  return Error::make(
      std::string(URLErrorDomain), static_cast<std::int64_t>(code), std::move(userInfo),
      DeliveryFacts{.requestMayHaveReachedServer = mayHaveReachedServer, .httpStatusCode = std::nullopt});
}

}  // namespace orbisgrove::platform::http
