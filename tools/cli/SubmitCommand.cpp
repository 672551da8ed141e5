// orbisgrove-feedback submit --lat DEG --lon DEG --parent ID --child ID --description TEXT
//     [--module-id ID] [--bundle-id ID] [--host HOST[:PORT]] [--cacert PEM] [--json] [--queue [--data-dir DIR]]
#include <iostream>

#include "CommandLine.hpp"
#include "Commands.hpp"
#include "KitCalls.hpp"
#include "ToolOutput.hpp"

namespace orbisgrove::tool {
namespace {

std::shared_ptr<OrbisgroveReportCategories> findCategory(const OrbisgroveReportCategoriesList& categories,
                                                         const std::string& reportId, const char* role) {
  for (const auto& category : categories) {
    if (category->reportId() == reportId) return category;
  }
  throw UsageError(std::string("no ") + role + " category with reportId \"" + reportId + "\"");
}

}  // namespace

int submitCommand(std::span<char* const> arguments) {
  const CommandLine line(arguments,
                         {"--lat", "--lon", "--parent", "--child", "--description", "--module-id", "--bundle-id",
                          "--host", "--cacert", "--data-dir"},
                         {"--json", "--queue"});
  const platform::Coordinate coordinate{line.requiredNumber("--lat"), line.requiredNumber("--lon")};
  const std::string parentId = line.required("--parent");
  const std::string childId = line.required("--child");
  const std::string description = line.required("--description");
  const bool json = line.has("--json");
  if (const auto host = line.value("--host")) useServiceHost(*host);
  if (const auto caFile = line.value("--cacert")) platform::addTrustedCertificates(*caFile);
  if (const auto bundle = line.value("--bundle-id")) platform::setBundleIdentifier(*bundle);
  const bool queue = line.has("--queue");
  if (const auto directory = line.value("--data-dir")) {
    if (!queue) throw UsageError("--data-dir needs --queue");
    platform::setDataDirectory(*directory);
  }

  const CategoriesAnswer categories = fetchCategories();
  if (categories.error) return reportError(*categories.error, json);
  const OrbisgroveReportCategoriesList list = categories.categories.value_or(OrbisgroveReportCategoriesList{});
  const OrbisgroveSaveUserDataOptions options(coordinate, findCategory(list, parentId, "parent"),
                                              findCategory(list, childId, "child"), description,
                                              line.value("--module-id"));

  if (queue) return queueSubmission(options, json);
  const SubmissionAnswer answer = submit(options);
  if (answer.error) return reportError(*answer.error, json);
  if (json) {
    std::cout << nlohmann::ordered_json{{"record", recordJSON(answer.record)}}.dump() << '\n';
  } else if (answer.record) {
    std::cout << "Report saved:\n";
    printRecord(std::cout, *answer.record);
  } else {
    std::cout << "Report saved; the service sent no record.\n";
  }
  return kSuccess;
}

}  // namespace orbisgrove::tool
