// orbisgrove-feedback categories [--host HOST[:PORT]] [--cacert PEM] [--json]
#include <iostream>

#include "CommandLine.hpp"
#include "Commands.hpp"
#include "KitCalls.hpp"
#include "ToolOutput.hpp"

namespace orbisgrove::tool {

int categoriesCommand(std::span<char* const> arguments) {
  const CommandLine line(arguments, {"--host", "--cacert"}, {"--json"});
  if (const auto host = line.value("--host")) useServiceHost(*host);
  if (const auto caFile = line.value("--cacert")) platform::addTrustedCertificates(*caFile);

  const CategoriesAnswer answer = fetchCategories();
  const bool json = line.has("--json");
  if (answer.error) {
    if (json) {
      std::cout << nlohmann::ordered_json{{"error", errorJSON(*answer.error)}}.dump() << '\n';
    } else {
      printError(std::cout, *answer.error);
    }
    return kKitError;
  }
  if (json) {
    std::cout << nlohmann::ordered_json{{"source", answer.fromCache ? "cache" : "service"},
                                        {"categories", categoriesJSON(answer.categories)}}
                     .dump()
              << '\n';
    return kSuccess;
  }
  if (answer.fromCache) {
    const auto age = cachedListAge();
    std::cout << "Report categories from the device cache (saved "
              << (age ? std::to_string(*age) + (*age == 1 ? " day" : " days") + " ago"
                      : std::string("at an unknown time"))
              << "):\n";
  } else {
    std::cout << "Report categories from the service:\n";
  }
  if (!answer.categories) {
    std::cout << "  (the service sent no list)\n";
  } else if (answer.categories->empty()) {
    std::cout << "  (the list is empty)\n";
  } else {
    printCategoryTree(std::cout, *answer.categories);
  }
  return kSuccess;
}

}  // namespace orbisgrove::tool
