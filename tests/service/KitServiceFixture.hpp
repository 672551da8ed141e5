// A local HTTPS service that the kit's shared clients talk to, a private
// cache directory, and a quiet console: what every end-to-end test of the
// clients and the facade starts from.
#pragma once

#include <gtest/gtest.h>

#include <orbisgrove/OrbisgroveFeedbackKit.hpp>

#include <LocalHttpsService.hpp>

#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "LocaleScope.hpp"
#include "service/OrbisgroveReportCategoriesAPIManager.hpp"

namespace orbisgrove::testing {

class KitServiceFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::addTrustedCertificates(service.caFile());
    const auto endpoint = platform::URL::fromComponents("https", service.hostAndPort());
    ASSERT_TRUE(endpoint);
    OrbisgroveReportCategoriesAPIManager::shared().setApiEndpoint(*endpoint);
    OrbisgroveSaveUserDataAPIManager::shared().setApiEndpoint(*endpoint);

    cacheDirectory =
        std::filesystem::temp_directory_path() / ("orbisgrove-kit-test-" + std::to_string(::getpid()) + "-" +
                                                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(cacheDirectory);
    std::filesystem::create_directories(cacheDirectory);
    std::filesystem::permissions(cacheDirectory, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::replace);
    platform::setTemporaryDirectory(cacheDirectory.string());
    platform::setConsoleSink([this](std::string_view line) {
      const std::lock_guard lock(consoleMutex);
      console.emplace_back(line);
    });
    platform::setBundleIdentifier(std::nullopt);
    platform::MainQueue::shared().drain();
  }

  void TearDown() override {
    // Nothing a test started may reach the next one.
    platform::MainQueue::shared().runUntil([] { return false; }, std::chrono::milliseconds(50));
    platform::setConsoleSink(nullptr);
    std::filesystem::remove_all(cacheDirectory);
  }

  /// Runs the main queue until `done` holds; false after 20 seconds.
  static bool runMainQueueUntil(const std::function<bool()>& done) {
    return platform::MainQueue::shared().runUntil(done, std::chrono::seconds(20));
  }

  std::filesystem::path cacheFile() const { return cacheDirectory / "orbisgroveReportCategories.plist"; }

  // Day counts and texts must not depend on the machine's zone and language.
  LocaleScope locale{"en_US", "UTC"};
  LocalHttpsService service;
  std::filesystem::path cacheDirectory;
  std::mutex consoleMutex;
  std::vector<std::string> console;
};

}  // namespace orbisgrove::testing
