// Errors kept in the outbox store: the text is the one stores have always
// held (so files written by earlier releases read the same), and every value
// reads back with its type, integral doubles included.
#include <gtest/gtest.h>

#include <limits>
#include <optional>

#include "platform/store/ErrorArchive.hpp"

namespace orbisgrove::testing {
namespace {

using platform::Error;
using platform::UserInfoValue;

TEST(ErrorArchiveTest, WritesEachValueAsBeforeAndReadsItBackWithItsType) {
  struct Case {
    UserInfoValue value;
    const char* written;
    std::optional<UserInfoValue> read{};  // when not the value itself
  };
  const Case cases[] = {
      {std::string("a\"b\\\n\x01\x7f\xC3\xA9"), "\"a\\\"b\\\\\\n\\u0001\x7f\xC3\xA9\""},
      {std::string("bad \xFF byte"), "\"bad \xEF\xBF\xBD byte\"", std::string("bad \xEF\xBF\xBD byte")},
      {std::int64_t{-9223372036854775807 - 1}, "-9223372036854775808"},
      {1.0, "1.0"},
      {-0.0, "-0.0"},
      {0.1, "0.1"},
      {123456789012345.0, "123456789012345.0"},
      {1e15, "1e+15"},
      {2.5e-4, "0.00025"},
      {1.5e-7, "1.5e-07"},
      {-1.7976931348623157e308, "-1.7976931348623157e+308"},
      {5e-324, "5e-324"},
  };
  for (const auto& [value, written, read] : cases) {
    const auto error = Error::make("d", 1, {{"k", value}});
    const std::string text = platform::archivedError(*error);
    EXPECT_EQ(text, std::string(R"({"code":1,"domain":"d","userInfo":{"k":)") + written + "}}");
    const auto again = platform::unarchivedError(text);
    ASSERT_TRUE(again) << text;
    EXPECT_EQ(again->userInfo().at("k"), read.value_or(value)) << text;
  }
}

TEST(ErrorArchiveTest, KeepsNestedErrorsAndDeliveryFactsAndRefusesOtherText) {
  const auto inner = Error::make("inner", 7, {{"nan", std::numeric_limits<double>::quiet_NaN()}});
  const auto outer =
      Error::make("outer", -2, {{"underlying", inner}, {"none", std::shared_ptr<const Error>()}}, {false, 429});
  const std::string text = platform::archivedError(*outer);
  EXPECT_EQ(text, R"({"code":-2,"domain":"outer","httpStatusCode":429,"mayHaveReachedServer":false,)"
                  R"("userInfo":{"underlying":{"error":{"code":7,"domain":"inner","userInfo":{"nan":null}}}}})");
  const auto read = platform::unarchivedError(text);
  ASSERT_TRUE(read);
  EXPECT_EQ(read->deliveryFacts().httpStatusCode, 429);
  EXPECT_EQ(read->deliveryFacts().requestMayHaveReachedServer, false);
  const auto& nested = std::get<std::shared_ptr<const Error>>(read->userInfo().at("underlying"));
  EXPECT_EQ(nested->domain(), "inner");
  EXPECT_TRUE(nested->userInfo().empty()) << "a value that is not a number is not kept";

  for (const char* other : {"", "{", "[]", R"({"code":1,"domain":2,"userInfo":{}})",
                            R"({"code":1,"domain":"d","userInfo":{"e":{"error":{}}}})"}) {
    EXPECT_FALSE(platform::unarchivedError(other)) << other;
  }
}

}  // namespace
}  // namespace orbisgrove::testing
