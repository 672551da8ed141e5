// The document reader (simdjson, with the kit's own number, string and end
// rules on top) must agree with an independent parser, nlohmann's, on what
// is JSON and on what it holds: checked against that parser's DOM, over edge
// cases and many mutations of them. fuzz/fuzz_json_document.cpp goes on.
#include "JSONCodingTestSupport.hpp"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace orbisgrove::platform {
namespace {

std::string reasonOf(const CodingError& failure) { return testing::reasonOf(failure.error()); }

void expectSameValue(const Decoder& decoder, const nlohmann::json& expected, const std::string& bytes) {
  SCOPED_TRACE(decoder.codingPath());
  switch (expected.type()) {
    case nlohmann::json::value_t::null:
      EXPECT_TRUE(decoder.decodeNil()) << bytes;
      break;
    case nlohmann::json::value_t::boolean:
      try {
        (void)decoder.decodeString();
        ADD_FAILURE() << "a boolean read as a string: " << bytes;
      } catch (const CodingError& failure) {
        EXPECT_NE(reasonOf(failure).find(expected.get<bool>() ? "found true" : "found false"), std::string::npos);
      }
      break;
    case nlohmann::json::value_t::string:
      EXPECT_EQ(decoder.decodeString(), expected.get<std::string>()) << bytes;
      break;
    case nlohmann::json::value_t::number_integer:
      EXPECT_EQ(decoder.decodeInt64(), expected.get<std::int64_t>()) << bytes;
      break;
    case nlohmann::json::value_t::number_unsigned:
      if (expected.get<std::uint64_t>() <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
        EXPECT_EQ(decoder.decodeInt64(), expected.get<std::int64_t>()) << bytes;
      } else {
        EXPECT_THROW((void)decoder.decodeInt64(), CodingError) << bytes;
      }
      break;
    case nlohmann::json::value_t::number_float:
      // Integral literals ("7.0", "1e1") read as integers; the double only
      // says roughly which value it is.
      try {
        const std::int64_t value = decoder.decodeInt64();
        if (value > -(std::int64_t{1} << 53) && value < (std::int64_t{1} << 53)) {
          EXPECT_EQ(static_cast<double>(value), expected.get<double>()) << bytes;
        }
      } catch (const CodingError&) {
      }
      break;
    case nlohmann::json::value_t::array: {
      const UnkeyedDecodingContainer elements = decoder.unkeyedContainer();
      ASSERT_EQ(elements.count(), expected.size()) << bytes;
      for (std::size_t i = 0; i < elements.count(); ++i) expectSameValue(elements.decoder(i), expected[i], bytes);
      break;
    }
    case nlohmann::json::value_t::object: {
      const KeyedDecodingContainer members = decoder.container();
      for (const auto& [key, value] : expected.items()) {
        EXPECT_TRUE(members.contains(key)) << key << " in " << bytes;
        const auto member = members.decoderIfPresent(key);
        EXPECT_EQ(member.has_value(), !value.is_null()) << key << " in " << bytes;
        if (member) expectSameValue(*member, value, bytes);
      }
      break;
    }
    default:
      ADD_FAILURE() << "unexpected value in " << bytes;
  }
}

// Accepts exactly what the general parser accepts, and reads the same values.
void expectAgreement(const std::string& bytes) {
  // nlohmann's reader takes a NUL byte for the end of the text; ours refuses it.
  const bool accepted = bytes.find('\0') == std::string::npos && nlohmann::json::accept(bytes);
  try {
    const JSONDocument document(bytes);
    ASSERT_TRUE(accepted) << "accepted what is not JSON: " << ::testing::PrintToString(bytes);
    expectSameValue(document.root(), nlohmann::json::parse(bytes), bytes);
  } catch (const CodingError& failure) {
    EXPECT_FALSE(accepted) << "refused JSON: " << ::testing::PrintToString(bytes) << ": " << reasonOf(failure);
  }
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
      "\"\xC0\xAF\" \"\xED\xA0\x80\" \"\xF4\x90\x80\x80\" \"\xE2\x82\" \"\xFF\"",
  };
  return cases;
}

TEST(JSONReaderAgreement, EdgeCases) {
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

TEST(JSONReaderAgreement, MutatedDocuments) {
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
