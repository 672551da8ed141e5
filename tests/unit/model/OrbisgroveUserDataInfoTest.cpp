// The record of a saved report and the reply that carries it.
#include "RecordCoding.hpp"
#include "model/OrbisgroveUserDataInfoResponse.hpp"

namespace orbisgrove::testing {
namespace {

TEST(OrbisgroveUserDataInfoTest, DataMustBeOneObjectOrNothingAndFieldsFollowTheJSONRules) {
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

}  // namespace
}  // namespace orbisgrove::testing
