#include "platform/store/StoredJSON.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <utility>
#include <vector>

#include "platform/json/JSONText.hpp"

namespace orbisgrove::platform::detail {
namespace {

template <class Integer>
void appendInteger(std::string& out, Integer value) {
  std::array<char, 24> digits{};
  auto* const end = std::to_chars(digits.data(), digits.data() + digits.size(), value).ptr;
  out.append(digits.data(), end);
}

}  // namespace

void appendStoredDouble(std::string& out, double value) {
  if (!std::isfinite(value)) {
    out += "null";
    return;
  }
  if (std::signbit(value)) out.push_back('-');
  value = std::fabs(value);
  if (value == 0) {
    out += "0.0";
    return;
  }
  // The shortest digits that read back as the value, and where the point goes:
  // the value is 0.digits times ten to the power `point`.
  std::array<char, 32> scientific{};
  auto* const end =
      std::to_chars(scientific.data(), scientific.data() + scientific.size(), value, std::chars_format::scientific).ptr;
  const std::string_view text(scientific.data(), static_cast<std::size_t>(end - scientific.data()));
  const std::size_t e = text.find('e');
  std::string digits(text.substr(0, 1));
  if (e > 1) digits.append(text.substr(2, e - 2));
  const int point = std::atoi(text.data() + e + 1) + 1;
  const int count = static_cast<int>(digits.size());
  // Plain notation for points up to 15 digits left and 3 zeros right of the
  // first digit, as printf's %g does within its precision; exponents beyond.
  if (count <= point && point <= 15) {
    out += digits;
    out.append(static_cast<std::size_t>(point - count), '0');
    out += ".0";
  } else if (0 < point && point <= 15) {
    out.append(digits, 0, static_cast<std::size_t>(point));
    out.push_back('.');
    out.append(digits, static_cast<std::size_t>(point));
  } else if (-4 < point && point <= 0) {
    out += "0.";
    out.append(static_cast<std::size_t>(-point), '0');
    out += digits;
  } else {
    out.push_back(digits[0]);
    if (count > 1) {
      out.push_back('.');
      out.append(digits, 1);
    }
    const int exponent = point - 1;
    out += exponent < 0 ? "e-" : "e+";
    if (std::abs(exponent) < 10) out.push_back('0');
    appendInteger(out, std::abs(exponent));
  }
}

void appendStoredString(std::string& out, std::string_view text) {
  if (isValidUTF8(text)) {
    appendJSONString(out, text);
  } else {
    appendJSONString(out, sanitizedUTF8(text));
  }
}

bool lastMember(simdjson::dom::object object, std::string_view key, simdjson::dom::element& member) {
  bool found = false;
  for (const auto field : object) {
    if (field.key == key) {
      member = field.value;
      found = true;
    }
  }
  return found;
}

void appendStoredElement(std::string& out, simdjson::dom::element element) {
  using simdjson::dom::element_type;
  switch (element.type()) {
    case element_type::OBJECT: {
      // In byte order of the keys; a stable sort keeps repeated keys in
      // their order, and the last of each run is the one written.
      std::vector<std::pair<std::string_view, simdjson::dom::element>> members;
      for (const auto field : simdjson::dom::object(element)) members.emplace_back(field.key, field.value);
      std::stable_sort(members.begin(), members.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
      out.push_back('{');
      bool first = true;
      for (std::size_t i = 0; i < members.size(); ++i) {
        if (i + 1 < members.size() && members[i + 1].first == members[i].first) continue;
        if (!first) out.push_back(',');
        first = false;
        appendStoredString(out, members[i].first);
        out.push_back(':');
        appendStoredElement(out, members[i].second);
      }
      out.push_back('}');
      return;
    }
    case element_type::ARRAY: {
      out.push_back('[');
      bool first = true;
      for (const auto item : simdjson::dom::array(element)) {
        if (!first) out.push_back(',');
        first = false;
        appendStoredElement(out, item);
      }
      out.push_back(']');
      return;
    }
    case element_type::STRING:
      appendStoredString(out, std::string_view(element));
      return;
    case element_type::INT64:
      appendInteger(out, std::int64_t(element));
      return;
    case element_type::UINT64:
      appendInteger(out, std::uint64_t(element));
      return;
    case element_type::DOUBLE:
      appendStoredDouble(out, double(element));
      return;
    case element_type::BOOL:
      out += bool(element) ? "true" : "false";
      return;
    case element_type::NULL_VALUE:
      out += "null";
      return;
  }
}

}  // namespace orbisgrove::platform::detail
