// The host's text formatter of the C interface. The host writes each text
// into a sink the kit owns, so that no string crosses from one allocator to
// the other.
#include <orbisgrove/feedback.h>
#include <orbisgrove/platform/TextFormatter.hpp>

#include <utility>

#include "kit/capi/Handles.hpp"

using namespace orbisgrove;

struct orbisgrove_text_sink {
  std::string text;
};

namespace {

template <typename Write>
std::string written(Write&& write) {
  orbisgrove_text_sink sink;
  write(&sink);
  return std::move(sink.text);
}

}  // namespace

extern "C" {

void orbisgrove_text_sink_write(orbisgrove_text_sink* sink, const char* text, size_t length) {
  if (!sink || !text) return;
  // Past memory the host learns nothing from a failed write; the text stays as it was.
  capi::guarded([&] {
    sink->text.append(text, length);
    return ORBISGROVE_OK;
  });
}

orbisgrove_status orbisgrove_set_text_formatter(const orbisgrove_text_formatter* formatter, orbisgrove_error** error) {
  if (error) *error = nullptr;
  return capi::guarded([&] {
    if (!formatter) return ORBISGROVE_ERROR_INVALID_ARGUMENT;
    const orbisgrove_text_formatter table = *formatter;
    platform::TextFormatter hosted;
    if (table.reason_phrase) {
      hosted.reasonPhrase = [table](std::int64_t code) {
        return written([&](orbisgrove_text_sink* sink) { table.reason_phrase(table.context, code, sink); });
      };
    }
    if (table.long_date_time) {
      hosted.longDateTime = [table](double seconds) {
        return written([&](orbisgrove_text_sink* sink) { table.long_date_time(table.context, seconds, sink); });
      };
    }
    if (table.full_duration) {
      hosted.fullDuration = [table](double seconds) -> std::optional<std::string> {
        bool given = false;
        std::string text = written(
            [&](orbisgrove_text_sink* sink) { given = table.full_duration(table.context, seconds, sink) != 0; });
        if (!given) return std::nullopt;
        return text;
      };
    }
    if (table.decimal) {
      hosted.decimal = [table](std::uint64_t value) {
        return written([&](orbisgrove_text_sink* sink) { table.decimal(table.context, value, sink); });
      };
    }
    if (table.whole_days_between) {
      hosted.wholeDaysBetween = [table](double from, double to) -> std::optional<std::int64_t> {
        std::int64_t days = 0;
        if (table.whole_days_between(table.context, from, to, &days) == 0) return std::nullopt;
        return days;
      };
    }
    if (auto failure = platform::installTextFormatter(std::move(hosted))) {
      if (error) *error = capi::wrapError(failure);
      return ORBISGROVE_ERROR_FAILED;
    }
    return ORBISGROVE_OK;
  });
}

}  // extern "C"
