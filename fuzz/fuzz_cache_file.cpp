// The cache file as anything may have left it: the input is written to the
// cache path in a private directory and read through the kit's cache. It
// never crashes; a list it hands out is one the list decoder accepts; and
// after the kit stores a list over whatever was there, the next reading
// hands back exactly that list.
#include <orbisgrove/platform/Settings.hpp>

#include "FuzzSupport.hpp"
#include "kit/ReportCategoryCache.hpp"

#include <cstdlib>
#include <filesystem>
#include <string>

#include <fcntl.h>
#include <unistd.h>

namespace {

using namespace orbisgrove;
using fuzzing::require;

std::string& cachePath() {
  static auto* path = new std::string;
  return *path;
}

bool writeFile(const std::string& path, std::string_view bytes) {
  ::unlink(path.c_str());
  const int descriptor = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (descriptor < 0) return false;
  bool ok = true;
  while (!bytes.empty() && ok) {
    const ssize_t written = ::write(descriptor, bytes.data(), bytes.size());
    ok = written > 0;
    if (ok) bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return ::close(descriptor) == 0 && ok;
}

OrbisgroveReportCategoriesList knownList() {
  return platform::JSONDecoder().decode<OrbisgroveReportCategoriesList>(
      R"([{"reportId":"1","reportName":"Road","parentId":"0","created":7},{"reportId":"101"}])");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/orbisgrove-fuzz-cache-XXXXXX";
  require(::mkdtemp(pattern.data()) != nullptr, "no private directory for the cache");
  static std::string directory = pattern;
  std::atexit([] {
    std::error_code ignored;
    std::filesystem::remove_all(directory, ignored);
  });
  platform::setTemporaryDirectory(directory);
  platform::setConsoleSink([](std::string_view) {});
  const auto path = reportCategoryCachePath();
  require(path.has_value(), "the private directory is refused");
  cachePath() = *path;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  require(writeFile(cachePath(), fuzzing::bytesOf(data, size)), "cannot write the cache file");

  if (auto entry = loadReportCategories()) {
    for (const auto& category : entry->categories) require(category != nullptr, "a null category from the cache");
    // What the facade would do with it: hand it out or ask again; either way
    // the list must be encodable again.
    try {
      (void)platform::JSONEncoder().encode(entry->categories);
    } catch (const platform::CodingError&) {
      require(false, "a list read from the cache cannot be encoded");
    }
  }

  const auto list = knownList();
  storeReportCategories(list);
  const auto stored = loadReportCategories();
  require(stored.has_value(), "a stored list does not read back");
  require(stored->categories.size() == list.size(), "a stored list reads back with another length");
  for (std::size_t i = 0; i < list.size(); ++i) {
    require(stored->categories[i]->reportId() == list[i]->reportId(), "a stored list reads back changed");
  }
  // 0, or 1 when midnight passed between the two calls.
  require(stored->age.has_value() && *stored->age >= 0 && *stored->age <= 1, "a list stored now is not of age 0");
  return 0;
}
