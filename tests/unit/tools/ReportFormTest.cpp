// The reference service's reading of a form: its fields, the report text's
// fifteen pieces, and every problem named in the order of the form.
#include "TestPrelude.hpp"

#include <reference_service/ReportForm.hpp>

#include "ReportForms.hpp"

namespace orbisgrove::tools {
namespace {

using orbisgrove::testing::kCategoriesBody;
using orbisgrove::testing::ReportText;
using orbisgrove::testing::saveBody;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

TEST(ReportFormTest, SplittingRunsValToTheLastModuleIdAndKeepsFormCharacters) {
  FormFields plain = splitForm(saveBody("a&key=b=c*d"));
  EXPECT_THAT(plain.problems, IsEmpty());
  EXPECT_EQ(plain.key, "tV3nQe8LpZk2RwXa0MfYc7HsJd9=");
  EXPECT_EQ(plain.val, "a&key=b=c*d");
  EXPECT_EQ(plain.moduleId, std::nullopt);
  // A "&module_id=" inside the description survives when the real one follows.
  FormFields both = splitForm(saveBody("x&module_id=inner*y", std::string("outer")));
  EXPECT_EQ(both.val, "x&module_id=inner*y");
  EXPECT_EQ(both.moduleId, "outer");
  EXPECT_EQ(splitForm(saveBody("v", std::string())).moduleId, "");
  // "val=" inside another field's value does not start val.
  FormFields shifted = splitForm("q=712&layer=val=x&client=104&key=k&apptype=native&val=1");
  EXPECT_THAT(shifted.problems, IsEmpty());
  EXPECT_EQ(shifted.layer, "val=x");
  EXPECT_EQ(shifted.val, "1");

  EXPECT_THAT(splitForm("q=712&client=104&key=k&apptype=native&colour=red&val=1").problems,
              ElementsAre("Unknown field \"colour\".", "Field layer is missing."));
  EXPECT_THAT(splitForm("q=712&q=705&layer=explore&client=104&key=k&apptype=native&val=1").problems,
              ElementsAre("Field q appears more than once."));
  EXPECT_THAT(splitForm("layer=explore&q=712&client=104&key=k&apptype=native&val=1").problems,
              ElementsAre("Fields must come in the order q, layer, client, key, apptype, val."));
  EXPECT_THAT(splitForm("q=712&layer&client=104&key=k&apptype=native&module_id=3&val=1").problems,
              ElementsAre("Form piece \"layer\" is not of the form name=value.", "Field module_id must come after val.",
                          "Field layer is missing."));
}

TEST(ReportFormTest, DescriptionComesFromTheMiddleAndCategoriesSplitAtTheLastDash) {
  ReportText text;
  text.set(6, "one * two ** three*");
  const auto fields = splitReportText(text.joined());
  ASSERT_TRUE(fields.has_value());
  EXPECT_EQ((*fields)[4], "77.25");
  EXPECT_EQ((*fields)[5], "one * two ** three*");
  EXPECT_EQ((*fields)[6], "401");
  EXPECT_FALSE(splitReportText("1*2*3*4*5*6*7*8*9*10*11*12*13*14").has_value());

  const auto hyphenated = splitCategoryField("Give-way sign-703");
  ASSERT_TRUE(hyphenated.has_value());
  EXPECT_EQ(hyphenated->name, "Give-way sign");
  EXPECT_EQ(hyphenated->id, "703");
  EXPECT_EQ(splitCategoryField("-")->name, "");
  EXPECT_FALSE(splitCategoryField("Road closed 1").has_value());
}

TEST(ReportFormTest, ValidSubmissionYieldsItsReport) {
  ReportText text;
  text.set(4, "-33.8688").set(5, "1e-05").set(6, "Caf\xC3\xA9 \xF0\x9F\x9A\xA7").set(8, "org.x").set(15, "org.x");
  const FormVerdict verdict = checkForm(saveBody(text, std::string("m7")));
  ASSERT_EQ(verdict.status, 200) << ::testing::PrintToString(verdict.messages);
  ASSERT_TRUE(verdict.report.has_value());
  EXPECT_EQ(verdict.operation, Operation::saveReport);
  EXPECT_DOUBLE_EQ(verdict.report->latitude, -33.8688);
  EXPECT_DOUBLE_EQ(verdict.report->longitude, 1e-05);
  EXPECT_EQ(verdict.report->applicationId, "org.x");
  EXPECT_EQ(verdict.report->parentCategory.id, "1");
  EXPECT_EQ(verdict.report->childCategory.name, "Road closed permanently");
  EXPECT_EQ(verdict.report->moduleId, "m7");
  EXPECT_EQ(verdict.report->reportText, text.joined());
  for (const char* good : {"90", "-90.0", "0.0", "-1.5E+01"}) {
    EXPECT_EQ(checkForm(saveBody(ReportText().set(4, good))).status, 200) << good;
  }
}

// All of a verdict's messages, joined with " | ".
std::string messagesOf(const std::string& body) {
  const FormVerdict verdict = checkForm(body);
  std::string joined = std::to_string(verdict.status) + ":";
  for (const std::string& message : verdict.messages) joined += " " + message + " |";
  return joined;
}

TEST(ReportFormTest, EachProblemIsNamedInTheOrderOfTheForm) {
  // The key is checked before anything else.
  EXPECT_EQ(messagesOf(saveBody("garbage", std::nullopt, "AAAA")), "401: The key is not valid. |");
  EXPECT_EQ(messagesOf("q=705&val=x"), "401: The key is missing. |");

  const std::string latitude = "400: Latitude must be a number between -90 and 90. |";
  const std::string utf8 = "400: The form must be UTF-8 text. |";
  const std::vector<std::tuple<std::size_t, std::string, std::string>> oneField = {
      {1, "Point on map", "400: Field 1 of val must be \"Point on Map\". |"},
      {4, "90.5", latitude},
      {4, "nan", latitude},
      {4, "12,5", latitude},
      {4, "+10", latitude},
      {5, "180.01", "400: Longitude must be a number between -180 and 180. |"},
      {6, "", "400: Field 6 of val (description) must not be empty. |"},
      {6, "caf\xC3", utf8},
      {6, "\xED\xA0\x80", utf8},  // a surrogate
      {6, "\xC0\xAF", utf8},      // overlong "/"
      {15, "com.other", "400: Fields 8 and 15 of val (application identifier) must be equal. |"},
      {13, "Nowhere-99", "400: Unknown parent category \"99\". |"},
      {14, "Nothing-9999", "400: Unknown child category \"9999\". |"},
      {13, "Road closed 1", "400: Field 13 of val (parent category) must have the form <name>-<id>. |"},
      {14, "Sign missing-701", "400: Category \"701\" is not a subcategory of \"1\". |"},
  };
  for (const auto& [field, value, expected] : oneField) {
    EXPECT_EQ(messagesOf(saveBody(ReportText().set(field, value))), expected) << field << ": " << value;
  }

  const std::string key = "&key=tV3nQe8LpZk2RwXa0MfYc7HsJd9=";
  const std::vector<std::pair<std::string, std::string>> whole = {
      {"q=799&layer=explore&client=104" + key + "&apptype=native&val=1", "400: Unknown operation \"799\". |"},
      {saveBody("1*2*3"), "400: Field val must have 15 fields separated by \"*\". |"},
      {saveBody(ReportText().set(13, "-").set(14, "-")),
       "400: Field 13 of val (parent category) names no category. | Field 14 of val (child category) names no "
       "category. |"},
      {saveBody(ReportText().set(13, "Sign missing-701").set(14, "Traffic signs-7")),
       "400: Category \"701\" is not a top-level category. | Category \"7\" is a top-level category, not a "
       "subcategory. |"},
      {"q=712&layer=satellite&client=105" + key + "&apptype=web&val=401*401*401",
       "400: Field layer must be \"explore\". | Field client must be \"104\". | Field apptype must be \"native\". |"},
      {"q=712&layer=explore&client=104" + key + "&apptype=native&val=401*401",
       "400: Field val must be \"401*401*401\". |"},
      {std::string(kCategoriesBody) + "&module_id=3", "400: Field module_id is not accepted by operation 712. |"},
      {saveBody(ReportText().set(2, "x").set(4, "-100").set(13, "P-55").set(8, "a")),
       "400: Field 2 of val must be \"401\". | Latitude must be a number between -90 and 90. | Unknown parent "
       "category \"55\". | Fields 8 and 15 of val (application identifier) must be equal. |"},
  };
  for (const auto& [body, expected] : whole) EXPECT_EQ(messagesOf(body), expected) << body;
}

}  // namespace
}  // namespace orbisgrove::tools
