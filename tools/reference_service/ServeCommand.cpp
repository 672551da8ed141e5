#include "ServeCommand.hpp"

#include <pthread.h>
#include <signal.h>

#include <charconv>
#include <cstdint>
#include <exception>
#include <iostream>
#include <limits>
#include <optional>
#include <ostream>
#include <string_view>
#include <system_error>

#include "ReferenceService.hpp"

namespace orbisgrove::tools {
namespace {

struct UsageError {
  std::string message;
};

template <typename Number>
Number parseNumber(std::string_view option, std::string_view text, Number minimum, Number maximum) {
  Number value{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < minimum || value > maximum) {
    throw UsageError{std::string(option) + " needs a whole number from " + std::to_string(minimum) + " to " +
                     std::to_string(maximum) + ", not \"" + std::string(text) + "\""};
  }
  return value;
}

/// Parses the options; absent when --help was asked for.
std::optional<ReferenceServiceOptions> parseOptions(const std::vector<std::string>& arguments) {
  ReferenceServiceOptions options;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    std::string_view word = arguments[i];
    if (word == "--help" || word == "-h") return std::nullopt;
    if (word == "--fail-after-store" || word == "--stall-after-store") {
      options.afterStore = word == "--stall-after-store" ? ReferenceServiceOptions::AfterStore::stall
                                                         : ReferenceServiceOptions::AfterStore::failConnection;
      continue;
    }
    std::string_view name = word;
    std::optional<std::string> value;
    if (const std::size_t equals = word.find('='); word.starts_with("--") && equals != std::string_view::npos) {
      name = word.substr(0, equals);
      value = std::string(word.substr(equals + 1));
    }
    const bool known = name == "--port" || name == "--bind" || name == "--store" || name == "--rate-limit" ||
                       name == "--rate-interval";
    if (!known) throw UsageError{"unknown argument \"" + std::string(word) + "\""};
    if (!value) {
      if (i + 1 == arguments.size()) throw UsageError{std::string(name) + " needs a value"};
      value = arguments[++i];
    }
    if (name == "--port") {
      options.port = parseNumber<std::uint16_t>(name, *value, 0, std::numeric_limits<std::uint16_t>::max());
    } else if (name == "--bind") {
      if (value->empty()) throw UsageError{"--bind needs an address"};
      options.bindAddress = *value;
    } else if (name == "--store") {
      if (value->empty()) throw UsageError{"--store needs a file name"};
      options.storeFile = *value;
    } else if (name == "--rate-limit") {
      options.submissionsPerInterval = parseNumber<std::size_t>(name, *value, 1, 1'000'000'000);
    } else {
      options.rateInterval = std::chrono::seconds(parseNumber<std::int64_t>(name, *value, 1, 366LL * 86400));
    }
  }
  return options;
}

// Blocks SIGINT and SIGTERM for the life of the object and restores the
// previous mask afterwards; a signal that arrives meanwhile stays pending
// until wait() takes it.
class BlockedStopSignals {
 public:
  BlockedStopSignals() {
    sigemptyset(&signals_);
    sigaddset(&signals_, SIGINT);
    sigaddset(&signals_, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals_, &previous_);
  }
  ~BlockedStopSignals() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
  BlockedStopSignals(const BlockedStopSignals&) = delete;
  BlockedStopSignals& operator=(const BlockedStopSignals&) = delete;

  void wait() const {
    int received = 0;
    while (sigwait(&signals_, &received) != 0) {
    }
  }

 private:
  sigset_t signals_{};
  sigset_t previous_{};
};

}  // namespace

std::string serveCommandUsage() {
  return "usage: orbisgrove-feedback serve [--port N] [--bind ADDR] [--store FILE] [--rate-limit N] "
         "[--rate-interval SECONDS]\n"
         "                           [--fail-after-store | --stall-after-store]\n";
}

int runServeCommand(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
  std::optional<ReferenceServiceOptions> options;
  try {
    options = parseOptions(arguments);
  } catch (const UsageError& usage) {
    err << "orbisgrove-feedback serve: " << usage.message << "\n" << serveCommandUsage() << std::flush;
    return 2;
  }
  if (!options) {
    out << serveCommandUsage() << std::flush;
    return 0;
  }

  // Before the service starts its threads, so that they inherit the mask.
  const BlockedStopSignals stopSignals;
  ReferenceService service(std::move(*options));
  try {
    service.start();
  } catch (const std::exception& e) {
    err << "orbisgrove-feedback serve: " << e.what() << std::endl;
    return 1;
  }
  out << "listening on " << service.serviceUrl() << "\n"
      << "trust this CA: " << service.caCertificateFile() << std::endl;
  stopSignals.wait();
  service.stop();
  return 0;
}

int runServeCommand(const std::vector<std::string>& arguments) {
  return runServeCommand(arguments, std::cout, std::cerr);
}

}  // namespace orbisgrove::tools
