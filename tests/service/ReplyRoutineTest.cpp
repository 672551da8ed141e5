// Judging a service reply: the envelope decides, never the HTTP status.
#include <gtest/gtest.h>

#include <orbisgrove/platform/JSONCoding.hpp>
#include <orbisgrove/platform/URLError.hpp>
#include <orbisgrove/service/OrbisgroveFeedbackErrorDomain.hpp>

#include "service/ReplyRoutine.hpp"

namespace orbisgrove {
namespace {

const platform::URL kURL = *platform::URL::fromString("https://127.0.0.1/explore-api/v1.2/");

std::shared_ptr<const platform::URLResponse> http(std::int64_t status) {
  return std::make_shared<const platform::HTTPURLResponse>(kURL, status, platform::HTTPHeaderFields{});
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
  for (const char* other : {R"({"response":"200"})", R"({"response":" 201"})", R"({"response":"2010"})", R"({})"}) {
    const auto error = failureOf(judgeReply(other, http(200), nullptr));
    ASSERT_TRUE(error) << other;
    EXPECT_EQ(error->domain(), OrbisgroveFeedbackErrorDomain);
    EXPECT_EQ(error->localizedFailureReason(), kDefaultServiceMessage) << other;
  }
}

TEST(JudgeReply, MessagesComeFromTheFirstDetailOnly) {
  const auto error = failureOf(
      judgeReply(R"({"response":"400","data":[{"error":["Bad latitude.","Bad key."]},{"error":["never read"]}]})",
                 http(400), nullptr));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->localizedFailureReason(), "Bad latitude., Bad key.");
  EXPECT_EQ(failureOf(judgeReply(R"({"data":[]})", http(400), nullptr))->localizedFailureReason(),
            kDefaultServiceMessage);
  EXPECT_EQ(failureOf(judgeReply(R"({"data":[{"error":[]}]})", http(400), nullptr))->localizedFailureReason(),
            kDefaultServiceMessage);
}

TEST(JudgeReply, BodiesThatAreNotTheEnvelopesGiveTheCodersError) {
  for (const char* body :
       {"", "<html>Bad gateway</html>", R"({"response":201})", R"({"response":"500","data":7})", "[]"}) {
    const auto error = failureOf(judgeReply(std::string(body), http(502), nullptr));
    ASSERT_TRUE(error) << body;
    EXPECT_EQ(error->domain(), platform::JSONCodingErrorDomain) << body;
  }
}

}  // namespace
}  // namespace orbisgrove
