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

// The coder's error of a decoding that must fail.
template <class T>
std::shared_ptr<const platform::Error> decodingFailure(std::string_view json) {
  try {
    (void)decode<T>(json);
  } catch (const CodingError& failure) {
    return failure.error();
  }
  ADD_FAILURE() << "decoding succeeded: " << json;
  return nullptr;
}

std::optional<std::int64_t> exact(const std::shared_ptr<const platform::Number>& number) {
  return number ? number->int64ValueIfExact() : std::nullopt;
}

TEST(ReportCategoryRecord, MissingKeysAndNullAreAbsentAndEmptyTextIsPresent) {
  for (const char* json : {R"({})", R"({"reportId":null,"reportName":null,"parentId":null,"created":null})"}) {
    const auto record = decode<std::shared_ptr<OrbisgroveReportCategories>>(json);
    EXPECT_FALSE(record->reportId());
    EXPECT_FALSE(record->reportName());
    EXPECT_FALSE(record->parentId());
    EXPECT_FALSE(record->created());
  }
  const auto record = decode<std::shared_ptr<OrbisgroveReportCategories>>(
      R"({"reportId":"","reportName":"Road closed","parentId":"0","created":42,"extra":[1,2]})");
  EXPECT_EQ(record->reportId(), "");
  EXPECT_EQ(record->reportName(), "Road closed");
  EXPECT_EQ(record->parentId(), "0");
  EXPECT_EQ(exact(record->created()), 42);
  EXPECT_EQ(record->created()->kind(), platform::Number::Kind::signedInteger);
}

TEST(ReportCategoryRecord, CreatedMustBeAnIntegralNumberInRange) {
  EXPECT_EQ(exact(decode<std::shared_ptr<OrbisgroveReportCategories>>(R"({"created":7.0})")->created()), 7);
  EXPECT_EQ(
      exact(decode<std::shared_ptr<OrbisgroveReportCategories>>(R"({"created":-9223372036854775808})")->created()),
      INT64_MIN);
  for (const char* json : {R"({"created":7.5})", R"({"created":9223372036854775808})", R"({"created":1e300})"}) {
    const auto error = decodingFailure<std::shared_ptr<OrbisgroveReportCategories>>(json);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain(), platform::JSONCodingErrorDomain) << json;
  }
  for (const char* json : {R"({"created":"7"})", R"({"created":true})", R"({"created":{}})", R"({"reportId":5})"}) {
    const auto error = decodingFailure<std::shared_ptr<OrbisgroveReportCategories>>(json);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), static_cast<std::int64_t>(JSONCodingErrorCode::typeMismatch)) << json;
  }
}

TEST(ReportCategoriesReply, OneBadElementFailsTheWholeReplyWithItsPath) {
  const auto error = decodingFailure<OrbisgroveReportCategoriesResponse>(
      R"({"response":"201","data":[{"reportId":"1"},{"reportId":"2","created":"x"}]})");
  ASSERT_TRUE(error);
  EXPECT_EQ(error->textForKey(platform::JSONCodingPathErrorKey), "data[1].created");

  const auto nullElement = decodingFailure<OrbisgroveReportCategoriesResponse>(R"({"data":[{"reportId":"1"},null]})");
  ASSERT_TRUE(nullElement);
  EXPECT_EQ(nullElement->code(), static_cast<std::int64_t>(JSONCodingErrorCode::valueNotFound));
  EXPECT_TRUE(decodingFailure<OrbisgroveReportCategoriesResponse>(R"({"data":{}})"));
  EXPECT_TRUE(decodingFailure<OrbisgroveReportCategoriesResponse>(R"([])"));
}

TEST(ReportCategoriesReply, AbsentNullAndEmptyListsDiffer) {
  const auto empty = decode<OrbisgroveReportCategoriesResponse>("{}");
  EXPECT_FALSE(empty.response());
  EXPECT_FALSE(empty.categories());
  EXPECT_FALSE(decode<OrbisgroveReportCategoriesResponse>(R"({"data":null})").categories());
  const auto none = decode<OrbisgroveReportCategoriesResponse>(R"({"data":[]})");
  ASSERT_TRUE(none.categories());
  EXPECT_TRUE(none.categories()->empty());

  const auto two = decode<OrbisgroveReportCategoriesResponse>(
      R"({"response":"201","other":1,"data":[{"reportId":"b"},{"reportId":"a"}]})");
  ASSERT_TRUE(two.categories());
  ASSERT_EQ(two.categories()->size(), 2u);
  EXPECT_EQ((*two.categories())[0]->reportId(), "b");
  EXPECT_EQ((*two.categories())[1]->reportId(), "a");
}

TEST(ReportCategoryRecord, EncodesAllFourKeysAndRoundTrips) {
  auto record = decode<std::shared_ptr<OrbisgroveReportCategories>>(R"({"reportId":"1","reportName":"Ä €"})");
  record->setCreated(platform::Number::withDouble(7.0));
  auto json = nlohmann::json::parse(JSONEncoder().encode(record));
  EXPECT_EQ(json, nlohmann::json::parse(R"({"reportId":"1","reportName":"Ä €","parentId":null,"created":7})"));

  record->setCreated(platform::Number::withDouble(2.5));
  EXPECT_TRUE(nlohmann::json::parse(JSONEncoder().encode(record))["created"].is_null());
  record->setCreated(platform::Number::withUInt64(UINT64_MAX));
  EXPECT_TRUE(nlohmann::json::parse(JSONEncoder().encode(record))["created"].is_null());

  record->setCreated(platform::Number::withInt64(-5));
  const auto back = decode<std::shared_ptr<OrbisgroveReportCategories>>(JSONEncoder().encode(record));
  EXPECT_EQ(back->reportId(), "1");
  EXPECT_EQ(back->reportName(), "Ä €");
  EXPECT_FALSE(back->parentId());
  EXPECT_EQ(exact(back->created()), -5);
  EXPECT_NE(back.get(), record.get());
}

TEST(ReportCategoryRecord, TextThatIsNotUTF8CannotBeEncoded) {
  auto record = decode<std::shared_ptr<OrbisgroveReportCategories>>("{}");
  record->setReportName(std::string("bad \xff text"));
  try {
    (void)JSONEncoder().encode(OrbisgroveReportCategoriesList{record});
    FAIL() << "encoding succeeded";
  } catch (const CodingError& failure) {
    EXPECT_EQ(failure.error()->code(), static_cast<std::int64_t>(JSONCodingErrorCode::invalidValue));
    EXPECT_EQ(failure.error()->textForKey(platform::JSONCodingPathErrorKey), "[0].reportName");
  }
}

TEST(ReportCategoryRecord, HashIsIdentity) {
  const auto a = decode<std::shared_ptr<OrbisgroveReportCategories>>(R"({"reportId":"1"})");
  const auto b = decode<std::shared_ptr<OrbisgroveReportCategories>>(R"({"reportId":"1"})");
  const auto hashBefore = a->hash();
  a->setReportId("2");
  EXPECT_EQ(a->hash(), hashBefore);
  EXPECT_NE(a->hash(), b->hash());
}

TEST(UserDataRecord, DecodesTheServiceRecordAndIgnoresUnknownKeys) {
  const auto reply = decode<OrbisgroveUserDataInfoResponse>(
      R"({"response":"201","data":{"dataCount":3,"name":"Wrong speed limit","exist":1,"id":"0042","listId":6.0,)"
      R"("time":"2026-12-06 20:00:00","url":"https://x/r/42","more":"ignored"}})");
  const auto& record = reply.dataInfo();
  ASSERT_TRUE(record);
  EXPECT_EQ(exact(record->dataCount()), 3);
  EXPECT_EQ(record->name(), "Wrong speed limit");
  EXPECT_EQ(exact(record->exist()), 1);
  EXPECT_EQ(record->id(), "0042");
  EXPECT_EQ(exact(record->listId()), 6);
  EXPECT_EQ(record->time(), "2026-12-06 20:00:00");
  EXPECT_EQ(record->url(), "https://x/r/42");
}

TEST(UserDataRecord, DataMustBeOneObjectOrNothing) {
  EXPECT_FALSE(decode<OrbisgroveUserDataInfoResponse>(R"({"response":"201"})").dataInfo());
  EXPECT_FALSE(decode<OrbisgroveUserDataInfoResponse>(R"({"data":null})").dataInfo());
  const auto empty = decode<OrbisgroveUserDataInfoResponse>(R"({"data":{}})").dataInfo();
  ASSERT_TRUE(empty);
  EXPECT_FALSE(empty->id());
  EXPECT_FALSE(empty->dataCount());

  EXPECT_TRUE(decodingFailure<OrbisgroveUserDataInfoResponse>(R"({"data":[{"id":"1"}]})"));
  EXPECT_TRUE(decodingFailure<OrbisgroveUserDataInfoResponse>(R"({"data":"1"})"));
  EXPECT_TRUE(decodingFailure<OrbisgroveUserDataInfoResponse>(R"({"data":{"exist":true}})"));
  EXPECT_TRUE(decodingFailure<OrbisgroveUserDataInfoResponse>(R"({"data":{"listId":"12"}})"));
  EXPECT_EQ(decode<OrbisgroveUserDataInfoResponse>(R"({"data":{"id":"12"}})").dataInfo()->id(), "12");
}

TEST(UserDataRecord, EncodesSevenKeysAndRoundTrips) {
  const auto record = decode<std::shared_ptr<OrbisgroveUserDataInfo>>("{}");
  auto json = nlohmann::json::parse(JSONEncoder().encode(record));
  EXPECT_EQ(json.size(), 7u);
  for (const auto& [key, value] : json.items()) EXPECT_TRUE(value.is_null()) << key;

  record->setDataCount(platform::Number::withDouble(2.5));
  record->setListId(platform::Number::withDouble(3.0));
  record->setName("n");
  const auto back = decode<std::shared_ptr<OrbisgroveUserDataInfo>>(JSONEncoder().encode(record));
  EXPECT_FALSE(back->dataCount());
  EXPECT_EQ(exact(back->listId()), 3);
  EXPECT_EQ(back->name(), "n");
}

TEST(ServiceEnvelopes, ResultAndErrorEnvelopesReadTheirOwnKeys) {
  EXPECT_FALSE(decode<OrbisgroveExploreAPIResult>("{}").response);
  EXPECT_EQ(decode<OrbisgroveExploreAPIResult>(R"({"response":" 201 ","data":5})").response, " 201 ");
  EXPECT_TRUE(decodingFailure<OrbisgroveExploreAPIResult>(R"({"response":201})"));

  EXPECT_EQ(decode<OrbisgroveExploreAPIError>("{}").joinedMessage(), "");
  EXPECT_EQ(decode<OrbisgroveExploreAPIError>(R"({"data":[]})").joinedMessage(), "");
  EXPECT_EQ(decode<OrbisgroveExploreAPIError>(R"({"data":[{"error":[]}]})").joinedMessage(), "");
  EXPECT_EQ(decode<OrbisgroveExploreAPIError>(R"({"data":[{},{"error":["later"]}]})").joinedMessage(), "");
  EXPECT_EQ(
      decode<OrbisgroveExploreAPIError>(R"({"data":[{"error":["a","b"],"x":1},{"error":["c"]}]})").joinedMessage(),
      "a, b");
  EXPECT_TRUE(decodingFailure<OrbisgroveExploreAPIError>(R"({"data":"oops"})"));
  EXPECT_TRUE(decodingFailure<OrbisgroveExploreAPIError>(R"({"data":[{"error":["a",1]}]})"));
  EXPECT_TRUE(decodingFailure<OrbisgroveExploreAPIError>(R"({"data":[null]})"));
}

TEST(SaveUserDataOptions, HoldsTheCallersRecordsAndCopiesOfTheTexts) {
  auto parent = decode<std::shared_ptr<OrbisgroveReportCategories>>(R"({"reportId":"1"})");
  auto child = decode<std::shared_ptr<OrbisgroveReportCategories>>(R"({"reportId":"2"})");
  std::string text = "pothole";
  OrbisgroveSaveUserDataOptions options(platform::Coordinate{28.5, 77.25}, parent, child, text);
  text += " changed";
  EXPECT_EQ(options.feedbackDescription(), "pothole");
  EXPECT_FALSE(options.moduleId());
  EXPECT_EQ(options.parentCategory().get(), parent.get());
  parent->setReportName("seen through the options");
  EXPECT_EQ(options.parentCategory()->reportName(), "seen through the options");
  options.setChildCategory(parent);
  EXPECT_EQ(options.parentCategory().get(), parent.get());

  OrbisgroveSaveUserDataOptions withEmptyModule(platform::Location(1.5, -2.5), parent, child, "", "");
  EXPECT_EQ(withEmptyModule.moduleId(), "");
  EXPECT_DOUBLE_EQ(withEmptyModule.coordinate().latitude, 1.5);
  EXPECT_DOUBLE_EQ(withEmptyModule.coordinate().longitude, -2.5);
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
  auto category = decode<std::shared_ptr<OrbisgroveReportCategories>>("{}");
  const auto options = OrbisgroveSaveUserDataOptions::initWithLocation<CountingOptions>(
      platform::Location(10, 20), category, category, "x", "module");
  EXPECT_DOUBLE_EQ(options->coordinate().latitude, 10);
  EXPECT_DOUBLE_EQ(options->coordinate().longitude, 21);
  EXPECT_EQ(options->moduleId(), "module");
}

}  // namespace
}  // namespace orbisgrove
