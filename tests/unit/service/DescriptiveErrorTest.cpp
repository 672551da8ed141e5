// What a failed reply reaches the host as: the reply (its rate-limit fields
// too) and the transport error make the error value, worded for the locale.

#include <orbisgrove/service/OrbisgroveFeedbackErrorDomain.hpp>

#include "LocaleScope.hpp"
#include "ServiceReplies.hpp"
#include "platform/text/StatusPhrases.hpp"

namespace orbisgrove::testing {
namespace {

using platform::Error;
using platform::NSLocalizedFailureReasonErrorKey;
using platform::NSLocalizedRecoverySuggestionErrorKey;

const platform::HTTPHeaderFields kAllRateLimitFields{
    {"X-Rate-Limit-Limit", "1000"}, {"X-Rate-Limit-Interval", "3600"}, {"X-Rate-Limit-Reset", "1798761600"}};

std::shared_ptr<const Error> timedOut(platform::UserInfo info = {}) {
  info.emplace(std::string(platform::NSURLErrorFailingURLStringErrorKey), kServiceURL.absoluteString());
  return Error::make(std::string(platform::URLErrorDomain), static_cast<std::int64_t>(platform::URLErrorCode::timedOut),
                     std::move(info));
}

class DescriptiveErrorTest : public ::testing::Test {
 protected:
  LocaleScope locale{"en_US", "UTC"};
};

// A transport error lends its domain, code and entries. The failure reason:
// the service's message, but for a 429, whose reason is its rate limit when
// both count and period came; else the transport error's own reason; else the
// phrase of its code, or of the reply's status. The reset time makes the
// suggestion.
TEST_F(DescriptiveErrorTest, ReplyAndTransportErrorMakeDomainReasonAndSuggestion) {
  const std::string wait = "Wait until January 1, 2027 at 12:00:00\u202fAM UTC before retrying.";
  const std::string period = " requests have been made with this access token within a period of ";
  const auto withReason = timedOut({{std::string(NSLocalizedFailureReasonErrorKey), std::string("took too long")}});
  const auto withSuggestion = timedOut({{std::string(NSLocalizedRecoverySuggestionErrorKey), std::string("Check.")}});
  const platform::UserInfo none;
  const struct {
    platform::UserInfo message;
    std::shared_ptr<const platform::URLResponse> reply;
    std::shared_ptr<const Error> transport;
    std::optional<std::string> reason, suggestion;
  } cases[] = {
      {kMessage, nullptr, nullptr, std::nullopt, std::nullopt},
      // A reply of another protocol counts as none.
      {kMessage, std::make_shared<const platform::URLResponse>(kServiceURL), nullptr, std::nullopt, std::nullopt},
      {none, nullptr, withSuggestion, std::nullopt, "Check."},
      {kMessage, http(200, kAllRateLimitFields), nullptr, "Latitude must be a number.", std::nullopt},
      {kMessage, http(400, kAllRateLimitFields), nullptr, "Latitude must be a number.", std::nullopt},
      {kMessage, http(404, kAllRateLimitFields), nullptr, "Latitude must be a number.", std::nullopt},
      {kMessage, http(500, kAllRateLimitFields), nullptr, "Latitude must be a number.", std::nullopt},
      {{{"message", std::string()}}, http(400), nullptr, "", std::nullopt},
      {none, http(404), nullptr, "not found", std::nullopt},
      {{{"message", std::int64_t{5}}}, http(500), nullptr, "internal server error", std::nullopt},
      {none, http(429), nullptr, "too many requests", std::nullopt},
      {kMessage, http(429, kAllRateLimitFields), nullptr, "More than 1,000" + period + "1 hour.", wait},
      {kMessage, http(429, {{"X-Rate-Limit-Limit", "5"}, {"X-Rate-Limit-Interval", "90"}}), nullptr,
       "More than 5" + period + "1 minute, 30 seconds.", std::nullopt},
      // No duration text can be made for NaN: the period is the number itself.
      {kMessage, http(429, {{"X-Rate-Limit-Limit", "5"}, {"X-Rate-Limit-Interval", "nan"}}), nullptr,
       "More than 5" + period + "nan seconds.", std::nullopt},
      {kMessage, http(429, {{"X-Rate-Limit-Reset", "1798761600"}}), nullptr, "too many requests", wait},
      {kMessage, http(429, {{"X-Rate-Limit-Interval", "60"}}), nullptr, "too many requests", std::nullopt},
      {kMessage, http(429, {{"X-Rate-Limit-Limit", "60"}}), nullptr, "too many requests", std::nullopt},
      {kMessage, http(429, {{"X-Rate-Limit-Limit", "-5"}, {"X-Rate-Limit-Interval", "60"}}), nullptr,
       "too many requests", std::nullopt},
      {kMessage, http(429), withReason, "took too long", std::nullopt},
      {kMessage, http(500), withReason, "Latitude must be a number.", std::nullopt},
      {none, http(429), timedOut(), platform::localizedStringForStatusCode(-1001), std::nullopt},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(i);
    const auto& c = cases[i];
    const auto error = build(c.message, c.reply, c.transport);
    EXPECT_EQ(error->domain(), c.transport ? platform::URLErrorDomain : OrbisgroveFeedbackErrorDomain);
    EXPECT_EQ(error->code(), c.transport ? -1001 : -1);
    EXPECT_EQ(error->localizedFailureReason(), c.reason);
    EXPECT_EQ(error->localizedRecoverySuggestion(), c.suggestion);
    EXPECT_EQ(error->userInfo().empty(), !c.transport && !c.reason && !c.suggestion);
    if (c.transport) {
      EXPECT_NE(error.get(), c.transport.get());
      EXPECT_EQ(error->underlyingError().get(), c.transport.get());
      EXPECT_EQ(error->textForKey(platform::NSURLErrorFailingURLStringErrorKey), kServiceURL.absoluteString());
    }
  }
}

TEST_F(DescriptiveErrorTest, GermanGroupsThousandsWithAPoint) {
#ifndef ORBISGROVE_WITH_ICU
  GTEST_SKIP() << "the built-in formatter writes English only";
#endif
  const LocaleScope german("de_DE", "Europe/Berlin");
  const auto error = build({}, http(429, kAllRateLimitFields));
  const auto reason = error->localizedFailureReason();
  ASSERT_TRUE(reason);
  EXPECT_NE(reason->find("More than 1.000 requests"), std::string::npos) << *reason;
  EXPECT_NE(reason->find("1 Stunde"), std::string::npos) << *reason;
}

}  // namespace
}  // namespace orbisgrove::testing
