// A host application in miniature, built outside the kit's tree against the
// installed kit (CMake package, pkg-config, or add_subdirectory) and run
// against the reference service:
//
//   consumer HOST:PORT CA_FILE
//
// It includes only the umbrella header and calls only the public API:
// categories from the service through the shared facade, the same list again
// from the device cache, one submission through a client of its own, and a
// decoding failure caught as the kit's exception type (whose type
// information must cross the shared library's boundary). Exit status 0 when
// every step behaved; each failed step prints why.
#include <orbisgrove/OrbisgroveFeedbackKit.hpp>
#include <orbisgrove/Version.hpp>

#include <chrono>
#include <cstring>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

using namespace orbisgrove;

namespace {

int failures = 0;

void check(bool condition, std::string_view what) {
  if (!condition) {
    ++failures;
    std::cerr << "consumer: FAILED: " << what << '\n';
  }
}

struct CategoriesAnswer {
  bool answered = false;
  bool beforeReturn = false;
  std::optional<OrbisgroveReportCategoriesList> categories;
  std::shared_ptr<const platform::Error> error;
};

CategoriesAnswer fetchCategories() {
  CategoriesAnswer answer;
  OrbisgroveFeedbackKit::shared().getReportCategories(
      [&](std::optional<OrbisgroveReportCategoriesList> categories, std::shared_ptr<const platform::Error> error) {
        answer.categories = std::move(categories);
        answer.error = std::move(error);
        answer.answered = true;
      });
  answer.beforeReturn = answer.answered;
  platform::MainQueue::shared().runUntil([&] { return answer.answered; }, std::chrono::seconds(90));
  return answer;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: consumer HOST:PORT CA_FILE\n";
    return 2;
  }
  const std::string host = argv[1];

  check(std::strcmp(runtimeVersion(), ORBISGROVE_FEEDBACK_KIT_VERSION_STRING) == 0,
        "the loaded library has the headers' version");

  platform::addTrustedCertificates(argv[2]);
  setServiceHost(host);
  platform::setBundleIdentifier("org.example.consumer");

  // The device cache starts empty (the caller gives each run its own
  // TMPDIR), so the first list comes from the service, later, on the queue.
  CategoriesAnswer fromService = fetchCategories();
  check(fromService.answered, "the categories request was answered");
  if (fromService.error) std::cerr << "consumer: " << fromService.error->description() << '\n';
  check(!fromService.error && fromService.categories && !fromService.categories->empty(),
        "the service delivered a non-empty list");
  check(!fromService.beforeReturn, "the first list came from the service, not the cache");
  if (!fromService.categories || fromService.categories->empty()) return 1;

  // The list was stored: asking again is answered before the call returns.
  CategoriesAnswer fromCache = fetchCategories();
  check(
      fromCache.beforeReturn && fromCache.categories && fromCache.categories->size() == fromService.categories->size(),
      "the second list came from the device cache");

  std::shared_ptr<OrbisgroveReportCategories> parent;
  std::shared_ptr<OrbisgroveReportCategories> child;
  for (const auto& category : *fromService.categories) {
    if (!parent && category->parentId() == "0") parent = category;
    if (parent && !child && category->parentId() == parent->reportId()) child = category;
  }
  check(parent && child, "the list has a category with a sub-category");
  if (!parent || !child) return 1;

  // A client of the host's own, for the same service.
  OrbisgroveSaveUserDataAPIManager client{std::optional<std::string>(host)};
  const auto options = OrbisgroveSaveUserDataOptions::initWithCoordinate(
      {48.8584, 2.2945}, parent, child, "Footpath closed for works (consumer test)", "consumer");
  bool saved = false;
  std::shared_ptr<OrbisgroveUserDataInfo> record;
  std::shared_ptr<const platform::Error> saveError;
  client.saveUserData(
      *options, [&](std::shared_ptr<OrbisgroveUserDataInfo> info, std::shared_ptr<const platform::Error> error) {
        check(platform::MainQueue::shared().isMainThread(), "the submission's handler runs on the main queue");
        record = std::move(info);
        saveError = std::move(error);
        saved = true;
      });
  platform::MainQueue::shared().runUntil([&] { return saved; }, std::chrono::seconds(90));
  check(saved, "the submission was answered");
  if (saveError) std::cerr << "consumer: " << saveError->description() << '\n';
  check(!saveError && record && record->id() && !record->id()->empty(), "the service created a record");

  // Decoding failures are thrown as the kit's own exception type.
  bool caught = false;
  try {
    (void)platform::JSONDecoder().decode<std::shared_ptr<OrbisgroveReportCategories>>("[1,");
  } catch (const platform::CodingError& failure) {
    caught = failure.error() && failure.error()->domain() == platform::JSONCodingErrorDomain &&
             failure.error()->code() == static_cast<std::int64_t>(platform::JSONCodingErrorCode::dataCorrupted);
  }
  check(caught, "a decoding failure is caught as platform::CodingError");

  std::cout << "consumer: kit " << runtimeVersion() << ", " << fromService.categories->size()
            << " categories, saved record " << (record && record->id() ? *record->id() : "(none)") << ": "
            << (failures == 0 ? "ok" : "FAILED") << '\n';
  return failures == 0 ? 0 : 1;
}
