// A host application in miniature, built outside the kit's tree against the
// installed kit (CMake package, pkg-config, or add_subdirectory) and run
// against the reference service:
//
//   consumer HOST:PORT CA_FILE
//
// It includes only the umbrella header and calls only the public API:
// categories from the service through the shared facade, one submission
// through a client of its own, and a decoding failure caught as the kit's
// exception type (whose type information must cross the shared library's
// boundary). Exit status 0 when every step behaved; each failed step prints
// why.
#include <orbisgrove/feedback.h>
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

void report(const std::shared_ptr<const platform::Error>& error) {
  if (error) std::cerr << "consumer: " << error->description() << '\n';
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: consumer HOST:PORT CA_FILE\n";
    return 2;
  }
  const std::string host = argv[1];
  check(std::strcmp(runtimeVersion(), ORBISGROVE_FEEDBACK_KIT_VERSION_STRING) == 0 &&
            std::strcmp(orbisgrove_version(), ORBISGROVE_FEEDBACK_KIT_VERSION_STRING) == 0,
        "the loaded library has the headers' version, in C++ and C");
  platform::addTrustedCertificates(argv[2]);
  setServiceHost(host);
  platform::setBundleIdentifier("org.example.consumer");

  // The caller gives each run its own TMPDIR, so the list comes from the service.
  std::optional<OrbisgroveReportCategoriesList> categories;
  bool answered = false;
  OrbisgroveFeedbackKit::shared().getReportCategories(
      [&](std::optional<OrbisgroveReportCategoriesList> list, std::shared_ptr<const platform::Error> error) {
        report(error);
        categories = std::move(list);
        answered = true;
      });
  platform::MainQueue::shared().runUntil([&] { return answered; }, std::chrono::seconds(90));
  std::shared_ptr<OrbisgroveReportCategories> parent;
  std::shared_ptr<OrbisgroveReportCategories> child;
  for (const auto& category : categories.value_or(OrbisgroveReportCategoriesList())) {
    if (!parent && category->parentId() == "0") parent = category;
    if (parent && !child && category->parentId() == parent->reportId()) child = category;
  }
  check(parent && child, "the service's list has a category with a sub-category");
  if (!parent || !child) return 1;

  // A client of the host's own, for the same service.
  OrbisgroveSaveUserDataAPIManager client{std::optional<std::string>(host)};
  const auto options = OrbisgroveSaveUserDataOptions::initWithCoordinate(
      {48.8584, 2.2945}, parent, child, "Footpath closed for works (consumer test)", "consumer");
  bool saved = false;
  std::shared_ptr<OrbisgroveUserDataInfo> record;
  client.saveUserData(
      *options, [&](std::shared_ptr<OrbisgroveUserDataInfo> info, std::shared_ptr<const platform::Error> error) {
        check(platform::MainQueue::shared().isMainThread(), "the submission's handler runs on the main queue");
        report(error);
        record = std::move(info);
        saved = true;
      });
  platform::MainQueue::shared().runUntil([&] { return saved; }, std::chrono::seconds(90));
  check(record && record->id() && !record->id()->empty(), "the service created a record");

  bool caught = false;
  try {
    (void)platform::JSONDecoder().decode<std::shared_ptr<OrbisgroveReportCategories>>("[1,");
  } catch (const platform::CodingError& failure) {
    caught = failure.error() && failure.error()->domain() == platform::JSONCodingErrorDomain &&
             failure.error()->code() == static_cast<std::int64_t>(platform::JSONCodingErrorCode::dataCorrupted);
  }
  check(caught, "a decoding failure is caught as platform::CodingError");

  std::cout << "consumer: kit " << orbisgrove_version() << ", " << categories->size() << " categories, saved record "
            << (record && record->id() ? *record->id() : "(none)") << ": " << (failures == 0 ? "ok" : "FAILED") << '\n';
  return failures == 0 ? 0 : 1;
}
