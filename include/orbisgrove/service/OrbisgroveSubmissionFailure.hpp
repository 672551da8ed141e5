// What a failed submission's error value says about the report: whether it can
// be sent again without risking a second copy on the service.
#pragma once

#include <orbisgrove/Export.hpp>
#include <orbisgrove/platform/Error.hpp>

#include <string_view>

namespace orbisgrove {

/// The class of a failure delivered for a submission.
enum class OrbisgroveSubmissionFailure {
  /// Nothing of the request left the device (no network, host not found, no
  /// connection, TLS refused, cancelled before sending): sending it again
  /// cannot make a second copy.
  neverSent,
  /// The service answered 429: it did not store the report; send it again
  /// after its reset time.
  rateLimited,
  /// The service answered with its error envelope and a 5xx status: it did
  /// not store the report; send it again later.
  serviceUnavailable,
  /// The service refused the report with its error envelope (any other
  /// status): sending it again gets the same answer.
  refusedByService,
  /// The request may have reached the service but no verdict came back (the
  /// connection was lost or timed out after sending, or the reply was not the
  /// service's JSON): sending it again may make a second copy, so only the
  /// user should decide to.
  noVerdict,
};

/// Classifies an error value a submission delivered. Errors the kit did not
/// build fall back on their domain and code, and when those cannot rule out
/// that the report arrived, the answer is noVerdict.
ORBISGROVE_EXPORT OrbisgroveSubmissionFailure classifySubmissionFailure(const platform::Error& error);

/// The failure class's name: "neverSent", "rateLimited", ...
ORBISGROVE_EXPORT std::string_view submissionFailureName(OrbisgroveSubmissionFailure failure);

}  // namespace orbisgrove
