// Reason phrases of HTTP status codes. Our own table rather than a library's,
// so that the wording does not change with whatever HTTP stack is installed.
#include "platform/text/StatusPhrases.hpp"

namespace orbisgrove::platform {
namespace {

const char* registeredPhrase(std::int64_t statusCode) {
  switch (statusCode) {
    case 100:
      return "continue";
    case 101:
      return "switching protocols";
    case 102:
      return "processing";
    case 103:
      return "early hints";
    case 200:
      return "ok";
    case 201:
      return "created";
    case 202:
      return "accepted";
    case 203:
      return "non-authoritative information";
    case 204:
      return "no content";
    case 205:
      return "reset content";
    case 206:
      return "partial content";
    case 207:
      return "multi-status";
    case 208:
      return "already reported";
    case 226:
      return "im used";
    case 300:
      return "multiple choices";
    case 301:
      return "moved permanently";
    case 302:
      return "found";
    case 303:
      return "see other";
    case 304:
      return "not modified";
    case 305:
      return "use proxy";
    case 307:
      return "temporary redirect";
    case 308:
      return "permanent redirect";
    case 400:
      return "bad request";
    case 401:
      return "unauthorized";
    case 402:
      return "payment required";
    case 403:
      return "forbidden";
    case 404:
      return "not found";
    case 405:
      return "method not allowed";
    case 406:
      return "not acceptable";
    case 407:
      return "proxy authentication required";
    case 408:
      return "request timeout";
    case 409:
      return "conflict";
    case 410:
      return "gone";
    case 411:
      return "length required";
    case 412:
      return "precondition failed";
    case 413:
      return "content too large";
    case 414:
      return "uri too long";
    case 415:
      return "unsupported media type";
    case 416:
      return "range not satisfiable";
    case 417:
      return "expectation failed";
    case 421:
      return "misdirected request";
    case 422:
      return "unprocessable content";
    case 423:
      return "locked";
    case 424:
      return "failed dependency";
    case 425:
      return "too early";
    case 426:
      return "upgrade required";
    case 428:
      return "precondition required";
    case 429:
      return "too many requests";
    case 431:
      return "request header fields too large";
    case 451:
      return "unavailable for legal reasons";
    case 500:
      return "internal server error";
    case 501:
      return "not implemented";
    case 502:
      return "bad gateway";
    case 503:
      return "service unavailable";
    case 504:
      return "gateway timeout";
    case 505:
      return "http version not supported";
    case 506:
      return "variant also negotiates";
    case 507:
      return "insufficient storage";
    case 508:
      return "loop detected";
    case 510:
      return "not extended";
    case 511:
      return "network authentication required";
    default:
      return nullptr;
  }
}

}  // namespace

std::string localizedStringForStatusCode(std::int64_t statusCode) {
  if (const char* phrase = registeredPhrase(statusCode)) return phrase;
  // Unregistered codes still tell their class. Anything outside the five
  // classes (the kit asks for -1 when there is no underlying error) is no
  // HTTP status at all, so the phrase claims nothing about who failed.
  if (statusCode >= 100 && statusCode < 200) return "informational";
  if (statusCode >= 200 && statusCode < 300) return "success";
  if (statusCode >= 300 && statusCode < 400) return "redirected";
  if (statusCode >= 400 && statusCode < 500) return "client error";
  if (statusCode >= 500 && statusCode < 600) return "server error";
  return "unknown error";
}

}  // namespace orbisgrove::platform
