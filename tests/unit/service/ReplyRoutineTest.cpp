// The reply routine's verdict: the envelope decides success, whatever the
// status; an error envelope gives the kit's error, any other body the coder's.

#include <orbisgrove/service/OrbisgroveFeedbackErrorDomain.hpp>

#include "ServiceReplies.hpp"

namespace orbisgrove::testing {
namespace {

TEST(ReplyRoutineTest, SuccessIsExactlyTheText201WhateverTheStatus) {
  const std::string body = R"({"response":"201","data":[]})";
  for (const std::int64_t status : {200, 201, 404, 500}) {
    const auto verdict = judgeReply(body, http(status), nullptr);
    ASSERT_TRUE(std::holds_alternative<std::string>(verdict)) << status;
    EXPECT_EQ(std::get<std::string>(verdict), body);
  }
  // The messages of the first detail only; without any, the default one.
  const std::string bad = R"({"response":"400","data":[{"error":["Bad latitude.","Bad key."]},{"error":["never"]}]})";
  for (const std::string& other :
       {bad, std::string(R"({"response":"200"})"), std::string(R"({"response":" 201"})"),
        std::string(R"({"response":"2010"})"), std::string(R"({})"), std::string(R"({"data":[]})"),
        std::string(R"({"data":[{"error":[]}]})"), std::string(R"({"data":[{},{"error":["later"]}]})")}) {
    const auto error = failureOf(judgeReply(other, http(200), nullptr));
    ASSERT_TRUE(error) << other;
    EXPECT_EQ(error->domain(), OrbisgroveFeedbackErrorDomain);
    EXPECT_EQ(error->localizedFailureReason(), other == bad ? "Bad latitude., Bad key." : kDefaultServiceMessage);
  }
  // Bodies that are not the envelopes give the coder's error.
  using enum platform::JSONCodingErrorCode;
  for (const auto& [other, code] : std::vector<std::pair<const char*, platform::JSONCodingErrorCode>>{
           {"", dataCorrupted},
           {"<html>Bad gateway</html>", dataCorrupted},
           {R"({"response":201})", typeMismatch},
           {R"({"response":"500","data":7})", typeMismatch},
           {R"({"data":[{"error":["a",1]}]})", typeMismatch},
           {R"({"data":[null]})", valueNotFound},
           {"[]", typeMismatch}}) {
    const auto error = failureOf(judgeReply(std::string(other), http(502), nullptr));
    ASSERT_TRUE(error) << other;
    EXPECT_EQ(error->domain(), platform::JSONCodingErrorDomain) << other;
    EXPECT_EQ(error->code(), static_cast<std::int64_t>(code)) << other;
  }
}

}  // namespace
}  // namespace orbisgrove::testing
