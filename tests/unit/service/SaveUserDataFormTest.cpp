// The submission's form body byte for byte: the service reads it raw.
#include "TestPrelude.hpp"

#include "Reports.hpp"
#include "service/SaveUserDataForm.hpp"

namespace orbisgrove::testing {
namespace {

constexpr std::string_view kPrefix =
    "q=705&layer=explore&client=104&key=tV3nQe8LpZk2RwXa0MfYc7HsJd9=&apptype=native&val=";

// Between the fixed pieces: coordinate, description, application id; the categories.
TEST(SaveUserDataFormTest, WritesTheFifteenFieldsRawFillingGapsWith401AndDashes) {
  struct Case {
    platform::Coordinate coordinate;
    const char* parent;
    const char* child;
    std::string description;
    std::optional<std::string> moduleId;
    std::optional<std::string> bundle;
    std::string expected;
  };
  const char* p = R"({"reportId":"1","reportName":"P"})";
  const char* c = R"({"reportId":"2","reportName":"C"})";
  const std::string raw = " Tree & branch = blocked * road \xC3\xBC\t";
  const auto val = [](const std::string& where, const std::string& categories, const std::string& bundle) {
    return "Point on Map*401*401*" + where + "*401*" + bundle + "*native*11*1*1*" + categories + "*" + bundle;
  };
  const std::vector<Case> cases = {
      {{28.5, 77.25}, p, c, "x", std::nullopt, "A", val("28.5*77.25*x", "P-1*C-2", "A")},
      // No bundle identifier and no description: "401"; a category without name and id: "-".
      {{28, -0.00001}, "{}", c, "", std::nullopt, std::nullopt, val("28.0*-1e-05*401", "-*C-2", "401")},
      {{0.0001, -122.4194},
       R"({"reportName":"only name"})",
       R"({"reportId":"only id"})",
       "d",
       std::nullopt,
       "B",
       val("0.0001*-122.4194*d", "only name-*-only id", "B")},
      // The module id piece comes whenever there is one, even an empty one.
      {{1, 2}, p, c, "t", "", "A", val("1.0*2.0*t", "P-1*C-2", "A") + "&module_id="},
      {{-33, 0.00001}, p, c, "t", "nav-7", "A", val("-33.0*1e-05*t", "P-1*C-2", "A") + "&module_id=nav-7"},
      // Nothing is escaped or trimmed.
      {{1, 2}, p, c, raw, std::nullopt, "A&B=C", val("1.0*2.0*" + raw, "P-1*C-2", "A&B=C")},
  };
  for (const Case& test : cases) {
    const OrbisgroveSaveUserDataOptions options(test.coordinate, category(test.parent), category(test.child),
                                                test.description, test.moduleId);
    EXPECT_EQ(saveUserDataFormBody(options, test.bundle), std::string(kPrefix) + test.expected);
  }
}

}  // namespace
}  // namespace orbisgrove::testing
