#include "../../support/ScratchFiles.hpp"
#include "platform/files/PropertyList.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

namespace orbisgrove::platform {
namespace {

using orbisgrove::testing::ScratchDirectory;

void putFile(const std::string& path, const std::string& contents) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << contents;
}

PropertyListDictionary cacheLike(double timestamp, std::size_t payloadSize) {
  PropertyListDictionary dictionary;
  dictionary.setData("reportCategories", std::string(payloadSize, 'x'));
  dictionary.setReal("timestamp", timestamp);
  return dictionary;
}

TEST(PropertyListFileTest, WritesAPrivateXmlFileThatReadsBackAndClearsWhatCutShortWritesLeft) {
  const ScratchDirectory scratch;
  const std::string path = scratch / "cache.plist";
  // An hour-old new file of a killed writer goes; a running writer's file and the host's own stay.
  for (const char* name : {".cache.plist.Ab3xYz", ".cache.plist.Running", ".cache.plist.hosts-own"}) {
    putFile(scratch / name, "partial");
  }
  const timespec hourAgo[2] = {{::time(nullptr) - 3600, 0}, {::time(nullptr) - 3600, 0}};
  for (const char* name : {".cache.plist.Ab3xYz", ".cache.plist.hosts-own"}) {
    ASSERT_EQ(::utimensat(AT_FDCWD, (scratch / name).c_str(), hourAgo, 0), 0);
  }
  ASSERT_TRUE(writePropertyListDictionaryAtomically(cacheLike(1798761600.5, 10), path));
  EXPECT_TRUE(fileExists(path));
  struct stat information {};
  ASSERT_EQ(::lstat(path.c_str(), &information), 0);
  EXPECT_EQ(information.st_mode & 0777, 0600U);

  const auto back = readPropertyListDictionary(path);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->exactDouble("timestamp"), 1798761600.5);
  EXPECT_EQ(back->data("reportCategories"), std::string(10, 'x'));
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(scratch.path())) {
    names.insert(entry.path().filename().string());
  }
  EXPECT_EQ(names, (std::set<std::string>{"cache.plist", ".cache.plist.Running", ".cache.plist.hosts-own"}));
  EXPECT_FALSE(writePropertyListDictionaryAtomically(cacheLike(3, 1), scratch / "missing/cache.plist"));
}

TEST(PropertyListFileTest, ReadsNothingFromWhatIsNotOurOwnRegularFile) {
  const ScratchDirectory scratch;
  const std::string target = scratch / "target.plist";
  ASSERT_TRUE(writePropertyListDictionaryAtomically(cacheLike(1, 1), target));
  EXPECT_TRUE(readPropertyListDictionary(target));
  EXPECT_FALSE(readPropertyListDictionary(scratch / "missing.plist"));
  EXPECT_FALSE(readPropertyListDictionary(scratch.path()));

  const std::string link = scratch / "link.plist";
  ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
  EXPECT_FALSE(readPropertyListDictionary(link));
  const std::string dangling = scratch / "dangling.plist";
  ASSERT_EQ(::symlink((scratch / "nowhere").c_str(), dangling.c_str()), 0);
  EXPECT_FALSE(readPropertyListDictionary(dangling));
  // A FIFO would block a plain open for good.
  const std::string fifo = scratch / "fifo.plist";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_FALSE(readPropertyListDictionary(fifo));

  if (::geteuid() == 0) {  // only root can give a file away
    ASSERT_EQ(::chown(target.c_str(), 65534, 65534), 0);
    EXPECT_FALSE(readPropertyListDictionary(target));
  }
}

}  // namespace
}  // namespace orbisgrove::platform
