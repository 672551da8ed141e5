// The device copy of the category list, on real files.
#include <gtest/gtest.h>

#include <orbisgrove/platform/JSONCoding.hpp>
#include <orbisgrove/platform/Settings.hpp>

#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <thread>
#include <vector>

#include "../service/LocaleScope.hpp"
#include "kit/ReportCategoryCache.hpp"
#include "platform/core/Date.hpp"
#include "platform/files/PropertyList.hpp"

namespace orbisgrove {
namespace {

namespace fs = std::filesystem;
using platform::PropertyListDictionary;

OrbisgroveReportCategoriesList categories(std::string_view json) {
  return platform::JSONDecoder().decode<OrbisgroveReportCategoriesList>(json);
}

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class ReportCategoryCacheTest : public ::testing::Test {
 protected:
  void SetUp() override {
    directory_ = fs::temp_directory_path() / ("orbisgrove-cache-test-" + std::to_string(::getpid()) + "-" +
                                              ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(directory_);
    fs::create_directories(directory_);
    fs::permissions(directory_, fs::perms::owner_all, fs::perm_options::replace);
    platform::setTemporaryDirectory(directory_.string());
    platform::setConsoleSink([this](std::string_view line) { console_.emplace_back(line); });
  }
  void TearDown() override {
    platform::setConsoleSink(nullptr);
    fs::remove_all(directory_);
  }

  fs::path cacheFile() const { return directory_ / "orbisgroveReportCategories.plist"; }

  void writeDictionary(const PropertyListDictionary& dictionary) {
    ASSERT_TRUE(platform::writePropertyListDictionaryAtomically(dictionary, cacheFile().string()));
  }

  PropertyListDictionary storedList(double timestamp, std::string_view json = R"([{"reportId":"1"}])") {
    PropertyListDictionary dictionary;
    dictionary.setData(kReportCategoriesKey, json);
    dictionary.setReal(kTimestampKey, timestamp);
    return dictionary;
  }

  // Written on the test's own thread only: the saving threads below log nothing.
  const std::vector<std::string>& console() const { return console_; }

  testing::LocaleScope locale_{"en_US", "UTC"};
  fs::path directory_;
  std::vector<std::string> console_;
};

TEST_F(ReportCategoryCacheTest, FirstReadingCreatesAnEmptyDictionaryAndLogsThePath) {
  EXPECT_EQ(reportCategoryCachePath(), directory_.string() + "/orbisgroveReportCategories.plist");
  EXPECT_FALSE(loadReportCategories());
  const auto stored = platform::readPropertyListDictionary(cacheFile().string());
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->count(), 0u);
  EXPECT_EQ(console(), std::vector<std::string>{cacheFile().string()});
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
  EXPECT_EQ(readFile(cacheFile()).rfind("<?xml", 0), 0u);
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
TEST_F(ReportCategoryCacheTest, AgeCountsWholeDaysOfAStampTheCalendarCanPlace) {
  const double now = platform::Date::now().secondsSince1970;
  constexpr double day = 86400;
  const std::pair<double, std::optional<std::int64_t>> cases[] = {
      {now - (7 * day + 23 * 3600), 7},
      {now - 8 * day - 60, 8},
      {now + 30 * 3600, -1},
      {std::numeric_limits<double>::quiet_NaN(), std::nullopt},
      {std::numeric_limits<double>::infinity(), std::nullopt},
      {-1e13, std::nullopt},
      {1e13, std::nullopt}};
  for (const auto& [stamp, age] : cases) {
    writeDictionary(storedList(stamp));
    const auto entry = loadReportCategories();
    EXPECT_EQ(entry.has_value(), age.has_value()) << stamp;
    EXPECT_EQ(entry ? entry->age : std::nullopt, age) << stamp;
  }
}

TEST_F(ReportCategoryCacheTest, TimeStampMustBeANumberAndTheListData) {
  const double now = platform::Date::now().secondsSince1970;
  auto asText = storedList(now);
  asText.setString(kTimestampKey, std::to_string(now));
  writeDictionary(asText);
  EXPECT_FALSE(loadReportCategories());
  auto asInteger = storedList(now);
  asInteger.setInteger(kTimestampKey, static_cast<std::int64_t>(now));
  writeDictionary(asInteger);
  EXPECT_EQ(loadReportCategories().value_or(ReportCategoryCacheEntry{}).age, 0);

  auto asArray = storedList(now);
  asArray.setEmptyArray(kReportCategoriesKey);
  writeDictionary(asArray);
  EXPECT_FALSE(loadReportCategories());
  // Data that does not decode is an empty list.
  writeDictionary(storedList(now, "not json"));
  const auto entry = loadReportCategories();
  ASSERT_TRUE(entry);
  EXPECT_TRUE(entry->categories.empty());
  EXPECT_EQ(entry->age, 0);
}

TEST_F(ReportCategoryCacheTest, ListThatCannotBeEncodedLeavesTheFileAsItWas) {
  writeDictionary(storedList(12345.0));
  const std::string before = readFile(cacheFile());
  auto list = categories(R"([{"reportId":"1"}])");
  list[0]->setReportName(std::string("\xc3\x28 not UTF-8"));
  storeReportCategories(list);
  EXPECT_EQ(readFile(cacheFile()), before);
  ASSERT_EQ(console().size(), 1u);
  EXPECT_NE(console()[0].find("reportName"), std::string::npos) << console()[0];
}

TEST_F(ReportCategoryCacheTest, ConcurrentSavesNeverShowAHalfFile) {
  storeReportCategories(categories(R"([{"reportId":"w"}])"));
  std::vector<std::thread> writers;
  for (std::size_t size = 1; size <= 6; ++size) {
    writers.emplace_back([size] {
      for (int round = 0; round < 20; ++round)
        storeReportCategories(OrbisgroveReportCategoriesList(size, categories(R"([{}])")[0]));
    });
  }
  // Every reading sees one whole list, the former or the new one.
  for (int round = 0; round < 50; ++round) {
    const auto entry = loadReportCategories();
    ASSERT_TRUE(entry) << "round " << round;
    EXPECT_TRUE(entry->categories.size() >= 1 && entry->categories.size() <= 6) << entry->categories.size();
  }
  for (auto& writer : writers) writer.join();
}

}  // namespace
}  // namespace orbisgrove
