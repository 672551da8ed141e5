// The formatter in use, fixed at the kit's first text or first request: a
// text must not change its wording halfway through the process, and a host
// formatter installed late would be a race with the threads already
// formatting.
#include "platform/text/TextFormatting.hpp"

#include "platform/core/Console.hpp"
#include "platform/core/KitError.hpp"
#include "platform/http/SharedSessionSetup.hpp"

#include <cmath>
#include <memory>
#include <mutex>
#include <utility>

namespace orbisgrove::platform {
namespace {

struct Formatters {
  TextFormatter host;
  TextFormatter fallback;
};

struct Installation {
  std::mutex mutex;
  std::optional<TextFormatter> host;
  std::shared_ptr<const Formatters> inUse;
};

Installation& installation() {
  static auto* installed = new Installation;  // never destroyed: texts are formatted while the process exits
  return *installed;
}

const Formatters& formatters() {
  auto& state = installation();
  const std::lock_guard lock(state.mutex);
  if (!state.inUse) {
    auto made = std::make_shared<Formatters>();
    made->fallback = defaultTextFormatter();
    if (state.host) made->host = std::move(*state.host);
    state.inUse = std::move(made);
  }
  return *state.inUse;
}

// The host's member when there is one and it returns; the default's when it
// is empty or throws.
template <typename Member, typename... Arguments>
auto format(Member member, Arguments... arguments) {
  const Formatters& in = formatters();
  if (const auto& host = in.host.*member) {
    try {
      return host(arguments...);
    } catch (...) {
      consoleLineForCurrentException("the host's text formatter failed; the kit's own text stands in");
    }
  }
  return (in.fallback.*member)(arguments...);
}

// Inside ICU's own range (some 5.8 million years each way) but small enough
// that a millisecond count stays exact; ICU would quietly clamp a moment
// outside its range instead of failing.
constexpr double kLargestMilliseconds = 9007199254740992.0;

}  // namespace

std::shared_ptr<const Error> installTextFormatter(TextFormatter formatter) {
  auto& state = installation();
  bool sessionMade = false;
  {
    auto& setup = http::sharedSetup();
    const std::lock_guard lock(setup.mutex);
    sessionMade = setup.session != nullptr;
  }
  const std::lock_guard lock(state.mutex);
  if (sessionMade || state.inUse) {
    return kitError(
        "The text formatter cannot change any more: the kit has formatted a text or made its session already. "
        "Install the formatter before the first request.");
  }
  state.host = std::move(formatter);
  return nullptr;
}

std::string statusPhrase(std::int64_t statusCode) { return format(&TextFormatter::reasonPhrase, statusCode); }

std::string longDateTimeText(Date moment) { return format(&TextFormatter::longDateTime, moment.secondsSince1970); }

std::optional<std::string> fullDurationText(double seconds) { return format(&TextFormatter::fullDuration, seconds); }

std::string decimalText(std::uint64_t value) { return format(&TextFormatter::decimal, value); }

std::optional<std::int64_t> wholeDaysBetween(Date from, Date to) {
  // A moment without age stays without one whoever counts.
  if (!isWithinCalendarRange(from) || !isWithinCalendarRange(to)) return std::nullopt;
  return format(&TextFormatter::wholeDaysBetween, from.secondsSince1970, to.secondsSince1970);
}

bool isWithinCalendarRange(Date moment) {
  const double milliseconds = moment.secondsSince1970 * 1000.0;
  return std::isfinite(milliseconds) && std::fabs(milliseconds) <= kLargestMilliseconds;
}

}  // namespace orbisgrove::platform
