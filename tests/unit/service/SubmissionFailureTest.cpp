// What became of a submission, told by its error: never sent, rate-limited,
// refused, the service unavailable, or sent without a verdict; in C++ and C.

#include <orbisgrove/feedback.h>
#include <orbisgrove/service/OrbisgroveFeedbackErrorDomain.hpp>
#include <orbisgrove/service/OrbisgroveSubmissionFailure.hpp>

#include "ServiceReplies.hpp"
#include "kit/capi/Handles.hpp"

namespace orbisgrove::testing {
namespace {

using platform::Error;

using Failure = OrbisgroveSubmissionFailure;

std::shared_ptr<const Error> transport(platform::URLErrorCode code, std::optional<bool> reached = std::nullopt) {
  return Error::make(std::string(platform::URLErrorDomain), static_cast<std::int64_t>(code), {},
                     {.requestMayHaveReachedServer = reached, .httpStatusCode = std::nullopt});
}

TEST(SubmissionFailureTest, ClassifiesWhatTheKitAndHostsDeliverInCAndCxx) {
  using enum platform::URLErrorCode;
  const struct {
    const char* name;
    std::shared_ptr<const Error> error;
    Failure expected;
  } cases[] = {
      {"refused connection", transport(cannotConnectToHost, false), Failure::neverSent},
      {"timed out before sending", transport(timedOut, false), Failure::neverSent},
      {"connection lost after sending", transport(networkConnectionLost, true), Failure::noVerdict},
      {"cancelled after sending", transport(cancelled, true), Failure::noVerdict},
      {"host-built, host not found", transport(cannotFindHost), Failure::neverSent},
      {"host-built, timed out", transport(timedOut), Failure::noVerdict},
      {"wrapped by the reply routine", build({}, nullptr, transport(cannotConnectToHost, false)), Failure::neverSent},
      {"429 envelope", build(kMessage, http(429)), Failure::rateLimited},
      {"429 head, body cut short", build({}, http(429), transport(networkConnectionLost, true)), Failure::rateLimited},
      {"503 envelope", build(kMessage, http(503)), Failure::serviceUnavailable},
      {"400 envelope", build(kMessage, http(400)), Failure::refusedByService},
      {"200 envelope without 201", build(kMessage, http(200)), Failure::refusedByService},
      {"not the service's JSON", Error::make(std::string(platform::JSONCodingErrorDomain), 1), Failure::noVerdict},
      // A gateway's own page: a 429 or 503 was not processed; after any other
      // status the gateway may have passed the request on.
      {"gateway 429 page", failureOf(judgeReply("<html>429</html>", http(429), nullptr)), Failure::rateLimited},
      {"gateway 503 page", failureOf(judgeReply("<html>503</html>", http(503), nullptr)), Failure::serviceUnavailable},
      {"gateway 502 page", failureOf(judgeReply("<html>502</html>", http(502), nullptr)), Failure::noVerdict},
      {"503 head, body cut short", build({}, http(503), transport(networkConnectionLost, true)),
       Failure::serviceUnavailable},
      {"kit domain without a reply", Error::make(std::string(OrbisgroveFeedbackErrorDomain), -1), Failure::noVerdict},
  };
  // The C constants, by the C++ value they stand for.
  const orbisgrove_submission_failure inC[] = {
      ORBISGROVE_SUBMISSION_NEVER_SENT, ORBISGROVE_SUBMISSION_RATE_LIMITED, ORBISGROVE_SUBMISSION_SERVICE_UNAVAILABLE,
      ORBISGROVE_SUBMISSION_REFUSED_BY_SERVICE, ORBISGROVE_SUBMISSION_NO_VERDICT};
  for (const auto& c : cases) {
    EXPECT_EQ(classifySubmissionFailure(*c.error), c.expected) << c.name;
    auto* wrapped = new orbisgrove_error(c.error);
    EXPECT_EQ(orbisgrove_error_submission_failure(wrapped), inC[static_cast<int>(c.expected)]) << c.name;
    if (std::string_view(c.name).starts_with("gateway")) {
      // The decoder's error, with the reply's status beside it.
      EXPECT_EQ(c.error->domain(), platform::JSONCodingErrorDomain) << c.name;
      EXPECT_EQ(orbisgrove_error_http_status(wrapped), std::stoi(std::string(c.name).substr(8, 3))) << c.name;
    }
    orbisgrove_error_release(wrapped);
  }
}

}  // namespace
}  // namespace orbisgrove::testing
