// The document reader (simdjson, with the kit's own number, string and end
// rules on top) must agree with an independent parser, nlohmann's, on what
// is JSON and on what it holds: checked against that parser's DOM, over edge
// cases and many mutations of them. fuzz/fuzz_json_document.cpp goes on.
#include "TestPrelude.hpp"

#include <orbisgrove/platform/JSONCoding.hpp>

#include "platform/json/JSONText.hpp"

#include <nlohmann/json.hpp>

#include <random>

namespace orbisgrove::platform {
namespace {

std::string reasonOf(const CodingError& failure) { return failure.error()->localizedFailureReason().value_or(""); }

// The value read as an integer, or nothing when the reader refuses it as one.
std::optional<std::int64_t> integerOf(const Decoder& decoder) {
  try {
    return decoder.decodeInt64();
  } catch (const CodingError&) {
    return std::nullopt;
  }
}

void expectSameValue(const Decoder& decoder, const nlohmann::json& expected, const std::string& bytes) {
  SCOPED_TRACE(decoder.codingPath() + " in " + ::testing::PrintToString(bytes));
  using Type = nlohmann::json::value_t;
  if (expected.is_null()) {
    EXPECT_TRUE(decoder.decodeNil());
  }
  if (expected.is_boolean()) {
    try {
      (void)decoder.decodeString();
      ADD_FAILURE() << "a boolean read as a string";
    } catch (const CodingError& failure) {
      EXPECT_NE(reasonOf(failure).find(expected.get<bool>() ? "found true" : "found false"), std::string::npos);
    }
  }
  if (expected.is_string()) {
    EXPECT_EQ(decoder.decodeString(), expected.get<std::string>());
  }
  if (expected.type() == Type::number_integer) {
    EXPECT_EQ(integerOf(decoder), expected.get<std::int64_t>());
  }
  if (expected.type() == Type::number_unsigned) {
    const auto value = expected.get<std::uint64_t>();
    EXPECT_EQ(integerOf(decoder),
              value <= std::uint64_t{INT64_MAX} ? std::optional(std::int64_t(value)) : std::nullopt);
  }
  // Integral literals ("7.0", "1e1") read as integers; the double only says
  // roughly which value it is.
  if (const auto integer = expected.is_number_float() ? integerOf(decoder) : std::nullopt;
      integer && *integer > -(std::int64_t{1} << 53) && *integer < (std::int64_t{1} << 53)) {
    EXPECT_EQ(static_cast<double>(*integer), expected.get<double>());
  }
  if (expected.is_array()) {
    const UnkeyedDecodingContainer elements = decoder.unkeyedContainer();
    ASSERT_EQ(elements.count(), expected.size());
    for (std::size_t i = 0; i < elements.count(); ++i) expectSameValue(elements.decoder(i), expected[i], bytes);
  }
  if (expected.is_object()) {
    const KeyedDecodingContainer members = decoder.container();
    for (const auto& [key, value] : expected.items()) {
      EXPECT_TRUE(members.contains(key)) << key;
      const auto member = members.decoderIfPresent(key);
      EXPECT_EQ(member.has_value(), !value.is_null()) << key;
      if (member) expectSameValue(*member, value, bytes);
    }
  }
}

// Accepts exactly what nlohmann's parser accepts, reads the same values, and
// refuses with a complete, printable error of the coder.
void expectAgreement(const std::string& bytes) {
  // nlohmann's reader takes a NUL byte for the end of the text; ours refuses it.
  const bool accepted = bytes.find('\0') == std::string::npos && nlohmann::json::accept(bytes);
  std::optional<JSONDocument> document;
  try {
    document.emplace(bytes);
  } catch (const CodingError& failure) {
    EXPECT_FALSE(accepted) << "refused JSON: " << ::testing::PrintToString(bytes) << ": " << reasonOf(failure);
    EXPECT_EQ(failure.error()->code(), static_cast<std::int64_t>(JSONCodingErrorCode::dataCorrupted));
    EXPECT_EQ(failure.error()->textForKey(JSONCodingPathErrorKey), "");
    EXPECT_EQ(reasonOf(failure).rfind("The data is not valid JSON: ", 0), 0U) << reasonOf(failure);
    EXPECT_TRUE(detail::isValidUTF8(reasonOf(failure))) << reasonOf(failure);
    return;
  }
  ASSERT_TRUE(accepted) << "accepted what is not JSON: " << ::testing::PrintToString(bytes);
  expectSameValue(document->root(), nlohmann::json::parse(bytes), bytes);
}

const std::vector<std::string>& seeds() {
  static const std::vector<std::string> cases = {
      R"({"response":"201","data":[{"reportId":"1","reportName":"Road closed","parentId":"0","created":1675209600},)"
      R"({"reportId":"101","reportName":"Caf\u00e9 \"Zur Post\" \\ \/ \b\f\n\r\t","parentId":null,"created":-7}]})",
      "\"\\ud83d\\ude00 \xF0\x9F\x97\xBA \xE2\x82\xAC \xC3\xA9 a\\u0000b \x7F\"",
      "[-0, 0, 1E+2, 1e-2, 7.0, -1.5e3, 18446744073709551615, 18446744073709551616, -9223372036854775808]",
      "[-9223372036854775809, 9223372036854775807, 9223372036854775808, 1e400, 1e-400, 0.1e1, 0e99999999999999999999]",
      " {\"a\" : [ true , false , null , { } , [ ] ] , \"a\" : { \"b\" : [ [ [ ] ] ] } } \r\n\t",
      "\xEF\xBB\xBF{\"bom\":1}",
      "[01] [1.] [-] [.5] [+1] tru nulll \"\\x\" \"\\ud800\" \"\\udc00\\ud800\" {\"a\"} {\"a\":1,} [1,]",
      "\"\xC0\xAF\" \"\xED\xA0\x80\" \"\xF4\x90\x80\x80\" \"\xE2\x82\" \"\xFF\" {\"ti\x80tle\":1} []\xC3\xA9",
      "{ [1,] {\"a\":1,} {}x nul 'a' NaN /*c*/{} [\"a\nb\"] 1e400 -1e99999999999999999999 \"a\" \"b\"",
      std::string("{\0}", 3),
      std::string("{}\0x", 4),  // nothing ends the text before its last byte
  };
  return cases;
}

TEST(JSONDocumentTest, AgreesWithAnotherParserOnEdgeCases) {
  for (const char* blank : {"", " \n"}) expectAgreement(blank);
  // Top-level scalars with space after them, past any buffer for their kind.
  for (const char* scalar : {"false", "true", "null", "-12", "1.5", "\"a\"", "1e-99999999999999999999"}) {
    expectAgreement(std::string(" ") + scalar + std::string(40, ' '));
    expectAgreement(scalar + std::string("/"));
    expectAgreement(scalar + std::string("x "));
  }
  for (const std::string& seed : seeds()) {
    expectAgreement(seed);
    // Each space-separated piece on its own too.
    std::size_t start = 0;
    while (start < seed.size()) {
      const std::size_t end = std::min(seed.find(' ', start), seed.size());
      if (end > start) expectAgreement(seed.substr(start, end - start));
      start = end + 1;
    }
  }
}

TEST(JSONDocumentTest, AgreesWithAnotherParserOnMutatedDocuments) {
  static constexpr char kInteresting[] = "\"\\{}[],:0-.e+uDd8tnf1 \n\x80\xC3\xA9\xFF\x00\x1F";
  const std::string interesting(kInteresting, sizeof kInteresting - 1);  // with the NUL inside
  std::mt19937 random(20261206);
  const auto below = [&random](std::size_t bound) {
    return std::uniform_int_distribution<std::size_t>(0, bound - 1)(random);
  };
  for (int round = 0; round < 4000; ++round) {
    std::string bytes = seeds()[below(seeds().size())];
    for (std::size_t edits = 1 + below(3); edits > 0 && !bytes.empty(); --edits) {
      const std::size_t at = below(bytes.size());
      switch (below(3)) {
        case 0:
          bytes[at] = interesting[below(interesting.size())];
          break;
        case 1:
          bytes.erase(at, 1 + below(4));
          break;
        default:
          bytes.insert(at, 1, interesting[below(interesting.size())]);
      }
    }
    expectAgreement(bytes);
    if (::testing::Test::HasFailure()) break;
  }
}

}  // namespace
}  // namespace orbisgrove::platform
