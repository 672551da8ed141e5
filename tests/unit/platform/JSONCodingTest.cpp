// The JSON coder, through small record types shaped like the kit's records:
// what decoding reads and refuses, and what encoding writes.
#include "TestPrelude.hpp"

#include <orbisgrove/platform/JSONCoding.hpp>

namespace orbisgrove::platform {
namespace {

using ::testing::HasSubstr;

// A record with a text, an integer and a nested list of texts.
struct Entry {
  std::optional<std::string> title;
  std::shared_ptr<const Number> created;
  std::optional<std::vector<std::string>> tags;

  Entry() = default;
  explicit Entry(const Decoder& decoder) {
    const KeyedDecodingContainer container = decoder.container();
    title = container.decodeStringIfPresent("title");
    created = container.decodeInt64IfPresent("created");
    tags = container.decodeIfPresent<std::vector<std::string>>("tags");
  }

  void encode(Encoder& encoder) const {
    KeyedEncodingContainer container = encoder.container();
    container.encode("title", title);
    container.encode("created", created ? created->int64ValueIfExact() : std::nullopt);
    Encoder tagsEncoder = container.encoder("tags");
    Encoding<std::optional<std::vector<std::string>>>::encode(tags, tagsEncoder);
  }
};

// A reply envelope: {"response": text, "data": [entry, ...]}, absent fields left out.
struct Page {
  std::optional<std::string> response;
  std::optional<std::vector<std::shared_ptr<Entry>>> data;

  Page() = default;
  explicit Page(const Decoder& decoder) {
    const KeyedDecodingContainer container = decoder.container();
    response = container.decodeStringIfPresent("response");
    data = container.decodeIfPresent<std::vector<std::shared_ptr<Entry>>>("data");
  }

  void encode(Encoder& encoder) const {
    KeyedEncodingContainer container = encoder.container();
    if (response) container.encode("response", response);
    if (data) {
      Encoder dataEncoder = container.encoder("data");
      Encoding<std::vector<std::shared_ptr<Entry>>>::encode(*data, dataEncoder);
    }
  }
};

inline std::int64_t createdOf(const Entry& entry) {
  EXPECT_NE(entry.created, nullptr);
  if (!entry.created) return 0;
  const std::optional<std::int64_t> value = entry.created->int64ValueIfExact();
  EXPECT_TRUE(value.has_value());
  return value.value_or(0);
}

// Runs `action`, expects a CodingError of the JSON domain with `code` and the
// coding path `path`, and returns its error for further checks.
template <class Action>
std::shared_ptr<const Error> expectCodingError(Action&& action, JSONCodingErrorCode code, const std::string& path) {
  try {
    action();
  } catch (const CodingError& failure) {
    const std::shared_ptr<const Error>& error = failure.error();
    EXPECT_NE(error, nullptr);
    if (!error) return nullptr;
    EXPECT_EQ(error->domain(), JSONCodingErrorDomain);
    EXPECT_EQ(error->code(), static_cast<std::int64_t>(code)) << error->description();
    EXPECT_EQ(error->textForKey(JSONCodingPathErrorKey), path) << error->description();
    EXPECT_TRUE(error->localizedFailureReason().has_value());
    return error;
  }
  ADD_FAILURE() << "no CodingError was thrown";
  return nullptr;
}

inline std::string reasonOf(const std::shared_ptr<const Error>& error) {
  return error ? error->localizedFailureReason().value_or("") : "";
}

Page decodePage(std::string_view json) { return JSONDecoder().decode<Page>(json); }

std::int64_t decodeCreated(const std::string& literal) {
  const Page page = decodePage(R"({"data":[{"created":)" + literal + "}]}");
  return createdOf(*page.data->at(0));
}

TEST(JSONCodingTest, DecodingReadsRecordsIgnoringUnknownKeysAndKeyOrder) {
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

TEST(JSONCodingTest, DecodingTakesMissingAndNullBothForAbsent) {
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

TEST(JSONCodingTest, DecodingJudgesIntegersByTheirExactValue) {
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

TEST(JSONCodingTest, DecodingOtherJSONTypesFailsWithTheirOwnCodes) {
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

TEST(JSONCodingTest, DecoderReportsItsPathAndBounds) {
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

TEST(JSONCodingTest, DecodingBoundsNestingAndValuesPerByte) {
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

std::shared_ptr<Entry> makeEntry(std::optional<std::string> title, std::shared_ptr<const Number> created,
                                 std::optional<std::vector<std::string>> tags = std::nullopt) {
  auto entry = std::make_shared<Entry>();
  entry->title = std::move(title);
  entry->created = std::move(created);
  entry->tags = std::move(tags);
  return entry;
}

TEST(JSONCodingTest, EncodingWritesCompactJSONWithKeysInEncodingOrderExtremesExactAndAbsentAsNull) {
  Page page;
  page.response = "201";
  page.data = std::vector<std::shared_ptr<Entry>>{
      makeEntry("Road closed", Number::withInt64(42), std::vector<std::string>{"a", "", "b"}),
      makeEntry(std::nullopt, nullptr),
      makeEntry("min", Number::withInt64(INT64_MIN)),
      makeEntry("max", Number::withInt64(INT64_MAX)),
      makeEntry("seven", Number::withDouble(7.0)),
      // Numbers that are not exactly a signed 64-bit integer are written as absent.
      makeEntry("", Number::withDouble(2.5), std::vector<std::string>{}),
      makeEntry("too large", Number::withUInt64(UINT64_MAX)),
      nullptr,
  };
  EXPECT_EQ(JSONEncoder().encode(page), R"({"response":"201","data":[)"
                                        R"({"title":"Road closed","created":42,"tags":["a","","b"]},)"
                                        R"({"title":null,"created":null,"tags":null},)"
                                        R"({"title":"min","created":-9223372036854775808,"tags":null},)"
                                        R"({"title":"max","created":9223372036854775807,"tags":null},)"
                                        R"({"title":"seven","created":7,"tags":null},)"
                                        R"({"title":"","created":null,"tags":[]},)"
                                        R"({"title":"too large","created":null,"tags":null},)"
                                        R"(null]})");
  EXPECT_EQ(JSONEncoder().encode(Page()), "{}");

  JSONEncodingDocument document;
  Encoder root = document.root();
  KeyedEncodingContainer object = root.container();
  for (const char* key : {"zeta", "alpha", "mu"}) object.encode(key, std::optional<std::int64_t>(1));
  EXPECT_EQ(document.serialized(), R"({"zeta":1,"alpha":1,"mu":1})");
}

TEST(JSONCodingTest, EncodingEscapesOnlyWhatJSONRequiresAndTheTextReadsBack) {
  static constexpr char raw[] = "q\" b\\ / \b\f\n\r\t \x01\x1f\x7f \0 caf\xC3\xA9 \xF0\x9F\x97\xBA";
  const std::string text(raw, sizeof raw - 1);
  const std::string json = JSONEncoder().encode(*makeEntry(text, nullptr));
  EXPECT_EQ(json, std::string(R"({"title":"q\" b\\ / \b\f\n\r\t \u0001\u001f)") + "\x7f" + R"( \u0000 caf)" +
                      "\xC3\xA9 \xF0\x9F\x97\xBA" + R"(","created":null,"tags":null})");
  EXPECT_EQ(JSONDecoder().decode<Entry>(json).title, text);
}

TEST(JSONCodingTest, EncodingInvalidUTF8FailsAtEncodeTimeAndStopsWriting) {
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

TEST(JSONCodingTest, EncodersStayValidWhileSiblingsAreAdded) {
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

TEST(JSONCodingTest, EncodingRewritingAKeyReplacesItsValueInPlace) {
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
