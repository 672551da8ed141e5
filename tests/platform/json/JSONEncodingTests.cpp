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
using testing::Page;
using testing::reasonOf;

std::shared_ptr<Entry> makeEntry(std::optional<std::string> title, std::shared_ptr<const Number> created,
                                 std::optional<std::vector<std::string>> tags = std::nullopt) {
  auto entry = std::make_shared<Entry>();
  entry->title = std::move(title);
  entry->created = std::move(created);
  entry->tags = std::move(tags);
  return entry;
}

TEST(JSONEncoding, WritesCompactJSONWithKeysInEncodingOrderAndAbsentAsNull) {
  Page page;
  page.response = "201";
  page.data = std::vector<std::shared_ptr<Entry>>{
      makeEntry("Road closed", Number::withInt64(42), std::vector<std::string>{"a", "b"}),
      makeEntry(std::nullopt, nullptr),
      // Numbers that are not exactly a signed 64-bit integer are written as absent.
      makeEntry("", Number::withDouble(2.5), std::vector<std::string>{}),
      makeEntry("max", Number::withUInt64(UINT64_MAX)),
      nullptr,
  };
  EXPECT_EQ(JSONEncoder().encode(page), R"({"response":"201","data":[)"
                                        R"({"title":"Road closed","created":42,"tags":["a","b"]},)"
                                        R"({"title":null,"created":null,"tags":null},)"
                                        R"({"title":"","created":null,"tags":[]},)"
                                        R"({"title":"max","created":null,"tags":null},)"
                                        R"(null]})");
  EXPECT_EQ(JSONEncoder().encode(Page()), "{}");

  JSONEncodingDocument document;
  Encoder root = document.root();
  KeyedEncodingContainer object = root.container();
  for (const char* key : {"zeta", "alpha", "mu"}) object.encode(key, std::optional<std::int64_t>(1));
  EXPECT_EQ(document.serialized(), R"({"zeta":1,"alpha":1,"mu":1})");
}

TEST(JSONEncoding, RoundTripsTheExtremesAndEscapesOnlyWhatJSONRequires) {
  static constexpr char raw[] = "q\" b\\ / \b\f\n\r\t \x01\x1f\x7f \0 caf\xC3\xA9 \xF0\x9F\x97\xBA";
  const std::string text(raw, sizeof raw - 1);
  const std::string json = JSONEncoder().encode(*makeEntry(text, nullptr));
  EXPECT_EQ(json, std::string(R"({"title":"q\" b\\ / \b\f\n\r\t \u0001\u001f)") + "\x7f" + R"( \u0000 caf)" +
                      "\xC3\xA9 \xF0\x9F\x97\xBA" + R"(","created":null,"tags":null})");
  EXPECT_EQ(JSONDecoder().decode<Entry>(json).title, text);

  Page page;
  page.data = std::vector<std::shared_ptr<Entry>>{
      makeEntry("min", Number::withInt64(INT64_MIN), std::vector<std::string>{"", "x"}),
      makeEntry("max", Number::withInt64(INT64_MAX)), makeEntry(std::nullopt, Number::withDouble(7.0))};
  const Page back = JSONDecoder().decode<Page>(JSONEncoder().encode(page));
  EXPECT_EQ(createdOf(*back.data->at(0)), INT64_MIN);
  EXPECT_EQ(back.data->at(0)->tags, page.data->at(0)->tags);
  EXPECT_EQ(createdOf(*back.data->at(1)), INT64_MAX);
  EXPECT_EQ(createdOf(*back.data->at(2)), 7);
}

TEST(JSONEncoding, InvalidUTF8FailsAtEncodeTimeAndStopsWriting) {
  Page page;
  page.data = std::vector<std::shared_ptr<Entry>>{makeEntry("fine", Number::withInt64(1)),
                                                  makeEntry("bad \xC3(", Number::withInt64(2))};
  const auto error =
      expectCodingError([&] { (void)JSONEncoder().encode(page); }, JSONCodingErrorCode::invalidValue, "data[1].title");
  EXPECT_EQ(reasonOf(error), "Cannot encode a text at data[1].title: it is not valid UTF-8.");

  // What was written before the failure stays; the failing member is not
  // created, and nothing after it is written.
  JSONEncodingDocument document;
  Encoder root = document.root();
  expectCodingError([&] { page.encode(root); }, JSONCodingErrorCode::invalidValue, "data[1].title");
  EXPECT_EQ(document.serialized(), R"({"data":[{"title":"fine","created":1,"tags":null},{}]})");

  for (const std::string bad : {"\xFF", "\xED\xB0\x80", "\xF8\x88\x80\x80\x80", "\xE0\x80\xAF", "ok\xF0\x9F\x97"}) {
    JSONEncodingDocument single;
    Encoder value = single.root();
    expectCodingError([&] { value.encode(bad); }, JSONCodingErrorCode::invalidValue, "");
    EXPECT_EQ(single.serialized(), "null");
  }
  // A key that is not UTF-8 fails too, and its path stays printable.
  JSONEncodingDocument keyed;
  Encoder keyedRoot = keyed.root();
  KeyedEncodingContainer object = keyedRoot.container();
  expectCodingError([&] { (void)object.encoder("k\xFF"); }, JSONCodingErrorCode::invalidValue, "k\xEF\xBF\xBD");
  EXPECT_EQ(keyed.serialized(), "{}");
}

TEST(JSONEncoding, EncodersStayValidWhileSiblingsAreAdded) {
  JSONEncodingDocument document;
  Encoder root = document.root();
  UnkeyedEncodingContainer list = root.unkeyedContainer();
  Encoder first = list.appendEncoder();
  std::vector<Encoder> later;
  for (int i = 0; i < 100; ++i) later.push_back(list.appendEncoder());  // forces any storage to grow
  KeyedEncodingContainer firstObject = first.container();
  Encoder name = firstObject.encoder("name");
  for (int i = 0; i < 40; ++i) firstObject.encode("k" + std::to_string(i), std::optional<std::int64_t>(i));
  name.encode("written last");
  later.back().encode(std::int64_t{-1});
  EXPECT_EQ(name.codingPath(), "[0].name");
  EXPECT_EQ(later.back().codingPath(), "[100]");

  std::string expected = R"([{"name":"written last")";
  for (int i = 0; i < 40; ++i) expected += ",\"k" + std::to_string(i) + "\":" + std::to_string(i);
  expected += '}';
  for (int i = 0; i < 99; ++i) expected += ",null";
  expected += ",-1]";
  EXPECT_EQ(document.serialized(), expected);
}

TEST(JSONEncoding, RewritingAKeyReplacesItsValueInPlace) {
  for (const int extraKeys : {0, 40}) {  // small objects are scanned, large ones indexed
    JSONEncodingDocument document;
    Encoder root = document.root();
    KeyedEncodingContainer object = root.container();
    object.encode("a", std::optional<std::string>("first"));
    for (int i = 0; i < extraKeys; ++i) object.encodeNil("x" + std::to_string(i));
    object.encode("b", std::optional<std::int64_t>(1));
    object.encode("a", std::optional<std::int64_t>(2));
    // Reopening the same value as an object keeps what was written.
    KeyedEncodingContainer again = root.container();
    again.encode("c", std::optional<std::string>());
    const std::string json = document.serialized();
    const JSONDocument back(json);
    const KeyedDecodingContainer decoded = back.root().container();
    EXPECT_EQ(decoded.decodeInt64IfPresent("a")->int64ValueIfExact(), 2);
    EXPECT_EQ(decoded.decodeInt64IfPresent("b")->int64ValueIfExact(), 1);
    EXPECT_TRUE(decoded.contains("c"));
    EXPECT_EQ(json.find(R"("a":)"), 1U);
    EXPECT_EQ(json.find(R"("a":)", 2), std::string::npos);
  }
}

}  // namespace
}  // namespace orbisgrove::platform
