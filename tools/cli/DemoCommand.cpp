// orbisgrove-feedback demo: starts the reference service in this process and
// runs the kit against it the way a host application would.
#include <reference_service/ReferenceService.hpp>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>

#include "CommandLine.hpp"
#include "Commands.hpp"
#include "KitCalls.hpp"
#include "ToolOutput.hpp"

namespace orbisgrove::tool {
namespace {

// A private, fresh cache directory, so the first request always reaches the service.
class ScratchDirectory {
 public:
  ScratchDirectory() {
    std::string pattern = (std::filesystem::temp_directory_path() / "orbisgrove-demo-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("cannot create a temporary directory");
    path_ = pattern;
  }
  ~ScratchDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;
  [[nodiscard]] const std::string& path() const { return path_; }

 private:
  std::string path_;
};

void showCategories(const CategoriesAnswer& answer) {
  if (answer.error) {
    printError(std::cout, *answer.error);
    return;
  }
  const std::size_t count = answer.categories ? answer.categories->size() : 0;
  if (answer.fromCache) {
    // The tree is the one shown above; what matters is where it came from.
    std::cout << "Answered at once from the device cache, without a request: " << count
              << " categories, the same tree.\n";
    return;
  }
  std::cout << "Fetched from the service (" << count << " categories), then kept on the device:\n";
  if (answer.categories) printCategoryTree(std::cout, *answer.categories);
}

// The kit writes its console lines to standard error; keep both streams in order.
void section(const std::string& title) { std::cout << "\n== " << title << " ==" << std::endl; }

}  // namespace

int demoCommand(std::span<char* const> arguments) {
  if (!arguments.empty()) throw UsageError("demo takes no arguments");
  const ScratchDirectory cacheDirectory;
  platform::setTemporaryDirectory(cacheDirectory.path());
  platform::setBundleIdentifier("com.orbisgrove.demo");

  // One submission per hour, so the second one shows a refusal.
  tools::ReferenceServiceOptions options;
  options.submissionsPerInterval = 1;
  options.rateInterval = std::chrono::hours(1);
  tools::ReferenceService service(options);
  service.start();
  platform::addTrustedCertificates(service.caCertificateFile());
  useServiceHost(service.hostAndPort());
  std::cout << "Reference service listening on " << service.serviceUrl() << std::endl;

  section("1. Report categories, first request");
  const CategoriesAnswer first = fetchCategories();
  showCategories(first);
  section("2. Report categories, second request");
  const CategoriesAnswer second = fetchCategories();
  showCategories(second);
  if (first.error || !first.categories || first.categories->empty()) return kKitError;

  // The first category that has a sub-category.
  std::shared_ptr<OrbisgroveReportCategories> parent;
  std::shared_ptr<OrbisgroveReportCategories> child;
  for (const auto& candidate : *first.categories) {
    for (const auto& sub : *first.categories) {
      if (!child && candidate->reportId() && sub->parentId() == candidate->reportId()) {
        parent = candidate;
        child = sub;
      }
    }
  }
  if (!parent) return kKitError;
  const OrbisgroveSaveUserDataOptions report(platform::Location(52.520008, 13.404954), parent, child,
                                             "The road is closed for construction until Friday.", "demo-module");

  section("3. Submitting a report: " + parent->reportName().value_or("") + " / " + child->reportName().value_or(""));
  const SubmissionAnswer saved = submit(report);
  if (saved.error) {
    printError(std::cout, *saved.error);
  } else if (saved.record) {
    std::cout << "The service created this record:\n";
    printRecord(std::cout, *saved.record);
  }

  section("4. Submitting again, over the service's limit of one report per hour");
  const SubmissionAnswer refused = submit(report);
  if (refused.error) {
    std::cout << "What the user is told:\n";
    printError(std::cout, *refused.error);
  } else {
    std::cout << "Unexpectedly accepted.\n";
  }
  std::cout.flush();
  service.stop();
  return saved.error || !refused.error ? kKitError : kSuccess;
}

}  // namespace orbisgrove::tool
