// A cache hit of the facade against two floors measured in the same run:
// (a) open, read and close the cache file; (b) that plus parsing the property
// list with libplist and the JSON inside into an nlohmann DOM. The console
// sink is a no-op, so the line the kit writes per call costs only the call.
// The hit rereads an unchanged file: the facade then skips the parsing but
// still builds new records, which the handler drops, as a host would.
#include <benchmark/benchmark.h>

#include <orbisgrove/OrbisgroveFeedbackKit.hpp>

#include <plist/plist.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "ServiceProcess.hpp"
#include "kit/ReportCategoryCache.hpp"

namespace orbisgrove::bench {
namespace {

// A private directory for the cache, removed when the process ends.
struct CacheDirectory {
  std::string path;
  CacheDirectory() : path((std::filesystem::temp_directory_path() / "orbisgrove-bench-XXXXXX").string()) {
    if (::mkdtemp(path.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  }
  ~CacheDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
  CacheDirectory(const CacheDirectory&) = delete;
  CacheDirectory& operator=(const CacheDirectory&) = delete;
};

// Writes a fresh cache of `count` categories with the kit's own save and
// returns the file's path.
std::string prepareCache(std::size_t count) {
  static const CacheDirectory directory;
  platform::setTemporaryDirectory(directory.path);
  platform::setConsoleSink([](std::string_view) {});
  const auto categories = platform::JSONDecoder().decode<OrbisgroveReportCategoriesList>(categoriesArray(count));
  storeReportCategories(categories);
  return *reportCategoryCachePath();
}

std::string readWhole(const std::string& path) {
  const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (descriptor < 0) throw std::runtime_error("cannot open " + path);
  struct stat information {};
  ::fstat(descriptor, &information);
  std::string bytes(static_cast<std::size_t>(information.st_size), '\0');
  std::size_t filled = 0;
  while (filled < bytes.size()) {
    const ssize_t received = ::read(descriptor, bytes.data() + filled, bytes.size() - filled);
    if (received <= 0) break;
    filled += static_cast<std::size_t>(received);
  }
  ::close(descriptor);
  bytes.resize(filled);
  return bytes;
}

void cacheHit(benchmark::State& state) {
  const auto count = static_cast<std::size_t>(state.range(0));
  prepareCache(count);
  auto& kit = OrbisgroveFeedbackKit::shared();
  for (auto _ : state) {
    bool answered = false;
    kit.getReportCategories(
        [&](std::optional<OrbisgroveReportCategoriesList> categories, std::shared_ptr<const platform::Error> error) {
          answered = categories && categories->size() == count && !error;
          benchmark::DoNotOptimize(categories);
        });
    if (!answered) {
      state.SkipWithError("the cache did not answer synchronously with the whole list");
      break;
    }
  }
}

void floorRead(benchmark::State& state) {
  const std::string path = prepareCache(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    std::string bytes = readWhole(path);
    benchmark::DoNotOptimize(bytes);
  }
}

void floorReadParse(benchmark::State& state) {
  const auto count = static_cast<std::size_t>(state.range(0));
  const std::string path = prepareCache(count);
  for (auto _ : state) {
    const std::string bytes = readWhole(path);
    plist_t root = nullptr;
    plist_from_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), &root);
    uint64_t length = 0;
    const char* data = plist_get_data_ptr(plist_dict_get_item(root, "reportCategories"), &length);
    auto document = nlohmann::json::parse(data, data + length);
    if (document.size() != count) state.SkipWithError("the floor read the wrong list");
    benchmark::DoNotOptimize(document);
    plist_free(root);
  }
}

// The facade with no usable cache: the service's list, stored, then the
// handler on the main queue. The Java binding's benchmark
// (bindings/java/bench) makes the same call through JNI and its executor.
void facadeCacheMiss(benchmark::State& state) {
  prepareCache(1);
  const std::string path = *reportCategoryCachePath();
  const auto request = [&path] {
    std::filesystem::remove(path);
    auto answered = std::make_shared<std::optional<bool>>();
    OrbisgroveFeedbackKit::shared().getReportCategories(
        [answered](std::optional<OrbisgroveReportCategoriesList> categories,
                   std::shared_ptr<const platform::Error> error) { *answered = categories && !error; });
    platform::MainQueue::shared().runUntil([&] { return answered->has_value(); }, std::chrono::seconds(60));
    return answered->value_or(false);
  };
  request();  // the connection exists before timing starts
  for (auto _ : state) {
    if (!request()) {
      state.SkipWithError("a categories request failed");
      break;
    }
  }
}

BENCHMARK(facadeCacheMiss)->Name("Request/kit_facade_cache_miss")->UseRealTime()->MinTime(1.0);
BENCHMARK(cacheHit)->Name("CacheHit/kit")->Arg(20)->Arg(55)->Arg(200)->Arg(2000);
BENCHMARK(floorRead)->Name("CacheHit/floorA_read")->Arg(20)->Arg(200)->Arg(2000);
BENCHMARK(floorReadParse)->Name("CacheHit/floorB_read_parse")->Arg(20)->Arg(200)->Arg(2000);

}  // namespace
}  // namespace orbisgrove::bench
