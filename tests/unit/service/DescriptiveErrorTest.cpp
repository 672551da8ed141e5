// What a failed reply reaches the host as: the envelope decides success, the
// reply (its rate-limit fields too) and the transport error make the error
// value, and the error tells what became of a submission (never sent,
// refused, or sent without a verdict).
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <utility>
#include <vector>

#include <orbisgrove/feedback.h>
#include <orbisgrove/platform/JSONCoding.hpp>
#include <orbisgrove/platform/URLError.hpp>
#include <orbisgrove/service/OrbisgroveFeedbackErrorDomain.hpp>
#include <orbisgrove/service/OrbisgroveSubmissionFailure.hpp>

#include "LocaleScope.hpp"
#include "kit/capi/Handles.hpp"
#include "platform/text/LocalizedText.hpp"
#include "service/OrbisgroveReportCategoriesAPIManager.hpp"
#include "service/RateLimit.hpp"
#include "service/ReplyRoutine.hpp"

namespace orbisgrove {
namespace {

using platform::Error;
using platform::NSLocalizedFailureReasonErrorKey;
using platform::NSLocalizedRecoverySuggestionErrorKey;

const platform::URL kURL = *platform::URL::fromString("https://127.0.0.1/explore-api/v1.2/");

std::shared_ptr<const platform::URLResponse> http(std::int64_t status, platform::HTTPHeaderFields fields = {}) {
  return std::make_shared<const platform::HTTPURLResponse>(kURL, status, std::move(fields));
}

std::shared_ptr<const platform::Error> failureOf(const ReplyVerdict& verdict) {
  const auto* error = std::get_if<std::shared_ptr<const platform::Error>>(&verdict);
  return error ? *error : nullptr;
}

TEST(JudgeReply, SuccessIsExactlyTheText201WhateverTheStatus) {
  const std::string body = R"({"response":"201","data":[]})";
  for (const std::int64_t status : {200, 201, 404, 500}) {
    const auto verdict = judgeReply(body, http(status), nullptr);
    ASSERT_TRUE(std::holds_alternative<std::string>(verdict)) << status;
    EXPECT_EQ(std::get<std::string>(verdict), body);
  }
  // The messages of the first detail only; without any, the default one.
  const std::string bad = R"({"response":"400","data":[{"error":["Bad latitude.","Bad key."]},{"error":["never"]}]})";
  for (const std::string& other : {bad, std::string(R"({"response":"200"})"), std::string(R"({"response":" 201"})"),
                                   std::string(R"({"response":"2010"})"), std::string(R"({})"),
                                   std::string(R"({"data":[]})"), std::string(R"({"data":[{"error":[]}]})")}) {
    const auto error = failureOf(judgeReply(other, http(200), nullptr));
    ASSERT_TRUE(error) << other;
    EXPECT_EQ(error->domain(), OrbisgroveFeedbackErrorDomain);
    EXPECT_EQ(error->localizedFailureReason(), other == bad ? "Bad latitude., Bad key." : kDefaultServiceMessage);
  }
  // Bodies that are not the envelopes give the coder's error.
  for (const char* other :
       {"", "<html>Bad gateway</html>", R"({"response":201})", R"({"response":"500","data":7})", "[]"}) {
    const auto error = failureOf(judgeReply(std::string(other), http(502), nullptr));
    ASSERT_TRUE(error) << other;
    EXPECT_EQ(error->domain(), platform::JSONCodingErrorDomain) << other;
  }
}

std::shared_ptr<const Error> build(const platform::UserInfo& fields,
                                   const std::shared_ptr<const platform::URLResponse>& reply,
                                   const std::shared_ptr<const Error>& underlying = nullptr) {
  return OrbisgroveReportCategoriesAPIManager::descriptiveError(fields, reply, underlying);
}

const platform::UserInfo kMessage{{"message", std::string("Latitude must be a number.")}};
const platform::HTTPHeaderFields kAllRateLimitFields{
    {"X-Rate-Limit-Limit", "1000"}, {"X-Rate-Limit-Interval", "3600"}, {"X-Rate-Limit-Reset", "1798761600"}};

std::shared_ptr<const Error> timedOut(platform::UserInfo info = {}) {
  info.emplace(std::string(platform::NSURLErrorFailingURLStringErrorKey), kURL.absoluteString());
  return Error::make(std::string(platform::URLErrorDomain), static_cast<std::int64_t>(platform::URLErrorCode::timedOut),
                     std::move(info));
}

class DescriptiveErrorTest : public ::testing::Test {
 protected:
  testing::LocaleScope locale{"en_US", "UTC"};
};

TEST_F(DescriptiveErrorTest, WithoutReplyOrTransportErrorIsTheBareKitError) {
  const auto error = build(kMessage, nullptr);
  EXPECT_EQ(error->domain(), OrbisgroveFeedbackErrorDomain);
  EXPECT_EQ(error->code(), -1);
  EXPECT_TRUE(error->userInfo().empty());

  // A reply of another protocol counts as none.
  const auto other = build(kMessage, std::make_shared<const platform::URLResponse>(kURL));
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
  EXPECT_EQ(error->textForKey(platform::NSURLErrorFailingURLStringErrorKey), kURL.absoluteString());
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

TEST(DescriptiveErrorLocale, GermanGroupsThousandsWithAPoint) {
  testing::LocaleScope locale("de_DE", "Europe/Berlin");
  const auto error = build({}, http(429, kAllRateLimitFields));
  const auto reason = error->localizedFailureReason();
  ASSERT_TRUE(reason);
  EXPECT_NE(reason->find("More than 1.000 requests"), std::string::npos) << *reason;
  EXPECT_NE(reason->find("1 Stunde"), std::string::npos) << *reason;
}

using Failure = OrbisgroveSubmissionFailure;

std::shared_ptr<const Error> transport(platform::URLErrorCode code, std::optional<bool> reached = std::nullopt) {
  return Error::make(std::string(platform::URLErrorDomain), static_cast<std::int64_t>(code), {},
                     {.requestMayHaveReachedServer = reached, .httpStatusCode = std::nullopt});
}

TEST_F(DescriptiveErrorTest, SubmissionFailureClassifiesWhatTheKitAndHostsDeliverInCAndCxx) {
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

platform::HTTPURLResponse replyWith(platform::HTTPHeaderFields fields) {
  return platform::HTTPURLResponse(kURL, 429, std::move(fields));
}

TEST(RateLimitCount, AcceptsDecimalDigitsWithOneSignAndMinusOnlyBeforeZeros) {
  for (const auto& [text, count] : std::vector<std::pair<const char*, std::uint64_t>>{
           {"1000", 1000}, {"+7", 7}, {"007", 7}, {"-0", 0}, {"-000", 0}, {"18446744073709551615", UINT64_MAX}}) {
    EXPECT_EQ(parseRateLimitCount(text), count) << text;
  }
  for (const char* text : {"", "+", "-", "-1", "18446744073709551616", "99999999999999999999999", " 5", "5 ", "1.0",
                           "1e3", "0x10", "5a", "+-5", "١٢"}) {
    EXPECT_FALSE(parseRateLimitCount(text)) << '"' << text << '"';
  }
}

TEST(RateLimitSeconds, AcceptsStrtodSyntaxOverTheWholeText) {
  const double inf = INFINITY;
  for (const auto& [text, seconds] : std::vector<std::pair<const char*, double>>{
           {"60", 60}, {"1.5e3", 1500}, {"+.5", 0.5}, {"0x1p4", 16}, {"-2", -2}, {"INF", inf}, {"-infinity", -inf}}) {
    EXPECT_EQ(parseRateLimitSeconds(text), seconds) << text;
  }
  EXPECT_TRUE(std::isnan(*parseRateLimitSeconds("nan")));
  for (const char* text : {"", " 60", "60 ", "6 0", "60\t", "\n60", "60s", "1,5", ".", "e5", "\xc2\xb5"}) {
    EXPECT_FALSE(parseRateLimitSeconds(text)) << '"' << text << '"';
  }
  EXPECT_FALSE(parseRateLimitSeconds(std::string_view("60\0", 3)));
}

TEST(RateLimitSeconds, IgnoresTheProcessLocale) {
  // Under a locale with a decimal comma, "1.5" must still read as 1.5.
  const std::string previous = std::setlocale(LC_NUMERIC, nullptr);
  if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8") && !std::setlocale(LC_NUMERIC, "fr_FR.UTF-8")) {
    GTEST_SKIP() << "no locale with a decimal comma installed";
  }
  EXPECT_EQ(parseRateLimitSeconds("1.5"), 1.5);
  EXPECT_FALSE(parseRateLimitSeconds("1,5"));
  std::setlocale(LC_NUMERIC, previous.c_str());
}

TEST(RateLimitHeaders, LookUpExactFieldNames) {
  const auto reply = replyWith(
      {{"X-Rate-Limit-Limit", "100"}, {"X-Rate-Limit-Interval", "3600"}, {"X-Rate-Limit-Reset", "1798761600.25"}});
  EXPECT_EQ(rateLimit(reply), 100u);
  EXPECT_EQ(rateLimitInterval(reply), 3600.0);
  ASSERT_TRUE(rateLimitResetTime(reply));
  EXPECT_EQ(rateLimitResetTime(reply)->secondsSince1970, 1798761600.25);

  const auto lowerCase =
      replyWith({{"x-rate-limit-limit", "100"}, {"x-rate-limit-interval", "3600"}, {"X-RATE-LIMIT-RESET", "0"}});
  EXPECT_FALSE(rateLimit(lowerCase));
  EXPECT_FALSE(rateLimitInterval(lowerCase));
  EXPECT_FALSE(rateLimitResetTime(lowerCase));

  const auto epoch = replyWith({{"X-Rate-Limit-Reset", "0"}});
  EXPECT_EQ(rateLimitResetTime(epoch)->secondsSince1970, 0.0);
}

}  // namespace
}  // namespace orbisgrove
