// Decoding and encoding of the records and reply envelopes, as the service and
// the device cache exchange them.
#include <gtest/gtest.h>

#include <orbisgrove/OrbisgroveFeedbackKit.hpp>

#include <nlohmann/json.hpp>

#include "model/OrbisgroveExploreAPIEnvelopes.hpp"
#include "model/OrbisgroveReportCategoriesResponse.hpp"
#include "model/OrbisgroveUserDataInfoResponse.hpp"

namespace orbisgrove {
namespace {

using platform::CodingError;
using platform::JSONCodingErrorCode;
using platform::JSONDecoder;
using platform::JSONEncoder;

template <class T>
T decode(std::string_view json) {
  return JSONDecoder().decode<T>(json);
}

// The code of the coder's error of a decoding that must fail; 0 when it succeeds.
template <class T>
std::int64_t failureCode(std::string_view json) {
  try {
    (void)decode<T>(json);
  } catch (const CodingError& failure) {
    EXPECT_EQ(failure.error()->domain(), platform::JSONCodingErrorDomain) << json;
    return failure.error()->code();
  }
  return 0;
}
constexpr auto typeMismatch = static_cast<std::int64_t>(JSONCodingErrorCode::typeMismatch);
constexpr auto dataCorrupted = static_cast<std::int64_t>(JSONCodingErrorCode::dataCorrupted);
constexpr auto valueNotFound = static_cast<std::int64_t>(JSONCodingErrorCode::valueNotFound);

std::optional<std::int64_t> exact(const std::shared_ptr<const platform::Number>& number) {
  return number ? number->int64ValueIfExact() : std::nullopt;
}

using Category = std::shared_ptr<OrbisgroveReportCategories>;

TEST(ReportCategoryRecord, DecodesByTheJSONRulesAndIgnoresUnknownKeys) {
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

TEST(ReportCategoriesReply, ListsKeepTheirOrderAndOneBadElementFailsTheWholeReply) {
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

TEST(ReportCategoryRecord, EncodesAllFourKeysAndRoundTrips) {
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

TEST(UserDataRecord, DataMustBeOneObjectOrNothingAndFieldsFollowTheJSONRules) {
  const auto record =
      decode<OrbisgroveUserDataInfoResponse>(
          R"({"response":"201","data":{"dataCount":3,"name":"Wrong speed limit","exist":1,"id":"0042","listId":6.0,)"
          R"("time":"2026-12-06 20:00:00","url":"https://x/r/42","more":"ignored"}})")
          .dataInfo();
  ASSERT_TRUE(record);
  EXPECT_EQ(exact(record->dataCount()), 3);
  EXPECT_EQ(record->name(), "Wrong speed limit");
  EXPECT_EQ(exact(record->exist()), 1);
  EXPECT_EQ(record->id(), "0042");
  EXPECT_EQ(exact(record->listId()), 6);
  EXPECT_EQ(record->time(), "2026-12-06 20:00:00");
  EXPECT_EQ(record->url(), "https://x/r/42");

  EXPECT_FALSE(decode<OrbisgroveUserDataInfoResponse>(R"({"response":"201"})").dataInfo());
  EXPECT_FALSE(decode<OrbisgroveUserDataInfoResponse>(R"({"data":null})").dataInfo());
  const auto empty = decode<OrbisgroveUserDataInfoResponse>(R"({"data":{}})").dataInfo();
  ASSERT_TRUE(empty);
  EXPECT_FALSE(empty->id() || empty->dataCount());
  for (const char* json :
       {R"({"data":[{"id":"1"}]})", R"({"data":"1"})", R"({"data":{"exist":true}})", R"({"data":{"listId":"12"}})"}) {
    EXPECT_EQ(failureCode<OrbisgroveUserDataInfoResponse>(json), typeMismatch) << json;
  }
  EXPECT_EQ(decode<OrbisgroveUserDataInfoResponse>(R"({"data":{"id":"12"}})").dataInfo()->id(), "12");
}

TEST(ServiceEnvelopes, ResultAndErrorEnvelopesReadTheirOwnKeys) {
  EXPECT_FALSE(decode<OrbisgroveExploreAPIResult>("{}").response);
  EXPECT_EQ(decode<OrbisgroveExploreAPIResult>(R"({"response":" 201 ","data":5})").response, " 201 ");
  EXPECT_EQ(failureCode<OrbisgroveExploreAPIResult>(R"({"response":201})"), typeMismatch);

  EXPECT_EQ(decode<OrbisgroveExploreAPIError>("{}").joinedMessage(), "");
  EXPECT_EQ(decode<OrbisgroveExploreAPIError>(R"({"data":[{},{"error":["later"]}]})").joinedMessage(), "");
  EXPECT_EQ(failureCode<OrbisgroveExploreAPIError>(R"({"data":"oops"})"), typeMismatch);
  EXPECT_EQ(failureCode<OrbisgroveExploreAPIError>(R"({"data":[{"error":["a",1]}]})"), typeMismatch);
  EXPECT_EQ(failureCode<OrbisgroveExploreAPIError>(R"({"data":[null]})"), valueNotFound);
}

// A derived type that replaces the designated initializer sees records built
// from a location too.
class CountingOptions : public OrbisgroveSaveUserDataOptions {
 public:
  CountingOptions(platform::Coordinate coordinate, Category parent, Category child, std::string description,
                  std::optional<std::string> moduleId)
      : OrbisgroveSaveUserDataOptions(platform::Coordinate{coordinate.latitude, coordinate.longitude + 1}, parent,
                                      child, std::move(description), std::move(moduleId)) {}
};

TEST(SaveUserDataOptions, LocationInitializerGoesThroughTheDesignatedOne) {
  auto category = decode<Category>("{}");
  const auto options = OrbisgroveSaveUserDataOptions::initWithLocation<CountingOptions>(
      platform::Location(10, 20), category, category, "x", "module");
  EXPECT_DOUBLE_EQ(options->coordinate().latitude, 10);
  EXPECT_DOUBLE_EQ(options->coordinate().longitude, 21);
  EXPECT_EQ(options->moduleId(), "module");
}

}  // namespace
}  // namespace orbisgrove
