// The settings a host makes for the platform, kept together under one lock.
#include <orbisgrove/platform/Settings.hpp>

#include "platform/core/ApplicationIdentity.hpp"
#include "platform/core/Console.hpp"

#include <exception>
#include <iostream>
#include <memory>
#include <mutex>
#include <utility>

namespace orbisgrove::platform {
namespace {

struct HostSettings {
  std::mutex mutex;
  std::optional<std::string> bundleIdentifier;
  std::optional<std::string> temporaryDirectory;
  std::optional<std::string> dataDirectory;
  std::shared_ptr<const std::function<void(std::string_view)>> consoleSink;
};

HostSettings& hostSettings() {
  static auto* settings = new HostSettings;  // never destroyed: usable during exit
  return *settings;
}

}  // namespace

void setTemporaryDirectory(std::string directory) {
  if (!directory.empty() && directory.back() != '/') directory += '/';
  auto& settings = hostSettings();
  const std::lock_guard lock(settings.mutex);
  settings.temporaryDirectory = std::move(directory);
}

void setDataDirectory(std::string directory) {
  auto& settings = hostSettings();
  const std::lock_guard lock(settings.mutex);
  settings.dataDirectory = std::move(directory);
}

std::optional<std::string> dataDirectoryOverride() {
  auto& settings = hostSettings();
  const std::lock_guard lock(settings.mutex);
  return settings.dataDirectory;
}

void setBundleIdentifier(std::optional<std::string> bundleIdentifier) {
  auto& settings = hostSettings();
  const std::lock_guard lock(settings.mutex);
  settings.bundleIdentifier = std::move(bundleIdentifier);
}

void setConsoleSink(std::function<void(std::string_view)> sink) {
  auto shared = sink ? std::make_shared<const std::function<void(std::string_view)>>(std::move(sink)) : nullptr;
  auto& settings = hostSettings();
  const std::lock_guard lock(settings.mutex);
  settings.consoleSink = std::move(shared);
}

std::optional<std::string> mainBundleIdentifier() {
  auto& settings = hostSettings();
  const std::lock_guard lock(settings.mutex);
  return settings.bundleIdentifier;
}

std::optional<std::string> temporaryDirectoryOverride() {
  auto& settings = hostSettings();
  const std::lock_guard lock(settings.mutex);
  return settings.temporaryDirectory;
}

void consoleLine(std::string_view line) {
  std::shared_ptr<const std::function<void(std::string_view)>> sink;
  {
    auto& settings = hostSettings();
    const std::lock_guard lock(settings.mutex);
    sink = settings.consoleSink;
  }
  // The sink runs outside the lock so that it may log through the kit again.
  if (sink) {
    (*sink)(line);
    return;
  }
  std::string text(line);
  text += '\n';
  std::cerr.write(text.data(), static_cast<std::streamsize>(text.size()));
  std::cerr.flush();
}

void consoleLineForCurrentException(std::string_view what) noexcept {
  try {
    std::string line = "orbisgrove: ";
    line += what;
    try {
      throw;
    } catch (const std::exception& failure) {
      line += ": ";
      line += failure.what();
    } catch (...) {  // NOLINT(bugprone-empty-catch): nothing more to say of it
    }
    consoleLine(line);
  } catch (...) {  // NOLINT(bugprone-empty-catch): nowhere left to report to
  }
}

}  // namespace orbisgrove::platform
