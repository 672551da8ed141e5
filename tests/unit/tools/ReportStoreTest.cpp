// The reference service's store file: one JSON line a report.
#include "TestPrelude.hpp"

#include <reference_service/ReportForm.hpp>
#include <reference_service/ReportStore.hpp>

#include "ReportForms.hpp"
#include "ScratchFiles.hpp"

namespace orbisgrove::tools {
namespace {

using orbisgrove::testing::ReportText;
using orbisgrove::testing::saveBody;

TEST(ReportStoreTest, ReadsBackAfterALostNewlineAndBadFilesStopTheStart) {
  const orbisgrove::testing::ScratchDirectory scratch("orbisgrove-store-test");
  const std::string file = scratch / "reports.jsonl";
  StoredReport report;
  report.submitted = *checkForm(saveBody(ReportText().set(6, "first & more"), std::string("m-1"))).report;
  EXPECT_EQ(ReportStore(file).add(report).id, "1");
  std::string content;
  std::getline(std::ifstream(file), content);
  std::ofstream(file, std::ios::trunc) << content;  // the same report, newline lost
  EXPECT_EQ(ReportStore(file).add(report).id, "2");
  const ReportStore reopened(file);
  ASSERT_EQ(reopened.size(), 2u);
  EXPECT_TRUE(reopened.find("2")->submitted.description == "first & more" &&
              reopened.find("2")->submitted.moduleId == "m-1");
  EXPECT_EQ(reopened.find("3"), nullptr);

  std::ofstream(file) << "{\"id\":\"1\"}\n";
  EXPECT_THROW(ReportStore store(file), std::runtime_error);
}

}  // namespace
}  // namespace orbisgrove::tools
