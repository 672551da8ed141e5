// The JSON the outbox store keeps in its own columns (archived errors, the
// records of stored replies), written the one way it has always been: compact,
// each object's keys in byte order, numbers in the shortest form that reads
// back as the same value.
#pragma once

#include <simdjson.h>

#include <string>
#include <string_view>

namespace orbisgrove::platform::detail {

/// Appends `value` in the shortest form that reads back as the same double,
/// with a fraction or an exponent ("1.0", "1e+20") so that it reads back as a
/// double and not an integer; null when it is not finite.
void appendStoredDouble(std::string& out, double value);

/// Appends `text` as a JSON string, each ill-formed UTF-8 byte written as U+FFFD.
void appendStoredString(std::string& out, std::string_view text);

/// Appends `element` compactly, each object's keys in byte order; of a key
/// written twice in one object the last one counts.
void appendStoredElement(std::string& out, simdjson::dom::element element);

/// The last member of `object` named `key`, as a parser that keeps the last of
/// repeated keys would hold it; false when there is none.
bool lastMember(simdjson::dom::object object, std::string_view key, simdjson::dom::element& member);

}  // namespace orbisgrove::platform::detail
