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

TEST_F(DescriptiveErrorTest, WithoutReplyOrTransportErrorIsTheBareKitError) {
  const auto error = build(kMessage, nullptr);
  EXPECT_EQ(error->domain(), OrbisgroveFeedbackErrorDomain);
  EXPECT_EQ(error->code(), -1);
  EXPECT_TRUE(error->userInfo().empty());

  // A reply of another protocol counts as none.
  const auto other = build(kMessage, std::make_shared<const platform::URLResponse>(kServiceURL));
  EXPECT_TRUE(other->userInfo().empty());
}

TEST_F(DescriptiveErrorTest, TransportErrorLendsDomainCodeAndEntries) {
  const auto transport = timedOut({{std::string(NSLocalizedRecoverySuggestionErrorKey), std::string("Check.")}});
  const auto error = build({}, nullptr, transport);
  EXPECT_NE(error.get(), transport.get());
  EXPECT_EQ(error->domain(), platform::URLErrorDomain);
  EXPECT_EQ(error->code(), -1001);
  EXPECT_EQ(error->underlyingError().get(), transport.get());
  EXPECT_EQ(error->localizedRecoverySuggestion(), "Check.");
  EXPECT_EQ(error->textForKey(platform::NSURLErrorFailingURLStringErrorKey), kServiceURL.absoluteString());
  EXPECT_FALSE(error->localizedFailureReason());
}

TEST_F(DescriptiveErrorTest, ServiceMessageIsTheFailureReasonForEveryStatusButTooManyRequests) {
  for (const std::int64_t status : {200, 400, 404, 500}) {
    const auto error = build(kMessage, http(status, kAllRateLimitFields));
    EXPECT_EQ(error->domain(), OrbisgroveFeedbackErrorDomain);
    EXPECT_EQ(error->code(), -1);
    EXPECT_EQ(error->localizedFailureReason(), "Latitude must be a number.") << status;
    EXPECT_FALSE(error->localizedRecoverySuggestion()) << status;
  }
  EXPECT_EQ(build({{"message", std::string()}}, http(400))->localizedFailureReason(), "");
}

TEST_F(DescriptiveErrorTest, WithoutMessageTheReplysOwnStatusExplainsTheFailure) {
  EXPECT_EQ(build({}, http(404))->localizedFailureReason(), "not found");
  EXPECT_EQ(build({{"message", std::int64_t{5}}}, http(500))->localizedFailureReason(), "internal server error");
  EXPECT_EQ(build({}, http(429))->localizedFailureReason(), "too many requests");
}

TEST_F(DescriptiveErrorTest, RateLimitRefusalNeedsBothCountAndPeriod) {
  const std::string wait = "Wait until January 1, 2027 at 12:00:00\u202fAM UTC before retrying.";
  struct Case {
    platform::HTTPHeaderFields fields;
    std::string reason;
    std::optional<std::string> suggestion;
  };
  const std::vector<Case> cases = {
      {kAllRateLimitFields, "More than 1,000 requests have been made with this access token within a period of 1 hour.",
       wait},
      {{{"X-Rate-Limit-Limit", "5"}, {"X-Rate-Limit-Interval", "90"}},
       "More than 5 requests have been made with this access token within a period of 1 minute, 30 seconds.",
       std::nullopt},
      // No duration text can be made for NaN: the period is the number itself.
      {{{"X-Rate-Limit-Limit", "5"}, {"X-Rate-Limit-Interval", "nan"}},
       "More than 5 requests have been made with this access token within a period of nan seconds.",
       std::nullopt},
      {{{"X-Rate-Limit-Reset", "1798761600"}}, "too many requests", wait},
      {{{"X-Rate-Limit-Interval", "60"}}, "too many requests", std::nullopt},
      {{{"X-Rate-Limit-Limit", "60"}}, "too many requests", std::nullopt},
      {{{"X-Rate-Limit-Limit", "-5"}, {"X-Rate-Limit-Interval", "60"}}, "too many requests", std::nullopt},
  };
  for (const Case& c : cases) {
    const auto error = build(kMessage, http(429, c.fields));
    EXPECT_EQ(error->domain(), OrbisgroveFeedbackErrorDomain);
    EXPECT_EQ(error->localizedFailureReason(), c.reason);
    EXPECT_EQ(error->localizedRecoverySuggestion(), c.suggestion) << c.reason;
  }
}

TEST_F(DescriptiveErrorTest, TransportErrorsOwnReasonStandsWhereTheRulesGiveNone) {
  const auto withReason = timedOut({{std::string(NSLocalizedFailureReasonErrorKey), std::string("took too long")}});
  EXPECT_EQ(build(kMessage, http(429), withReason)->localizedFailureReason(), "took too long");
  EXPECT_EQ(build(kMessage, http(500), withReason)->localizedFailureReason(), "Latitude must be a number.");

  // Without a reason of its own, the phrase follows the transport error's code.
  const auto error = build({}, http(429), timedOut());
  EXPECT_EQ(error->domain(), platform::URLErrorDomain);
  EXPECT_EQ(error->localizedFailureReason(), platform::localizedStringForStatusCode(-1001));
  EXPECT_EQ(error->underlyingError()->code(), -1001);
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
