// The pieces of the reference service below the transport: reading form
// bodies, the rate-limit windows and the store file.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

#include <nlohmann/json.hpp>
#include <reference_service/RateLimiter.hpp>
#include <reference_service/ReportForm.hpp>
#include <reference_service/ReportStore.hpp>

#include "ReportBodies.hpp"

namespace orbisgrove::tools {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::ReportText;
using testing::saveBody;

TEST(ReportFormSplitting, ValRunsToTheLastModuleIdAndKeepsFormCharacters) {
  // No module id: everything after "val=" is val, "&" and "=" included.
  FormFields plain = splitForm(saveBody("a&key=b=c*d"));
  EXPECT_THAT(plain.problems, IsEmpty());
  EXPECT_EQ(plain.key, "tV3nQe8LpZk2RwXa0MfYc7HsJd9=");
  EXPECT_EQ(plain.val, "a&key=b=c*d");
  EXPECT_EQ(plain.moduleId, std::nullopt);

  // A "&module_id=" inside the description survives when the real one follows.
  FormFields both = splitForm(saveBody("x&module_id=inner*y", std::string("outer")));
  EXPECT_EQ(both.val, "x&module_id=inner*y");
  EXPECT_EQ(both.moduleId, "outer");

  FormFields empty = splitForm(saveBody("v", std::string()));
  EXPECT_EQ(empty.val, "v");
  EXPECT_EQ(empty.moduleId, "");
}

TEST(ReportFormSplitting, PrefixFaultsAreEachReported) {
  EXPECT_THAT(splitForm("q=712&client=104&key=k&apptype=native&colour=red&val=1").problems,
              ElementsAre("Unknown field \"colour\".", "Field layer is missing."));
  EXPECT_THAT(splitForm("q=712&q=705&layer=explore&client=104&key=k&apptype=native&val=1").problems,
              ElementsAre("Field q appears more than once."));
  EXPECT_THAT(splitForm("layer=explore&q=712&client=104&key=k&apptype=native&val=1").problems,
              ElementsAre("Fields must come in the order q, layer, client, key, apptype, val."));
  EXPECT_THAT(splitForm("q=712&layer&client=104&key=k&apptype=native&module_id=3&val=1").problems,
              ElementsAre("Form piece \"layer\" is not of the form name=value.", "Field module_id must come after val.",
                          "Field layer is missing."));
  EXPECT_THAT(splitForm("q=712&layer=explore&client=104&key=k&apptype=native").problems,
              ElementsAre("Field val is missing."));
  // "val=" inside another field's value does not start val.
  FormFields shifted = splitForm("q=712&layer=val=x&client=104&key=k&apptype=native&val=1");
  EXPECT_THAT(shifted.problems, IsEmpty());
  EXPECT_EQ(shifted.layer, "val=x");
  EXPECT_EQ(shifted.val, "1");
}

TEST(ReportFormSplitting, ReportTextTakesTheDescriptionFromTheMiddle) {
  ReportText text;
  text.set(6, "one * two ** three*");
  const auto fields = splitReportText(text.joined());
  ASSERT_TRUE(fields.has_value());
  EXPECT_EQ((*fields)[4], "77.25");
  EXPECT_EQ((*fields)[5], "one * two ** three*");
  EXPECT_EQ((*fields)[6], "401");
  EXPECT_EQ((*fields)[14], "com.example.maps");

  text.set(6, "");
  EXPECT_EQ((*splitReportText(text.joined()))[5], "");
  EXPECT_FALSE(splitReportText("1*2*3*4*5*6*7*8*9*10*11*12*13*14").has_value());
}

TEST(ReportFormSplitting, CategoryFieldSplitsAtTheLastDash) {
  const auto hyphenated = splitCategoryField("Give-way sign-703");
  ASSERT_TRUE(hyphenated.has_value());
  EXPECT_EQ(hyphenated->name, "Give-way sign");
  EXPECT_EQ(hyphenated->id, "703");
  const auto bare = splitCategoryField("-");
  ASSERT_TRUE(bare.has_value());
  EXPECT_EQ(bare->name, "");
  EXPECT_EQ(bare->id, "");
  EXPECT_FALSE(splitCategoryField("Road closed 1").has_value());
}

TEST(ReportFormChecking, ValidSubmissionYieldsItsReport) {
  ReportText text;
  text.set(4, "-33.8688").set(5, "1e-05").set(8, "org.example").set(15, "org.example");
  const FormVerdict verdict = checkForm(saveBody(text, std::string("m7")));
  ASSERT_EQ(verdict.status, 200) << ::testing::PrintToString(verdict.messages);
  ASSERT_TRUE(verdict.report.has_value());
  EXPECT_EQ(verdict.operation, Operation::saveReport);
  EXPECT_DOUBLE_EQ(verdict.report->latitude, -33.8688);
  EXPECT_DOUBLE_EQ(verdict.report->longitude, 1e-05);
  EXPECT_EQ(verdict.report->applicationId, "org.example");
  EXPECT_EQ(verdict.report->parentCategory.id, "1");
  EXPECT_EQ(verdict.report->childCategory.name, "Road closed permanently");
  EXPECT_EQ(verdict.report->moduleId, "m7");
  EXPECT_EQ(verdict.report->reportText, text.joined());
}

TEST(ReportFormChecking, KeyIsCheckedBeforeAnythingElse) {
  const FormVerdict wrong = checkForm(testing::saveBody("garbage", std::nullopt, "AAAA"));
  EXPECT_EQ(wrong.status, 401);
  EXPECT_THAT(wrong.messages, ElementsAre("The key is not valid."));
  const FormVerdict missing = checkForm("q=705&val=x");
  EXPECT_EQ(missing.status, 401);
  EXPECT_THAT(missing.messages, ElementsAre("The key is missing."));
}

TEST(ReportFormChecking, CoordinatesMustBeFiniteDecimalsInRange) {
  for (const char* bad : {"90.5", "-90.0001", "nan", "inf", "", "12,5", "1.5x", "+10"}) {
    EXPECT_THAT(checkForm(saveBody(ReportText().set(4, bad))).messages,
                ElementsAre("Latitude must be a number between -90 and 90."))
        << bad;
  }
  EXPECT_THAT(checkForm(saveBody(ReportText().set(5, "180.01"))).messages,
              ElementsAre("Longitude must be a number between -180 and 180."));
  for (const char* good : {"90", "-90.0", "0.0", "1e-05", "-1.5E+01"}) {
    EXPECT_EQ(checkForm(saveBody(ReportText().set(4, good))).status, 200) << good;
  }
}

TEST(ReportFormChecking, InvalidUtf8IsRejected) {
  const FormVerdict verdict = checkForm(saveBody(ReportText().set(6, "caf\xC3")));
  EXPECT_EQ(verdict.status, 400);
  EXPECT_THAT(verdict.messages, ElementsAre("The form must be UTF-8 text."));
  EXPECT_EQ(checkForm(saveBody(ReportText().set(6, "Caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x9A\xA7"))).status, 200);
  EXPECT_EQ(checkForm(saveBody(ReportText().set(6, "\xED\xA0\x80"))).status, 400);  // a surrogate
  EXPECT_EQ(checkForm(saveBody(ReportText().set(6, "\xC0\xAF"))).status, 400);      // overlong "/"
}

TEST(RateLimiterWindows, AreAlignedToTheEpochAndCountedPerClient) {
  using std::chrono::seconds;
  const auto at = [](long long unixSeconds) { return std::chrono::system_clock::time_point(seconds(unixSeconds)); };
  FixedWindowRateLimiter limiter(2, seconds(60));
  EXPECT_EQ(limiter.windowEnd(at(119)), 120);
  EXPECT_EQ(limiter.windowEnd(at(120)), 180);
  EXPECT_EQ(limiter.windowEnd(at(-1)), 0);

  limiter.record("a", at(125));
  EXPECT_TRUE(limiter.allows("a", at(126)));
  limiter.record("a", at(126));
  EXPECT_FALSE(limiter.allows("a", at(179)));
  EXPECT_TRUE(limiter.allows("b", at(179)));
  EXPECT_TRUE(limiter.allows("a", at(180)));

  EXPECT_THROW(FixedWindowRateLimiter(0, seconds(60)), std::invalid_argument);
  EXPECT_THROW(FixedWindowRateLimiter(1, seconds(0)), std::invalid_argument);
}

class ReportStoreFile : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/orbisgrove-store-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    directory_ = pattern;
    file_ = directory_ + "/reports.jsonl";
  }
  void TearDown() override { std::filesystem::remove_all(directory_); }

  static StoredReport sample(const std::string& description) {
    StoredReport report;
    report.receivedAt = 1700000000;
    report.time = "2023-11-14 22:13:20";
    report.client = "127.0.0.1";
    report.categoryName = "Road closed permanently";
    report.submitted = *checkForm(saveBody(ReportText().set(6, description))).report;
    return report;
  }

  std::string directory_;
  std::string file_;
};

TEST_F(ReportStoreFile, ReportsSurviveARestartAndIdsCarryOn) {
  {
    ReportStore store(file_);
    EXPECT_EQ(store.add(sample("first")).id, "1");
    EXPECT_EQ(store.add(sample("second")).id, "2");
  }
  ReportStore reopened(file_);
  ASSERT_EQ(reopened.size(), 2u);
  EXPECT_EQ(reopened.all()[1].submitted.description, "second");
  EXPECT_EQ(reopened.all()[1].submitted.reportText, sample("second").submitted.reportText);
  EXPECT_EQ(reopened.add(sample("third")).id, "3");
  ASSERT_NE(reopened.find("3"), nullptr);
  EXPECT_EQ(reopened.find("4"), nullptr);
}

TEST_F(ReportStoreFile, LastLineWithoutNewlineIsNotJoinedToTheNext) {
  {
    ReportStore store(file_);
    store.add(sample("first"));
  }
  std::string content;
  {
    std::ifstream in(file_);
    std::getline(in, content);
  }
  std::ofstream(file_, std::ios::trunc) << content;  // the same report, newline lost

  ReportStore store(file_);
  store.add(sample("second"));
  EXPECT_EQ(ReportStore(file_).size(), 2u);
}

TEST_F(ReportStoreFile, UnreadableFilesStopTheStart) {
  std::ofstream(file_) << "{\"id\":\"1\"}\n";
  EXPECT_THROW(ReportStore store(file_), std::runtime_error);
  EXPECT_THROW(ReportStore store(directory_ + "/missing/reports.jsonl"), std::runtime_error);
}

}  // namespace
}  // namespace orbisgrove::tools
