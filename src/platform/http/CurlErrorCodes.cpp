#include "platform/http/CurlErrorCodes.hpp"

#include <openssl/x509_vfy.h>

namespace orbisgrove::platform::http {
namespace {

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

}  // namespace

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

}  // namespace orbisgrove::platform::http
