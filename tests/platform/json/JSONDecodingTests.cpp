#include "JSONCodingTestSupport.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orbisgrove::platform {
namespace {

using testing::createdOf;
using testing::Entry;
using testing::expectCodingError;
using ::testing::HasSubstr;
using testing::Page;
using testing::reasonOf;

Page decodePage(std::string_view json) { return JSONDecoder().decode<Page>(json); }

std::int64_t decodeCreated(const std::string& literal) {
  const Page page = decodePage(R"({"data":[{"created":)" + literal + "}]}");
  return createdOf(*page.data->at(0));
}

TEST(JSONDecoding, ReadsRecordsIgnoringUnknownKeysAndKeyOrder) {
  const Page page = decodePage(R"({
    "extra": {"deep": [1, 2, {"x": null}]},
    "data": [
      {"created": 42, "title": "Road closed", "tags": ["a", "b"], "unused": true},
      {"title": "", "tags": []},
      {"Title": "wrong case", "CREATED": 1, "title": "first", "title": "last"}
    ],
    "response": "201"
  })");
  EXPECT_EQ(page.response, "201");
  ASSERT_EQ(page.data->size(), 3U);
  const Entry& first = *page.data->at(0);
  EXPECT_EQ(first.title, "Road closed");
  EXPECT_EQ(createdOf(first), 42);
  EXPECT_EQ(first.tags, (std::vector<std::string>{"a", "b"}));
  // The empty text and the empty list are present values.
  const Entry& second = *page.data->at(1);
  EXPECT_EQ(second.title, std::optional<std::string>(""));
  EXPECT_EQ(second.tags, std::optional<std::vector<std::string>>(std::vector<std::string>{}));
  EXPECT_EQ(second.created, nullptr);
  // Keys match with their letter case only; of a repeated key the last one counts.
  EXPECT_EQ(page.data->at(2)->title, "last");
  EXPECT_EQ(page.data->at(2)->created, nullptr);
}

TEST(JSONDecoding, MissingAndNullAreBothAbsent) {
  for (const char* json :
       {R"({"data":[{}]})", R"({"response":null,"data":[{"title":null,"created":null,"tags":null}]})"}) {
    const Page page = decodePage(json);
    EXPECT_FALSE(page.response.has_value()) << json;
    const Entry& entry = *page.data->at(0);
    EXPECT_FALSE(entry.title.has_value()) << json;
    EXPECT_EQ(entry.created, nullptr) << json;
    EXPECT_FALSE(entry.tags.has_value()) << json;
  }
  EXPECT_FALSE(decodePage(R"({"data":null})").data.has_value());
  // contains() tells a null member from a missing one; decoderIfPresent() does not.
  const JSONDocument document(R"({"a":null,"b":0})");
  const KeyedDecodingContainer container = document.root().container();
  EXPECT_TRUE(container.contains("a"));
  EXPECT_FALSE(container.contains("c"));
  EXPECT_FALSE(container.decoderIfPresent("a").has_value());
  EXPECT_EQ(container.decoderIfPresent("b")->codingPath(), "b");
}

TEST(JSONDecoding, IntegersAreJudgedByTheirExactValue) {
  const std::vector<std::pair<std::string, std::int64_t>> accepted = {
      {"7", 7},
      {"-7", -7},
      {"7.0", 7},
      {"1.0e1", 10},
      {"12.50e1", 125},
      {"100e-2", 1},
      {"-0.0", 0},
      {"0e999999999999999999999", 0},
      {"9223372036854775807", INT64_MAX},
      {"9223372036854775807.000", INT64_MAX},
      {"922337203685477580.7e1", INT64_MAX},
      {"-9223372036854775808", INT64_MIN},
      {"-9.223372036854775808e18", INT64_MIN},
      {"1234567890123456789.0", 1234567890123456789},
  };
  for (const auto& [literal, value] : accepted) EXPECT_EQ(decodeCreated(literal), value) << literal;

  // None is exactly an integer in range, though several round to a double
  // that would pass a check made on the double.
  for (const std::string literal :
       {"7.5", "1e-1", "1e300", "1e19", "9223372036854775808", "18446744073709551616", "-9223372036854775809",
        "-9223372036854775808.5", "9223372036854775807.0000000000000000001", "1e-99999999999999999999"}) {
    const auto error =
        expectCodingError([&] { (void)decodeCreated(literal); }, JSONCodingErrorCode::dataCorrupted, "data[0].created");
    EXPECT_EQ(reasonOf(error),
              "Expected an integer in the signed 64-bit range at data[0].created but found " + literal + ".");
  }
}

TEST(JSONDecoding, OtherJSONTypesFailWithTheirOwnCodes) {
  struct Case {
    const char* json;
    JSONCodingErrorCode code;
    const char* path;
    const char* reason;
  };
  const std::vector<Case> cases = {
      {R"({"data":[{},{"title":5}]})", JSONCodingErrorCode::typeMismatch, "data[1].title",
       "Expected a string at data[1].title but found a number."},
      {R"({"data":[{"created":"7"}]})", JSONCodingErrorCode::typeMismatch, "data[0].created",
       "Expected an integer in the signed 64-bit range at data[0].created but found a string."},
      {R"({"data":[{"created":true}]})", JSONCodingErrorCode::typeMismatch, "data[0].created",
       "Expected an integer in the signed 64-bit range at data[0].created but found true."},
      {R"({"data":[{"tags":["a",null]}]})", JSONCodingErrorCode::valueNotFound, "data[0].tags[1]",
       "Expected a string at data[0].tags[1] but found null."},
      {R"({"data":[{"tags":"a"}]})", JSONCodingErrorCode::typeMismatch, "data[0].tags",
       "Expected an array at data[0].tags but found a string."},
      {R"({"data":[{},null]})", JSONCodingErrorCode::valueNotFound, "data[1]",
       "Expected an object at data[1] but found null."},
      {R"({"data":[[]]})", JSONCodingErrorCode::typeMismatch, "data[0]", nullptr},
      {R"({"response":201})", JSONCodingErrorCode::typeMismatch, "response", nullptr},
      {R"([])", JSONCodingErrorCode::typeMismatch, "", "Expected an object at the top level but found an array."},
      {R"(null)", JSONCodingErrorCode::valueNotFound, "", "Expected an object at the top level but found null."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.json);
    const auto error = expectCodingError([&] { (void)decodePage(c.json); }, c.code, c.path);
    if (c.reason != nullptr) {
      EXPECT_EQ(reasonOf(error), c.reason);
    }
  }
  // The exception's own text names the domain and the path too.
  try {
    (void)decodePage(R"({"data":[{"title":1}]})");
  } catch (const std::exception& failure) {
    EXPECT_THAT(failure.what(), HasSubstr(std::string(JSONCodingErrorDomain)));
    EXPECT_THAT(failure.what(), HasSubstr("data[0].title"));
  }
}

TEST(JSONDecoding, DecoderReportsItsPathAndBounds) {
  const JSONDocument document(R"([{"a":{"b":[10,"x"]}}])");
  const UnkeyedDecodingContainer top = document.root().unkeyedContainer();
  ASSERT_EQ(top.count(), 1U);
  const KeyedDecodingContainer object = top.decoder(0).container();
  const KeyedDecodingContainer aObject = object.decoderIfPresent("a")->container();
  const UnkeyedDecodingContainer list = aObject.decoderIfPresent("b")->unkeyedContainer();
  EXPECT_EQ(list.decoder(0).decodeInt64(), 10);
  expectCodingError([&] { (void)list.decoder(1).decodeInt64(); }, JSONCodingErrorCode::typeMismatch, "[0].a.b[1]");
  // Reading past the end is refused instead of reading foreign memory.
  expectCodingError([&] { (void)list.decoder(2); }, JSONCodingErrorCode::valueNotFound, "[0].a.b[2]");

  // A document may be a bare value; its failures name the top level.
  EXPECT_EQ(JSONDecoder().decode<std::int64_t>(" 1.5e1 "), 15);
  EXPECT_EQ(JSONDecoder().decode<std::optional<std::string>>("null"), std::nullopt);
  const auto error = expectCodingError([] { (void)JSONDecoder().decode<std::int64_t>("-0.5"); },
                                       JSONCodingErrorCode::dataCorrupted, "");
  EXPECT_EQ(reasonOf(error), "Expected an integer in the signed 64-bit range at the top level but found -0.5.");
}

TEST(JSONDecoding, BoundsNestingAndValuesPerByte) {
  const auto nested = [](std::size_t depth) { return std::string(depth, '[') + std::string(depth, ']'); };
  EXPECT_EQ(JSONDocument(nested(512)).root().unkeyedContainer().count(), 1U);
  std::string objects;
  for (int i = 0; i < 100000; ++i) objects += R"({"a":)";
  // Tiny values would cost many times the text in nodes: a document holds
  // at most one value per eight bytes, beyond a small allowance.
  std::string zeros = "[";
  while (zeros.size() < (std::size_t{1} << 20U)) zeros += "0,";
  zeros += "0]";
  const std::vector<std::pair<std::string, const char*>> refused = {{nested(513), "512 levels"},
                                                                    {nested(100000), "512 levels"},
                                                                    {std::string(100000, '['), "not closed"},
                                                                    {objects, "not closed"},
                                                                    {zeros, "more values than"}};
  for (const auto& [text, reason] : refused) {
    const std::string& bytes = text;  // clang 14 lambdas cannot capture a structured binding
    const auto error =
        expectCodingError([&] { const JSONDocument document(bytes); }, JSONCodingErrorCode::dataCorrupted, "");
    EXPECT_THAT(reasonOf(error), HasSubstr(reason)) << bytes.size();
  }
  // Records, even compact ones, stay well within it.
  std::string records = R"({"data":[)";
  std::size_t count = 0;
  for (; records.size() < (std::size_t{1} << 20U); ++count)
    records += R"({"title":"Road closed","created":7,"tags":["x"]},)";
  records += "{}]}";
  EXPECT_EQ(decodePage(records).data->size(), count + 1);
}

}  // namespace
}  // namespace orbisgrove::platform
