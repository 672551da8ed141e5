// The submission's form body, byte for byte: the service reads it raw.
#include <gtest/gtest.h>

#include <orbisgrove/platform/JSONCoding.hpp>

#include "service/SaveUserDataForm.hpp"

namespace orbisgrove {
namespace {

constexpr std::string_view kPrefix =
    "q=705&layer=explore&client=104&key=tV3nQe8LpZk2RwXa0MfYc7HsJd9=&apptype=native&val=";

std::shared_ptr<OrbisgroveReportCategories> category(std::string_view json) {
  return platform::JSONDecoder().decode<std::shared_ptr<OrbisgroveReportCategories>>(json);
}

class SaveUserDataFormTest : public ::testing::Test {
 protected:
  std::shared_ptr<OrbisgroveReportCategories> parent = category(R"({"reportId":"1","reportName":"P"})");
  std::shared_ptr<OrbisgroveReportCategories> child = category(R"({"reportId":"2","reportName":"C"})");

  std::string body(platform::Coordinate coordinate, std::string description, std::optional<std::string> moduleId,
                   std::optional<std::string> bundle) {
    const OrbisgroveSaveUserDataOptions options(coordinate, parent, child, std::move(description), std::move(moduleId));
    return saveUserDataFormBody(options, bundle);
  }
};

TEST_F(SaveUserDataFormTest, WritesTheFifteenFieldsInOrder) {
  EXPECT_EQ(body({28.5, 77.25}, "x", std::nullopt, "A"),
            std::string(kPrefix) + "Point on Map*401*401*28.5*77.25*x*401*A*native*11*1*1*P-1*C-2*A");
}

TEST_F(SaveUserDataFormTest, FillsMissingValuesWith401AndDashes) {
  parent = category("{}");
  EXPECT_EQ(body({28, -0.00001}, "", std::nullopt, std::nullopt),
            std::string(kPrefix) + "Point on Map*401*401*28.0*-1e-05*401*401*401*native*11*1*1*-*C-2*401");
  parent = category(R"({"reportName":"only name"})");
  child = category(R"({"reportId":"only id"})");
  EXPECT_EQ(body({0.0001, -122.4194}, "d", std::nullopt, "B"),
            std::string(kPrefix) + "Point on Map*401*401*0.0001*-122.4194*d*401*B*native*11*1*1*only name-*-only id*B");
}

TEST_F(SaveUserDataFormTest, ModuleIdPieceOnlyWhenPresentEvenIfEmpty) {
  const std::string tail = "Point on Map*401*401*1.0*2.0*t*401*A*native*11*1*1*P-1*C-2*A";
  EXPECT_EQ(body({1, 2}, "t", std::nullopt, "A"), std::string(kPrefix) + tail);
  EXPECT_EQ(body({1, 2}, "t", "", "A"), std::string(kPrefix) + tail + "&module_id=");
  EXPECT_EQ(body({1, 2}, "t", "nav-7", "A"), std::string(kPrefix) + tail + "&module_id=nav-7");
}

TEST_F(SaveUserDataFormTest, NothingIsEscapedOrTrimmed) {
  const std::string raw = " Tree & branch = blocked * road ü\t";
  EXPECT_EQ(body({1, 2}, raw, std::nullopt, "A&B=C"),
            std::string(kPrefix) + "Point on Map*401*401*1.0*2.0*" + raw + "*401*A&B=C*native*11*1*1*P-1*C-2*A&B=C");
}

}  // namespace
}  // namespace orbisgrove
