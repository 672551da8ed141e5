#include "platform/http/TransportError.hpp"

#if ORBISGROVE_WITH_CURL
#include <openssl/x509_vfy.h>
#endif

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

#if ORBISGROVE_WITH_CURL
URLErrorCode certificateCode(long verifyResult) noexcept {
  switch (verifyResult) {
    case X509_V_ERR_CERT_HAS_EXPIRED:
      return URLErrorCode::serverCertificateHasBadDate;
    case X509_V_ERR_CERT_NOT_YET_VALID:
      return URLErrorCode::serverCertificateNotYetValid;
    default:
      return URLErrorCode::serverCertificateUntrusted;
  }
}
#endif

}  // namespace

#if ORBISGROVE_WITH_CURL

URLErrorCode urlErrorCodeFor(CURLcode result, long verifyResult) noexcept {
  switch (result) {
    case CURLE_UNSUPPORTED_PROTOCOL:
      return URLErrorCode::unsupportedURL;
    case CURLE_URL_MALFORMAT:
      return URLErrorCode::badURL;
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST:
      return URLErrorCode::cannotFindHost;
    case CURLE_COULDNT_CONNECT:
    case CURLE_PROXY:
    case CURLE_QUIC_CONNECT_ERROR:
      return URLErrorCode::cannotConnectToHost;
    case CURLE_WEIRD_SERVER_REPLY:
      return URLErrorCode::badServerResponse;
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
    case CURLE_HTTP3:
    case CURLE_PARTIAL_FILE:
    case CURLE_GOT_NOTHING:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_AGAIN:
    case CURLE_SEND_FAIL_REWIND:
      return URLErrorCode::networkConnectionLost;
    case CURLE_OPERATION_TIMEDOUT:
      return URLErrorCode::timedOut;
    case CURLE_TOO_MANY_REDIRECTS:
      return URLErrorCode::httpTooManyRedirects;
    case CURLE_BAD_CONTENT_ENCODING:
      return URLErrorCode::cannotDecodeContentData;
    case CURLE_FILESIZE_EXCEEDED:
      return URLErrorCode::dataLengthExceedsMaximum;
    case CURLE_PEER_FAILED_VERIFICATION:
      return certificateCode(verifyResult);
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
      return URLErrorCode::serverCertificateUntrusted;
    case CURLE_SSL_CLIENTCERT:
      return URLErrorCode::clientCertificateRequired;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_USE_SSL_FAILED:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_SSL_CRL_BADFILE:
      return URLErrorCode::secureConnectionFailed;
    default:
      return URLErrorCode::unknown;
  }
}
#endif

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
