// The private directory the kit's files go in: the host's, else one of its
// own under TMPDIR or /tmp, never one that is not private.
#include "TestPrelude.hpp"

#include "platform/files/TemporaryDirectory.hpp"

#include <orbisgrove/platform/Settings.hpp>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "ScratchFiles.hpp"

namespace orbisgrove::platform {
namespace {

using orbisgrove::testing::ScratchDirectory;

// Points TMPDIR at a scratch directory and clears any host setting, putting
// both back afterwards.
class TemporaryDirectoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* previous = std::getenv("TMPDIR")) previousTmpdir_ = previous;
    ::setenv("TMPDIR", scratch_.path().c_str(), 1);
    setTemporaryDirectory("");
    previousMask_ = ::umask(022);
  }
  void TearDown() override {
    ::umask(previousMask_);
    setTemporaryDirectory("");
    if (previousTmpdir_)
      ::setenv("TMPDIR", previousTmpdir_->c_str(), 1);
    else
      ::unsetenv("TMPDIR");
  }

  [[nodiscard]] std::string ownPath() const { return scratch_ / ("orbisgrove-" + std::to_string(::geteuid())); }

  ScratchDirectory scratch_;
  std::optional<std::string> previousTmpdir_;
  mode_t previousMask_ = 0;
};

mode_t modeOf(const std::string& path) {
  struct stat information {};
  return ::lstat(path.c_str(), &information) == 0 ? information.st_mode : 0;
}

TEST_F(TemporaryDirectoryTest, CreatesAPrivateDirectoryInTmpdirOrTmp) {
  EXPECT_EQ(temporaryDirectory(), ownPath() + "/");
  EXPECT_EQ(modeOf(ownPath()), S_IFDIR | 0700U);
  // Found again as it is; a trailing slash on TMPDIR doubles nothing; others may read it.
  ::setenv("TMPDIR", (scratch_.path() + "//").c_str(), 1);
  ASSERT_EQ(::chmod(ownPath().c_str(), 0755), 0);
  EXPECT_EQ(temporaryDirectory(), ownPath() + "/");
  ::unsetenv("TMPDIR");
  EXPECT_EQ(temporaryDirectory(), "/tmp/orbisgrove-" + std::to_string(::geteuid()) + "/");
  // The host's directory, which others may read, is used as it is; nothing else is made.
  std::filesystem::remove(ownPath());
  const std::string host = scratch_ / "host";
  ASSERT_EQ(::mkdir(host.c_str(), 0755), 0);
  for (const std::string& setting : {host, host + "/"}) {
    setTemporaryDirectory(setting);
    EXPECT_EQ(temporaryDirectory(), host + "/");
  }
  EXPECT_FALSE(std::filesystem::exists(ownPath()));
  std::filesystem::remove(host);
  // The reusable form makes missing parents too.
  const auto nested = PrivateDirectory::open(scratch_ / "a/b/c", PrivateDirectory::Missing::createWithParents);
  ASSERT_TRUE(nested);
  EXPECT_EQ(nested->path(), scratch_ / "a/b/c/");
  EXPECT_EQ(modeOf(scratch_ / "a/b"), S_IFDIR | 0700U);
}

// The default directory and the host's, spoiled each way; neither is used,
// and nothing is created through a link.
TEST_F(TemporaryDirectoryTest, RefusesALinkAFileOrADirectoryOthersCanWrite) {
  const std::string target = scratch_ / "elsewhere";
  ASSERT_EQ(::mkdir(target.c_str(), 0700), 0);
  const auto withMode = [](mode_t mode) {
    return [mode](const std::string& at) {
      ASSERT_TRUE(::mkdir(at.c_str(), 0700) == 0 && ::chmod(at.c_str(), mode) == 0);
    };
  };
  const std::pair<const char*, std::function<void(const std::string&)>> spoilers[] = {
      {"link", [&](const std::string& at) { ASSERT_EQ(::symlink(target.c_str(), at.c_str()), 0); }},
      {"dangling link",
       [&](const std::string& at) { ASSERT_EQ(::symlink((scratch_ / "new").c_str(), at.c_str()), 0); }},
      {"group-writable", withMode(0720)},
      {"world-writable", withMode(0702)},
      {"file", [](const std::string& at) { ASSERT_EQ(::close(::creat(at.c_str(), 0600)), 0); }},
      {"someone else's",  // only root can give a directory away
       [&](const std::string& at) {
         withMode(0700)(at);
         ASSERT_EQ(::chown(at.c_str(), 65534, 65534), 0);
       }},
      {"missing host directory", [](const std::string&) {}},
  };
  for (const bool host : {false, true}) {
    const std::string at = host ? scratch_ / "host" : ownPath();
    for (const auto& [name, spoil] : spoilers) {
      if ((!host && name == std::string("missing host directory")) ||
          (::geteuid() != 0 && name == std::string("someone else's"))) {
        continue;
      }
      SCOPED_TRACE(std::string(name) + (host ? " (the host's)" : " (the default)"));
      spoil(at);
      setTemporaryDirectory(host ? at : "");
      EXPECT_EQ(temporaryDirectory(), std::nullopt);
      EXPECT_FALSE(std::filesystem::exists(scratch_ / "new"));
      std::filesystem::remove(at);
    }
  }
  EXPECT_FALSE(std::filesystem::exists(scratch_ / "host"));
  EXPECT_FALSE(std::filesystem::exists(ownPath()));
}

}  // namespace
}  // namespace orbisgrove::platform
