// The device copy of the category list, on real files. A cache object that
// reuses its last reading must still see every change of the file, whoever
// makes it, and hand out new records each time.
#include <nlohmann/json.hpp>

#include "KitServiceFixture.hpp"

namespace orbisgrove::testing {
namespace {

namespace fs = std::filesystem;

OrbisgroveReportCategoriesList categories(std::string_view json) {
  return platform::JSONDecoder().decode<OrbisgroveReportCategoriesList>(json);
}

void writeFile(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::optional<std::string> firstId(const std::optional<ReportCategoryCacheEntry>& entry) {
  if (!entry || entry->categories.empty()) return std::nullopt;
  return entry->categories.front()->reportId();
}

using ReportCategoryCacheTest = testing::KitFilesFixture;

TEST_F(ReportCategoryCacheTest, FirstReadingCreatesAnEmptyDictionaryAndLogsThePath) {
  EXPECT_EQ(reportCategoryCachePath(), cacheDirectory.string() + "/orbisgroveReportCategories.plist");
  EXPECT_FALSE(loadReportCategories());
  const auto stored = platform::readPropertyListDictionary(cacheFile().string());
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->count(), 0u);
  EXPECT_EQ(console, std::vector<std::string>{cacheFile().string()});
}

TEST_F(ReportCategoryCacheTest, SavedListIsJSONDataWithARealTimeStampAndReadsBackInOrder) {
  storeReportCategories(categories(R"([{"reportId":"2","reportName":"B"},{"reportId":"1","created":5},{}])"));
  const auto entry = loadReportCategories();
  ASSERT_TRUE(entry);
  ASSERT_EQ(entry->categories.size(), 3u);
  EXPECT_EQ(entry->categories[0]->reportId(), "2");
  EXPECT_EQ(entry->categories[1]->created()->int64ValueIfExact(), 5);
  EXPECT_FALSE(entry->categories[2]->reportId());
  EXPECT_EQ(entry->age, 0);

  // An XML property list with the list as JSON data and the time as a real.
  EXPECT_EQ(testing::contentsOf(cacheFile()).rfind("<?xml", 0), 0u);
  const auto stored = platform::readPropertyListDictionary(cacheFile().string());
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->typeOf(kReportCategoriesKey), platform::PropertyListType::data);
  EXPECT_EQ(stored->typeOf(kTimestampKey), platform::PropertyListType::real);
  EXPECT_EQ(nlohmann::json::parse(*stored->data(kReportCategoriesKey)), nlohmann::json::parse(R"([
      {"reportId":"2","reportName":"B","parentId":null,"created":null},
      {"reportId":"1","reportName":null,"parentId":null,"created":5},
      {"reportId":null,"reportName":null,"parentId":null,"created":null}])"));
  EXPECT_NEAR(*stored->exactDouble(kTimestampKey), platform::Date::now().secondsSince1970, 60);
}

TEST_F(ReportCategoryCacheTest, OtherEntriesSurviveASaveAndAFileOfAnotherKindIsReplaced) {
  // Written by hand, with the markup a person adds.
  std::ofstream(cacheFile()) << "<?xml version=\"1.0\"?><!-- the host's <own> notes --><plist version=\"1.0\"><dict>"
                                "<?app keep?><key>hostSetting</key><string><![CDATA[<kept>]]></string></dict></plist>";
  storeReportCategories(categories(R"([{"reportId":"1"}])"));
  const auto stored = platform::readPropertyListDictionary(cacheFile().string());
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->string("hostSetting"), "<kept>");
  EXPECT_EQ(stored->count(), 3u);

  std::ofstream(cacheFile()) << "not a property list";
  EXPECT_FALSE(loadReportCategories());
  storeReportCategories(categories(R"([{"reportId":"1"}])"));
  EXPECT_EQ(platform::readPropertyListDictionary(cacheFile().string())->count(), 2u);
}

// No entry for a stamp without an age: it would keep the list fresh forever.
// (How days are counted: TextFormatterTest.) The stamp must be a number, the list data.
TEST_F(ReportCategoryCacheTest, AgeCountsWholeDaysOfANumberTheCalendarCanPlace) {
  const double now = platform::Date::now().secondsSince1970;
  constexpr double day = 86400;
  const auto changed = [&](const std::function<void(platform::PropertyListDictionary&)>& change) {
    auto entries = cacheEntries(now);
    change(entries);
    return entries;
  };
  const struct {
    const char* name;
    platform::PropertyListDictionary entries;
    std::optional<std::int64_t> age;  // none: no entry
    std::size_t size = 1;
  } cases[] = {
      {"8 days", cacheEntries(now - 8 * day - 60), 8},
      {"tomorrow", cacheEntries(now + 30 * 3600), -1},
      {"NaN", cacheEntries(std::numeric_limits<double>::quiet_NaN()), std::nullopt},
      {"before the calendar", cacheEntries(-1e13), std::nullopt},
      {"after the calendar", cacheEntries(1e13), std::nullopt},
      {"stamp as text", changed([&](auto& e) { e.setString(kTimestampKey, std::to_string(now)); }), std::nullopt},
      {"stamp as integer", changed([&](auto& e) { e.setInteger(kTimestampKey, static_cast<std::int64_t>(now)); }), 0},
      {"list as array", changed([](auto& e) { e.setEmptyArray(kReportCategoriesKey); }), std::nullopt},
      // Data that does not decode is an empty list.
      {"list not JSON", cacheEntries(now, "not json"), 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    writeCache(c.entries);
    const auto entry = loadReportCategories();
    EXPECT_EQ(entry ? entry->age : std::nullopt, c.age);
    EXPECT_EQ(entry.has_value(), c.age.has_value());
    if (entry) {
      EXPECT_EQ(entry->categories.size(), c.size);
    }
  }
}

TEST_F(ReportCategoryCacheTest, ListThatCannotBeEncodedLeavesTheFileAsItWas) {
  writeCache(cacheEntries(12345.0));
  const std::string before = testing::contentsOf(cacheFile());
  auto list = categories(R"([{"reportId":"1"}])");
  list[0]->setReportName(std::string("\xc3\x28 not UTF-8"));
  storeReportCategories(list);
  EXPECT_EQ(testing::contentsOf(cacheFile()), before);
  ASSERT_EQ(console.size(), 1u);
  EXPECT_NE(console[0].find("reportName"), std::string::npos) << console[0];
}

TEST_F(ReportCategoryCacheTest, EveryChangeOfTheFileIsSeenInNewRecordsByTheNextReading) {
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
    const auto first = cache.load();
    ASSERT_EQ(firstId(first), "1") << change;
    first->categories[0]->setReportId("changed by the host");  // not in the next reading's records
    apply(cacheFile(), testing::contentsOf(cacheFile()));
    const auto next = cache.load();
    EXPECT_EQ(firstId(next), expectedFirstId) << change;
    EXPECT_TRUE(!next || next->age == 0) << change;
  }
}

// Every reading, through the functions or one shared cache object, sees one
// whole list, the former or the new one.
TEST_F(ReportCategoryCacheTest, ConcurrentSavesNeverShowAHalfFileToReadersOfAnyKind) {
  storeReportCategories(categories(R"([{"reportId":"w"}])"));
  ReportCategoryCache cache;
  std::vector<std::thread> threads;
  for (std::size_t size = 1; size <= 6; ++size) {
    threads.emplace_back([size] {
      for (int round = 0; round < 20; ++round)
        storeReportCategories(OrbisgroveReportCategoriesList(size, categories(R"([{}])")[0]));
    });
  }
  for (int reader = 0; reader < 4; ++reader) {
    threads.emplace_back([&cache, reader] {
      for (int round = 0; round < 30; ++round) {
        const auto entry = reader % 2 == 0 ? cache.load() : loadReportCategories();
        ASSERT_TRUE(entry) << "round " << round;
        EXPECT_TRUE(entry->categories.size() >= 1 && entry->categories.size() <= 6) << entry->categories.size();
      }
    });
  }
  for (auto& thread : threads) thread.join();
  storeReportCategories(categories(R"([{"reportId":"2"}])"));
  EXPECT_EQ(firstId(cache.load()), "2");
}

}  // namespace
}  // namespace orbisgrove::testing
