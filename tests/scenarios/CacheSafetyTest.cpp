// A device cache where someone else has been at work. The kit never reads or
// writes the cache through what it does not own (a link planted at its path,
// its directory swapped for a link), never leaves a damaged file (one that
// names the list twice, a disk that fills up part way through a write), and
// the host still gets its answer. (Directories not ours alone:
// TemporaryDirectoryTest.)
#include <sys/resource.h>

#include <csignal>
#include <cstring>

#include "KitServiceFixture.hpp"

namespace orbisgrove::testing {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> namesIn(const fs::path& directory) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(directory)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// A binary property list whose dictionary holds the list under
// "reportCategories" and under `secondKey`.
std::string cacheBytesWithTwoLists(std::string_view first, std::string_view secondKey, std::string_view second,
                                   double timestamp) {
  std::string real = "\x23";
  std::uint64_t bits = 0;
  std::memcpy(&bits, &timestamp, sizeof bits);
  for (int shift = 56; shift >= 0; shift -= 8) real += static_cast<char>(bits >> shift);
  // The dictionary's keys are objects 1, 2, 3 (or 1, 1, 3); its values 4, 5, 6.
  const char secondKeyObject = secondKey == kReportCategoriesKey ? '\1' : '\2';
  return testing::binaryPropertyList({std::string{'\xD3', 1, secondKeyObject, 3, 4, 5, 6},
                                      testing::counted(0x5, kReportCategoriesKey), testing::counted(0x5, secondKey),
                                      testing::counted(0x5, kTimestampKey), testing::counted(0x4, first),
                                      testing::counted(0x4, second), real});
}

class CacheSafetyTest : public testing::KitServiceFixture {
 protected:
  void SetUp() override {
    KitServiceFixture::SetUp();
    service.setDefaultReply(Reply::json(std::string(testing::kTwoCategories)));
  }

  // Asks through the facade; true when the answer came from the device.
  bool answeredFromDevice(std::size_t expectedSize) {
    bool fromDevice = false;
    const auto answer = askFacade(&fromDevice);
    EXPECT_FALSE(answer->error());
    EXPECT_EQ(answer->delivered(), expectedSize);
    return fromDevice;
  }

  const testing::ScratchDirectory scratch{"orbisgrove-elsewhere"};
  const fs::path elsewhere = scratch.path();
};

// A link to a fresh list the kit would gladly use, were it to follow it, and
// a link to nothing, which following would create.
TEST_F(CacheSafetyTest, ALinkAtTheCachePathIsNeitherReadNorWrittenThrough) {
  const fs::path victim = elsewhere / "victim.plist";
  std::ofstream(victim, std::ios::binary) << testing::plantedCache(5).xmlBytes();
  const std::string before = contentsOf(victim);
  for (const fs::path& target : {victim, elsewhere / "created-through-link.plist"}) {
    fs::remove(cacheFile());
    fs::create_symlink(target, cacheFile());
    EXPECT_FALSE(answeredFromDevice(2)) << "answered through the link";
    EXPECT_EQ(contentsOf(victim), before);
    EXPECT_EQ(namesIn(elsewhere), std::vector<std::string>{"victim.plist"});
  }
  EXPECT_EQ(service.requestCount(), 2u);
}

TEST_F(CacheSafetyTest, ADirectorySwappedForALinkAfterItsCheckIsNotFollowed) {
  // Once the kit has checked its directory (it writes the cache path next),
  // someone moves it away and links its path to a fresh list of their own.
  const fs::path planted = elsewhere / "planted";
  const fs::path moved = elsewhere / "moved";
  fs::create_directories(planted);
  std::ofstream(planted / kReportCategoryCacheFileName, std::ios::binary) << testing::plantedCache(5).xmlBytes();
  platform::setConsoleSink([&](std::string_view line) {
    if (line != cacheFile().string() || fs::exists(moved)) return;
    fs::rename(cacheDirectory, moved);
    fs::create_symlink(planted, cacheDirectory);
  });
  EXPECT_FALSE(answeredFromDevice(2)) << "answered from the planted list";
  EXPECT_TRUE(fs::exists(moved / kReportCategoryCacheFileName)) << "created in the directory it checked";
  EXPECT_EQ(namesIn(planted), std::vector<std::string>{std::string(kReportCategoryCacheFileName)});
  fs::remove(cacheDirectory);
  fs::rename(moved, cacheDirectory);
}

TEST_F(CacheSafetyTest, AFileNamingTheListTwiceIsDamagedAndReplacedWhole) {
  // Read as it stands, one list would answer and a save would replace the
  // other, so that the next reading could hand out a list the service never
  // sent. A NUL hides the second name from a plain comparison, not from libplist.
  using namespace std::string_view_literals;
  for (const std::string_view secondKey : {kReportCategoriesKey, "reportCategories\0hidden"sv}) {
    SCOPED_TRACE(secondKey.size());
    std::ofstream(cacheFile(), std::ios::binary) << cacheBytesWithTwoLists(
        R"([{"reportId":"one"}])", secondKey, R"([{"reportId":"planted"}])", platform::Date::now().secondsSince1970);
    const std::size_t requestsBefore = service.requestCount();
    EXPECT_FALSE(answeredFromDevice(2)) << "a list of a damaged file was handed out";
    EXPECT_TRUE(answeredFromDevice(2)) << "the service's list did not read back";
    EXPECT_EQ(service.requestCount(), requestsBefore + 1);
  }
}

TEST_F(CacheSafetyTest, AWriteThatFailsPartWayLeavesThePreviousFileWholeAndTheAnswerStillComes) {
  std::ofstream(cacheFile(), std::ios::binary) << testing::plantedCache(1, 9 * 86400.0).xmlBytes();
  const std::string before = contentsOf(cacheFile());
  std::string reply = R"({"response":"201","data":[)";
  for (int i = 0; i < 3000; ++i) reply += std::string(i ? "," : "") + R"({"reportId":")" + std::to_string(i) + R"("})";
  service.setDefaultReply(Reply::json(reply + "]}"));

  // A file size limit cuts the write short as a full disk would. Only the
  // soft limit is lowered, so that it can be raised again.
  rlimit original{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &original), 0);
  rlimit small = original;
  small.rlim_cur = 4096;
  const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool fromDevice = answeredFromDevice(3000);
  ::setrlimit(RLIMIT_FSIZE, &original);
  std::signal(SIGXFSZ, previousHandler);

  EXPECT_FALSE(fromDevice);
  EXPECT_EQ(contentsOf(cacheFile()), before);
  EXPECT_EQ(namesIn(cacheDirectory), std::vector<std::string>{std::string(kReportCategoryCacheFileName)});
}

}  // namespace
}  // namespace orbisgrove::testing
