#include <orbisgrove/platform/URLError.hpp>
#include <orbisgrove/service/OrbisgroveFeedbackErrorDomain.hpp>
#include <orbisgrove/service/OrbisgroveSubmissionFailure.hpp>

namespace orbisgrove {
namespace {

using platform::URLErrorCode;

// Transport failures that end before any byte of the request is written.
bool failsBeforeSending(std::int64_t code) noexcept {
  switch (static_cast<URLErrorCode>(code)) {
    case URLErrorCode::badURL:
    case URLErrorCode::unsupportedURL:
    case URLErrorCode::cannotFindHost:
    case URLErrorCode::cannotConnectToHost:
    case URLErrorCode::dnsLookupFailed:
    case URLErrorCode::notConnectedToInternet:
    case URLErrorCode::secureConnectionFailed:
    case URLErrorCode::serverCertificateHasBadDate:
    case URLErrorCode::serverCertificateUntrusted:
    case URLErrorCode::serverCertificateHasUnknownRoot:
    case URLErrorCode::serverCertificateNotYetValid:
    case URLErrorCode::clientCertificateRejected:
    case URLErrorCode::clientCertificateRequired:
    case URLErrorCode::cannotLoadFromNetwork:
      return true;
    default:
      return false;
  }
}

// The first fact of its kind along the chain of underlying errors: a wrapping
// error copies what it knows from the one it wraps, a host's may not.
template <class Fact>
auto firstFact(const platform::Error& error, Fact fact) {
  const platform::Error* current = &error;
  std::shared_ptr<const platform::Error> keep;
  for (int depth = 0; current != nullptr && depth < 16; ++depth) {
    if (auto value = fact(current->deliveryFacts())) return value;
    keep = current->underlyingError();
    current = keep.get();
  }
  return decltype(fact(error.deliveryFacts())){};
}

}  // namespace

OrbisgroveSubmissionFailure classifySubmissionFailure(const platform::Error& error) {
  const auto status = firstFact(error, [](const platform::DeliveryFacts& f) { return f.httpStatusCode; });
  if (error.domain() == OrbisgroveFeedbackErrorDomain && status) {
    // The service's own error envelope: its verdict.
    if (*status == 429) return OrbisgroveSubmissionFailure::rateLimited;
    if (*status >= 500 && *status <= 599) return OrbisgroveSubmissionFailure::serviceUnavailable;
    return OrbisgroveSubmissionFailure::refusedByService;
  }
  // A 429 or 503 that is not the service's success: a gateway's page, or a
  // body cut short, says the request was not processed (RFC 6585, RFC 9110).
  // Any other status from a gateway may have passed the request on.
  if (status && *status == 429) return OrbisgroveSubmissionFailure::rateLimited;
  if (status && *status == 503) return OrbisgroveSubmissionFailure::serviceUnavailable;
  if (error.domain() == platform::URLErrorDomain) {
    const auto reached =
        firstFact(error, [](const platform::DeliveryFacts& f) { return f.requestMayHaveReachedServer; });
    if (reached) return *reached ? OrbisgroveSubmissionFailure::noVerdict : OrbisgroveSubmissionFailure::neverSent;
    if (!status && failsBeforeSending(error.code())) return OrbisgroveSubmissionFailure::neverSent;
  }
  // A reply that is not the service's JSON, or anything else: the report may
  // be stored.
  return OrbisgroveSubmissionFailure::noVerdict;
}

std::string_view submissionFailureName(OrbisgroveSubmissionFailure failure) {
  switch (failure) {
    case OrbisgroveSubmissionFailure::neverSent:
      return "neverSent";
    case OrbisgroveSubmissionFailure::rateLimited:
      return "rateLimited";
    case OrbisgroveSubmissionFailure::serviceUnavailable:
      return "serviceUnavailable";
    case OrbisgroveSubmissionFailure::refusedByService:
      return "refusedByService";
    case OrbisgroveSubmissionFailure::noVerdict:
      break;
  }
  return "noVerdict";
}

}  // namespace orbisgrove
