// A cache object that reuses its last reading must still see every change of
// the file, whoever makes it, and hand out new records each time.
#include <gtest/gtest.h>

#include <orbisgrove/platform/JSONCoding.hpp>
#include <orbisgrove/platform/Settings.hpp>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>
#include <vector>

#include <unistd.h>

#include "../service/LocaleScope.hpp"
#include "kit/ReportCategoryCache.hpp"
#include "platform/core/Date.hpp"

namespace orbisgrove {
namespace {

namespace fs = std::filesystem;

OrbisgroveReportCategoriesList categories(std::string_view json) {
  return platform::JSONDecoder().decode<OrbisgroveReportCategoriesList>(json);
}

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void writeFile(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::optional<std::string> firstId(const std::optional<ReportCategoryCacheEntry>& entry) {
  if (!entry || entry->categories.empty()) return std::nullopt;
  return entry->categories.front()->reportId();
}

class CacheMemoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    directory_ = fs::temp_directory_path() / ("orbisgrove-memo-test-" + std::to_string(::getpid()));
    fs::remove_all(directory_);
    fs::create_directories(directory_);
    fs::permissions(directory_, fs::perms::owner_all, fs::perm_options::replace);
    platform::setTemporaryDirectory(directory_.string());
    platform::setConsoleSink([](std::string_view) {});
  }
  void TearDown() override {
    platform::setConsoleSink(nullptr);
    fs::remove_all(directory_);
  }

  fs::path cacheFile() const { return directory_ / "orbisgroveReportCategories.plist"; }

  testing::LocaleScope locale_{"en_US", "UTC"};
  fs::path directory_;
};

TEST_F(CacheMemoTest, EveryChangeOfTheFileIsSeenByTheNextReading) {
  struct Case {
    const char* change;
    std::function<void(const fs::path& file, const std::string& saved)> apply;
    std::optional<std::string> expectedFirstId;
  };
  const Case cases[] = {
      {"nothing", [](const fs::path&, const std::string&) {}, "1"},
      // Same length, same modification time: only the bytes tell.
      {"same-size rewrite in place",
       [](const fs::path& file, const std::string& saved) {
         const auto modified = fs::last_write_time(file);
         std::string changed = saved;
         changed.replace(changed.find("OiIx"), 4, "OiIz");  // base64 of `:"1` becomes `:"3`
         writeFile(file, changed);
         fs::last_write_time(file, modified);
       },
       "3"},
      {"a save by another facade",
       [](const fs::path&, const std::string&) { storeReportCategories(categories(R"([{"reportId":"7"}])")); }, "7"},
      {"the host's own file",
       [](const fs::path& file, const std::string&) {
         writeFile(file, "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>timestamp</key><real>" +
                             std::to_string(platform::Date::now().secondsSince1970) +
                             "</real><key>reportCategories</key><data>W3sicmVwb3J0SWQiOiI5In1d</data></dict></plist>");
       },
       "9"},
      {"the file cut short",
       [](const fs::path& file, const std::string& saved) { writeFile(file, saved.substr(0, saved.size() / 2)); },
       std::nullopt},
      {"the file removed", [](const fs::path& file, const std::string&) { fs::remove(file); }, std::nullopt},
      // The checks of the file still apply when its bytes are the known ones.
      {"a link to the same bytes",
       [](const fs::path& file, const std::string& saved) {
         writeFile(file.string() + ".elsewhere", saved);
         fs::remove(file);
         fs::create_symlink(file.string() + ".elsewhere", file);
       },
       std::nullopt},
  };
  for (const auto& [change, apply, expectedFirstId] : cases) {
    fs::remove(cacheFile());
    storeReportCategories(categories(R"([{"reportId":"1"},{"reportId":"2"}])"));
    ReportCategoryCache cache;
    ASSERT_EQ(firstId(cache.load()), "1") << change;
    apply(cacheFile(), readFile(cacheFile()));
    EXPECT_EQ(firstId(cache.load()), expectedFirstId) << change;
  }
}

TEST_F(CacheMemoTest, EachReadingHandsOutNewRecords) {
  storeReportCategories(categories(R"([{"reportId":"1","reportName":"Road"}])"));
  ReportCategoryCache cache;
  const auto first = cache.load();
  ASSERT_TRUE(first && first->categories.size() == 1);
  first->categories[0]->setReportName("changed by the host");
  const auto second = cache.load();
  ASSERT_TRUE(second && second->categories.size() == 1);
  EXPECT_NE(second->categories[0], first->categories[0]);
  EXPECT_EQ(second->categories[0]->reportName(), "Road");
  EXPECT_EQ(second->age, 0);
}

TEST_F(CacheMemoTest, ReadersOnSeveralThreadsShareOneCache) {
  storeReportCategories(categories(R"([{"reportId":"1"}])"));
  ReportCategoryCache cache;
  std::vector<std::thread> readers;
  for (int reader = 0; reader < 4; ++reader) {
    readers.emplace_back([&cache] {
      for (int round = 0; round < 30; ++round) {
        const auto entry = cache.load();
        EXPECT_TRUE(entry && entry->categories.size() == 1);
      }
    });
  }
  for (int round = 0; round < 10; ++round) storeReportCategories(categories(R"([{"reportId":"2"}])"));
  for (auto& reader : readers) reader.join();
  EXPECT_EQ(firstId(cache.load()), "2");
}

}  // namespace
}  // namespace orbisgrove
