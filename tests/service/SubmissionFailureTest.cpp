// What a failed submission's error says about the report: never sent, refused
// (for now or for good), or sent without a verdict; the same in C.
#include <gtest/gtest.h>

#include <orbisgrove/feedback.h>
#include <orbisgrove/platform/JSONCoding.hpp>
#include <orbisgrove/platform/URLError.hpp>
#include <orbisgrove/service/OrbisgroveFeedbackErrorDomain.hpp>
#include <orbisgrove/service/OrbisgroveSubmissionFailure.hpp>

#include "LocaleScope.hpp"
#include "kit/capi/Handles.hpp"
#include "service/OrbisgroveReportCategoriesAPIManager.hpp"

namespace orbisgrove {
namespace {

using Failure = OrbisgroveSubmissionFailure;
using platform::Error;

const platform::URL kURL = *platform::URL::fromString("https://127.0.0.1/explore-api/v1.2/");

std::shared_ptr<const Error> transport(platform::URLErrorCode code, std::optional<bool> reached = std::nullopt) {
  return Error::make(std::string(platform::URLErrorDomain), static_cast<std::int64_t>(code), {},
                     {.requestMayHaveReachedServer = reached, .httpStatusCode = std::nullopt});
}

// The error the reply routine builds from a reply (or none) and a transport error.
std::shared_ptr<const Error> judged(std::optional<std::int64_t> status, std::shared_ptr<const Error> underlying,
                                    bool withMessage = true) {
  const platform::UserInfo message{{"message", std::string("Refused.")}};
  std::shared_ptr<const platform::URLResponse> reply;
  if (status) reply = std::make_shared<const platform::HTTPURLResponse>(kURL, *status, platform::HTTPHeaderFields{});
  return OrbisgroveReportCategoriesAPIManager::descriptiveError(withMessage ? message : platform::UserInfo{}, reply,
                                                                std::move(underlying));
}

TEST(SubmissionFailure, ClassifiesWhatTheKitAndHostsDeliverInCAndCxx) {
  const testing::LocaleScope locale{"en_US", "UTC"};
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
      {"wrapped by the reply routine", judged(std::nullopt, transport(cannotConnectToHost, false), false),
       Failure::neverSent},
      {"429 envelope", judged(429, nullptr), Failure::rateLimited},
      {"429 head, body cut short", judged(429, transport(networkConnectionLost, true), false), Failure::rateLimited},
      {"503 envelope", judged(503, nullptr), Failure::serviceUnavailable},
      {"400 envelope", judged(400, nullptr), Failure::refusedByService},
      {"200 envelope without 201", judged(200, nullptr), Failure::refusedByService},
      {"not the service's JSON", Error::make(std::string(platform::JSONCodingErrorDomain), 1), Failure::noVerdict},
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
    orbisgrove_error_release(wrapped);
  }
}

}  // namespace
}  // namespace orbisgrove
