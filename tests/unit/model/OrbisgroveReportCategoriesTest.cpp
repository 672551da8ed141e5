// A report category and the categories reply: decoded by the JSON rules,
// encoded with all four keys, as the service and the device cache exchange them.
#include <nlohmann/json.hpp>

#include "RecordCoding.hpp"
#include "model/OrbisgroveReportCategoriesResponse.hpp"

namespace orbisgrove::testing {
namespace {

using platform::CodingError;
using platform::JSONEncoder;
using Category = std::shared_ptr<OrbisgroveReportCategories>;

TEST(OrbisgroveReportCategoriesTest, DecodesByTheJSONRulesAndIgnoresUnknownKeys) {
  for (const char* json : {R"({})", R"({"reportId":null,"reportName":null,"parentId":null,"created":null})"}) {
    const auto record = decode<Category>(json);
    EXPECT_FALSE(record->reportId() || record->reportName() || record->parentId() || record->created()) << json;
  }
  const auto record =
      decode<Category>(R"({"reportId":"","reportName":"Road closed","parentId":"0","created":42,"extra":[1,2]})");
  EXPECT_EQ(record->reportId(), "");
  EXPECT_EQ(record->reportName(), "Road closed");
  EXPECT_EQ(record->parentId(), "0");
  EXPECT_EQ(exact(record->created()), 42);
  EXPECT_EQ(exact(decode<Category>(R"({"created":7.0})")->created()), 7);

  // Each field by its own kind; the full rules are the JSON coder's.
  for (const auto& [json, code] :
       std::vector<std::pair<const char*, std::int64_t>>{{R"({"created":7.5})", dataCorrupted},
                                                         {R"({"created":"7"})", typeMismatch},
                                                         {R"({"reportId":5})", typeMismatch},
                                                         {R"({"reportName":true})", typeMismatch},
                                                         {R"({"parentId":0})", typeMismatch},
                                                         {R"([])", typeMismatch}}) {
    EXPECT_EQ(failureCode<Category>(json), code) << json;
  }
}

TEST(OrbisgroveReportCategoriesTest, ReplyListsKeepTheirOrderAndOneBadElementFailsTheWholeReply) {
  EXPECT_FALSE(decode<OrbisgroveReportCategoriesResponse>("{}").categories());
  EXPECT_FALSE(decode<OrbisgroveReportCategoriesResponse>(R"({"data":null})").categories());
  EXPECT_TRUE(decode<OrbisgroveReportCategoriesResponse>(R"({"data":[]})").categories()->empty());
  const auto two = decode<OrbisgroveReportCategoriesResponse>(
      R"({"response":"201","other":1,"data":[{"reportId":"b"},{"reportId":"a"}]})");
  EXPECT_EQ(two.response(), "201");
  ASSERT_EQ(two.categories()->size(), 2u);
  EXPECT_EQ((*two.categories())[0]->reportId(), "b");
  EXPECT_EQ((*two.categories())[1]->reportId(), "a");

  try {
    (void)decode<OrbisgroveReportCategoriesResponse>(
        R"({"response":"201","data":[{"reportId":"1"},{"reportId":"2","created":"x"}]})");
    ADD_FAILURE() << "a bad element was accepted";
  } catch (const CodingError& failure) {
    EXPECT_EQ(failure.error()->textForKey(platform::JSONCodingPathErrorKey), "data[1].created");
  }
  EXPECT_EQ(failureCode<OrbisgroveReportCategoriesResponse>(R"({"data":[{"reportId":"1"},null]})"), valueNotFound);
  EXPECT_EQ(failureCode<OrbisgroveReportCategoriesResponse>(R"({"data":{}})"), typeMismatch);
}

TEST(OrbisgroveReportCategoriesTest, EncodesAllFourKeysAndRoundTrips) {
  auto record = decode<Category>(R"({"reportId":"1","reportName":"Ä €"})");
  record->setCreated(platform::Number::withDouble(7.0));
  auto json = nlohmann::json::parse(JSONEncoder().encode(record));
  EXPECT_EQ(json, nlohmann::json::parse(R"({"reportId":"1","reportName":"Ä €","parentId":null,"created":7})"));

  record->setCreated(platform::Number::withDouble(2.5));
  EXPECT_TRUE(nlohmann::json::parse(JSONEncoder().encode(record))["created"].is_null());
  record->setCreated(platform::Number::withUInt64(UINT64_MAX));
  EXPECT_TRUE(nlohmann::json::parse(JSONEncoder().encode(record))["created"].is_null());

  record->setCreated(platform::Number::withInt64(-5));
  const auto back = decode<Category>(JSONEncoder().encode(record));
  EXPECT_EQ(back->reportName(), "Ä €");
  EXPECT_EQ(exact(back->created()), -5);
}

}  // namespace
}  // namespace orbisgrove::testing
