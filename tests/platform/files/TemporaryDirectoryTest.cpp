#include "ScratchDirectory.hpp"
#include "platform/files/TemporaryDirectory.hpp"

#include <orbisgrove/platform/Settings.hpp>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

namespace orbisgrove::platform {
namespace {

using testsupport::ScratchDirectory;

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
  if (::lstat(path.c_str(), &information) != 0) return 0;
  return information.st_mode;
}

TEST_F(TemporaryDirectoryTest, CreatesAPrivateDirectoryInTmpdir) {
  EXPECT_EQ(temporaryDirectory(), ownPath() + "/");
  EXPECT_TRUE(S_ISDIR(modeOf(ownPath())));
  EXPECT_EQ(modeOf(ownPath()) & 0777, 0700U);
  // Found again as it is; a trailing slash on TMPDIR doubles nothing.
  ::setenv("TMPDIR", (scratch_.path() + "//").c_str(), 1);
  EXPECT_EQ(temporaryDirectory(), ownPath() + "/");
  // A directory of ours that others cannot write is accepted as it is.
  ASSERT_EQ(::chmod(ownPath().c_str(), 0755), 0);
  EXPECT_EQ(temporaryDirectory(), ownPath() + "/");
}

TEST_F(TemporaryDirectoryTest, WithoutTmpdirUsesTmp) {
  ::unsetenv("TMPDIR");
  const auto directory = temporaryDirectory();
  ASSERT_TRUE(directory);
  EXPECT_EQ(*directory, "/tmp/orbisgrove-" + std::to_string(::geteuid()) + "/");
}

TEST_F(TemporaryDirectoryTest, RefusesALinkAFileOrADirectoryOthersCanWrite) {
  const std::string target = scratch_ / "elsewhere";
  ASSERT_EQ(::mkdir(target.c_str(), 0700), 0);
  ASSERT_EQ(::symlink(target.c_str(), ownPath().c_str()), 0);
  EXPECT_EQ(temporaryDirectory(), std::nullopt);
  // A dangling link is not followed to create its target either.
  ASSERT_EQ(::unlink(ownPath().c_str()), 0);
  ASSERT_EQ(::symlink((scratch_ / "not-yet").c_str(), ownPath().c_str()), 0);
  EXPECT_EQ(temporaryDirectory(), std::nullopt);
  EXPECT_FALSE(std::filesystem::exists(scratch_ / "not-yet"));
  ASSERT_EQ(::unlink(ownPath().c_str()), 0);

  for (const mode_t mode : {0720U, 0702U}) {
    ASSERT_EQ(::mkdir(ownPath().c_str(), 0700), 0);
    ASSERT_EQ(::chmod(ownPath().c_str(), mode), 0);
    EXPECT_EQ(temporaryDirectory(), std::nullopt) << std::oct << mode;
    ASSERT_EQ(::rmdir(ownPath().c_str()), 0);
  }
  ASSERT_EQ(::close(::creat(ownPath().c_str(), 0600)), 0);
  EXPECT_EQ(temporaryDirectory(), std::nullopt);
}

TEST_F(TemporaryDirectoryTest, UsesTheHostsDirectoryUnderTheSameChecks) {
  const std::string host = scratch_ / "host";
  ASSERT_EQ(::mkdir(host.c_str(), 0755), 0);
  setTemporaryDirectory(host);
  EXPECT_EQ(temporaryDirectory(), host + "/");
  setTemporaryDirectory(host + "/");
  EXPECT_EQ(temporaryDirectory(), host + "/");
  EXPECT_FALSE(std::filesystem::exists(ownPath()));

  ASSERT_EQ(::chmod(host.c_str(), 0777), 0);
  EXPECT_EQ(temporaryDirectory(), std::nullopt);

  const std::string link = scratch_ / "host-link";
  ASSERT_EQ(::chmod(host.c_str(), 0700), 0);
  ASSERT_EQ(::symlink(host.c_str(), link.c_str()), 0);
  setTemporaryDirectory(link);
  EXPECT_EQ(temporaryDirectory(), std::nullopt);

  // The host's directory is the host's to make.
  setTemporaryDirectory(scratch_ / "missing");
  EXPECT_EQ(temporaryDirectory(), std::nullopt);
  EXPECT_FALSE(std::filesystem::exists(scratch_ / "missing"));
}

}  // namespace
}  // namespace orbisgrove::platform
