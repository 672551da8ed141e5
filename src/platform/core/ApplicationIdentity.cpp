// The identity and directories a host sets for the platform, kept together
// under one lock.
#include "platform/core/ApplicationIdentity.hpp"

#include <orbisgrove/platform/Settings.hpp>

#include <mutex>
#include <utility>

namespace orbisgrove::platform {
namespace {

struct HostSettings {
  std::mutex mutex;
  std::optional<std::string> bundleIdentifier;
  std::optional<std::string> temporaryDirectory;
  std::optional<std::string> dataDirectory;
};

HostSettings& hostSettings() {
  static auto* settings = new HostSettings;  // never destroyed: usable during exit
  return *settings;
}

// Sets or reads one of the settings under the lock.
void set(std::optional<std::string> HostSettings::*setting, std::optional<std::string> value) {
  auto& settings = hostSettings();
  const std::lock_guard lock(settings.mutex);
  settings.*setting = std::move(value);
}

std::optional<std::string> get(std::optional<std::string> HostSettings::*setting) {
  auto& settings = hostSettings();
  const std::lock_guard lock(settings.mutex);
  return settings.*setting;
}

}  // namespace

void setTemporaryDirectory(std::string directory) {
  if (!directory.empty() && directory.back() != '/') directory += '/';
  set(&HostSettings::temporaryDirectory, std::move(directory));
}

void setDataDirectory(std::string directory) { set(&HostSettings::dataDirectory, std::move(directory)); }

void setBundleIdentifier(std::optional<std::string> bundleIdentifier) {
  set(&HostSettings::bundleIdentifier, std::move(bundleIdentifier));
}

std::optional<std::string> mainBundleIdentifier() { return get(&HostSettings::bundleIdentifier); }

std::optional<std::string> temporaryDirectoryOverride() { return get(&HostSettings::temporaryDirectory); }

std::optional<std::string> dataDirectoryOverride() { return get(&HostSettings::dataDirectory); }

}  // namespace orbisgrove::platform
