#include "ScratchDirectory.hpp"
#include "platform/files/PropertyList.hpp"

#include <gtest/gtest.h>
#include <plist/plist.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace orbisgrove::platform {
namespace {

using testsupport::ScratchDirectory;

std::string contentsOf(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream contents;
  contents << file.rdbuf();
  return contents.str();
}

void putFile(const std::string& path, const std::string& contents) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << contents;
}

std::vector<std::string> namesIn(const std::string& directory) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    names.push_back(entry.path().filename().string());
  }
  return names;
}

PropertyListDictionary cacheLike(double timestamp, std::size_t payloadSize) {
  PropertyListDictionary dictionary;
  dictionary.setData("reportCategories", std::string(payloadSize, 'x'));
  dictionary.setReal("timestamp", timestamp);
  return dictionary;
}

TEST(PropertyListFileTest, WritesAPrivateXmlFileThatReadsBack) {
  const ScratchDirectory scratch;
  const std::string path = scratch / "cache.plist";
  EXPECT_FALSE(fileExists(path));
  ASSERT_TRUE(writePropertyListDictionaryAtomically(cacheLike(1798761600.5, 10), path));
  EXPECT_TRUE(fileExists(path));
  EXPECT_TRUE(contentsOf(path).starts_with("<?xml"));
  struct stat information {};
  ASSERT_EQ(::lstat(path.c_str(), &information), 0);
  EXPECT_EQ(information.st_mode & 0777, 0600U);

  const auto back = readPropertyListDictionary(path);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->exactDouble("timestamp"), 1798761600.5);
  EXPECT_EQ(back->data("reportCategories"), std::string(10, 'x'));
  EXPECT_EQ(namesIn(scratch.path()), std::vector<std::string>{"cache.plist"});
}

TEST(PropertyListFileTest, ReadsABinaryFile) {
  const ScratchDirectory scratch;
  plist_t root = plist_new_dict();
  plist_dict_set_item(root, "timestamp", plist_new_uint(1798761600));
  char* binary = nullptr;
  uint32_t length = 0;
  plist_to_bin(root, &binary, &length);
  putFile(scratch / "binary.plist", std::string(binary, length));
  plist_to_bin_free(binary);
  plist_free(root);

  const auto read = readPropertyListDictionary(scratch / "binary.plist");
  ASSERT_TRUE(read);
  EXPECT_EQ(read->exactDouble("timestamp"), 1798761600.0);
}

TEST(PropertyListFileTest, ReadsNothingFromWhatIsNotOurOwnRegularFile) {
  const ScratchDirectory scratch;
  const std::string target = scratch / "target.plist";
  ASSERT_TRUE(writePropertyListDictionaryAtomically(cacheLike(1, 1), target));

  EXPECT_FALSE(readPropertyListDictionary(scratch / "missing.plist"));

  const std::string link = scratch / "link.plist";
  ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
  EXPECT_FALSE(readPropertyListDictionary(link));

  const std::string dangling = scratch / "dangling.plist";
  ASSERT_EQ(::symlink((scratch / "nowhere").c_str(), dangling.c_str()), 0);
  EXPECT_TRUE(fileExists(dangling));
  EXPECT_FALSE(readPropertyListDictionary(dangling));

  // A FIFO would block a plain open for good.
  const std::string fifo = scratch / "fifo.plist";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_FALSE(readPropertyListDictionary(fifo));

  EXPECT_FALSE(readPropertyListDictionary(scratch.path()));

  putFile(scratch / "text.plist", "not a property list");
  EXPECT_FALSE(readPropertyListDictionary(scratch / "text.plist"));
}

TEST(PropertyListFileTest, ReadsNothingFromAnotherUsersFile) {
  if (::geteuid() != 0) GTEST_SKIP() << "only root can give a file away";
  const ScratchDirectory scratch;
  const std::string path = scratch / "theirs.plist";
  ASSERT_TRUE(writePropertyListDictionaryAtomically(cacheLike(1, 1), path));
  ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
  EXPECT_FALSE(readPropertyListDictionary(path));
}

TEST(PropertyListFileTest, ReadsNothingFromAFileOverSixteenMebibytes) {
  const ScratchDirectory scratch;
  const std::string path = scratch / "large.plist";
  std::string contents = PropertyListDictionary().xmlBytes();
  contents.resize(std::size_t{16} << 20, '\n');
  putFile(path, contents);
  EXPECT_TRUE(readPropertyListDictionary(path));
  contents += '\n';
  putFile(path, contents);
  EXPECT_FALSE(readPropertyListDictionary(path));
}

TEST(PropertyListFileTest, ReplacesALinkAtTheDestinationInsteadOfWritingThroughIt) {
  const ScratchDirectory scratch;
  const std::string victim = scratch / "victim";
  putFile(victim, "precious");
  const std::string path = scratch / "cache.plist";
  ASSERT_EQ(::symlink(victim.c_str(), path.c_str()), 0);

  ASSERT_TRUE(writePropertyListDictionaryAtomically(cacheLike(2, 2), path));
  EXPECT_EQ(contentsOf(victim), "precious");
  struct stat information {};
  ASSERT_EQ(::lstat(path.c_str(), &information), 0);
  EXPECT_TRUE(S_ISREG(information.st_mode));
  EXPECT_TRUE(readPropertyListDictionary(path));
}

TEST(PropertyListFileTest, AFailedWriteLeavesTheOldFileWholeAndNoTemporaryFile) {
  const ScratchDirectory scratch;
  const std::string path = scratch / "cache.plist";
  ASSERT_TRUE(writePropertyListDictionaryAtomically(cacheLike(1, 100), path));
  const std::string before = contentsOf(path);

  // A file size limit makes the write fail part way through, as a full disk
  // would. In a child, so that the limit stays there.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{4096, 4096};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    const bool written = writePropertyListDictionaryAtomically(cacheLike(2, 100000), path);
    ::_exit(written ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the write did not report its failure";
  EXPECT_EQ(contentsOf(path), before);
  EXPECT_EQ(namesIn(scratch.path()), std::vector<std::string>{"cache.plist"});

  // Writing over a directory fails without a trace too.
  const std::string directory = scratch / "directory";
  ASSERT_EQ(::mkdir(directory.c_str(), 0700), 0);
  EXPECT_FALSE(writePropertyListDictionaryAtomically(cacheLike(3, 1), directory));
  EXPECT_EQ(namesIn(scratch.path()).size(), 2U);
  EXPECT_FALSE(writePropertyListDictionaryAtomically(cacheLike(3, 1), scratch / "missing/cache.plist"));
}

// Writers racing each other and a reader: every reading finds a whole file,
// one that some writer wrote completely.
TEST(PropertyListFileTest, ConcurrentWritersNeverLeaveAPartialFileForAReader) {
  const ScratchDirectory scratch;
  const std::string path = scratch / "cache.plist";
  ASSERT_TRUE(writePropertyListDictionaryAtomically(cacheLike(0, 0), path));

  std::atomic<bool> writing{true};
  std::atomic<int> failedWrites{0};
  std::vector<std::thread> writers;
  for (int writer = 1; writer <= 3; ++writer) {
    writers.emplace_back([&, writer] {
      for (int round = 0; round < 150; ++round) {
        // Sizes differ per writer and round, so that a mix of two files or a
        // cut-off file would show.
        const std::size_t size = static_cast<std::size_t>(writer * 7919 + round * 131);
        if (!writePropertyListDictionaryAtomically(cacheLike(static_cast<double>(size), size), path)) ++failedWrites;
      }
    });
  }
  int readings = 0;
  int badReadings = 0;
  std::thread reader([&] {
    while (writing) {
      const auto read = readPropertyListDictionary(path);
      ++readings;
      if (!read) {
        ++badReadings;
        continue;
      }
      const auto timestamp = read->exactDouble("timestamp");
      const auto payload = read->data("reportCategories");
      if (!timestamp || !payload || payload->size() != static_cast<std::size_t>(*timestamp)) ++badReadings;
    }
  });
  for (auto& thread : writers) thread.join();
  writing = false;
  reader.join();

  EXPECT_EQ(failedWrites, 0);
  EXPECT_GT(readings, 0);
  EXPECT_EQ(badReadings, 0);
  EXPECT_EQ(namesIn(scratch.path()), std::vector<std::string>{"cache.plist"});
}

}  // namespace
}  // namespace orbisgrove::platform
