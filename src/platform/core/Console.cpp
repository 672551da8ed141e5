// The developer console: the host's sink, or standard error.
#include "platform/core/Console.hpp"

#include <orbisgrove/platform/Settings.hpp>

#include <exception>
#include <functional>
#include <iostream>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

namespace orbisgrove::platform {
namespace {

using Sink = std::function<void(std::string_view)>;

struct ConsoleSink {
  std::mutex mutex;
  std::shared_ptr<const Sink> sink;
};

ConsoleSink& consoleSink() {
  static auto* console = new ConsoleSink;  // never destroyed: usable during exit
  return *console;
}

}  // namespace

void setConsoleSink(std::function<void(std::string_view)> sink) {
  auto shared = sink ? std::make_shared<const Sink>(std::move(sink)) : nullptr;
  auto& console = consoleSink();
  const std::lock_guard lock(console.mutex);
  console.sink = std::move(shared);
}

void consoleLine(std::string_view line) {
  std::shared_ptr<const Sink> sink;
  {
    auto& console = consoleSink();
    const std::lock_guard lock(console.mutex);
    sink = console.sink;
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
