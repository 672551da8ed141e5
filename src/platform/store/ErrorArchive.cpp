#include "platform/store/ErrorArchive.hpp"

#include <charconv>
#include <cstdint>
#include <optional>
#include <type_traits>

#include "platform/store/StoredJSON.hpp"

namespace orbisgrove::platform {
namespace {

void appendInt64(std::string& out, std::int64_t value) {
  char digits[24];
  out.append(digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
}

// Keys in byte order: "code", "domain", "httpStatusCode",
// "mayHaveReachedServer", "userInfo" (whose keys the map keeps in order).
void appendError(std::string& out, const Error& error, int depth) {
  const auto& facts = error.deliveryFacts();
  out += "{\"code\":";
  appendInt64(out, error.code());
  out += ",\"domain\":";
  detail::appendStoredString(out, error.domain());
  if (facts.httpStatusCode) {
    out += ",\"httpStatusCode\":";
    appendInt64(out, *facts.httpStatusCode);
  }
  if (facts.requestMayHaveReachedServer) {
    out += *facts.requestMayHaveReachedServer ? ",\"mayHaveReachedServer\":true" : ",\"mayHaveReachedServer\":false";
  }
  out += ",\"userInfo\":{";
  bool first = true;
  for (const auto& [key, value] : error.userInfo()) {
    const auto* nested = std::get_if<std::shared_ptr<const Error>>(&value);
    if (nested != nullptr && (!*nested || depth >= 16)) continue;
    if (!first) out.push_back(',');
    first = false;
    detail::appendStoredString(out, key);
    out.push_back(':');
    if (nested != nullptr) {
      out += "{\"error\":";
      appendError(out, **nested, depth + 1);
      out.push_back('}');
    } else if (const auto* text = std::get_if<std::string>(&value)) {
      detail::appendStoredString(out, *text);
    } else if (const auto* integer = std::get_if<std::int64_t>(&value)) {
      appendInt64(out, *integer);
    } else {
      detail::appendStoredDouble(out, std::get<double>(value));
    }
  }
  out += "}}";
}

// An integer member, from any number or a truth value (a fraction is cut
// off), as the archive has always been read; nothing for other values.
std::optional<std::int64_t> integerOf(simdjson::dom::element element) {
  std::int64_t integer = 0;
  if (element.get_int64().get(integer) == simdjson::SUCCESS) return integer;
  std::uint64_t unsignedInteger = 0;
  if (element.get_uint64().get(unsignedInteger) == simdjson::SUCCESS) return static_cast<std::int64_t>(unsignedInteger);
  bool truth = false;
  if (element.get_bool().get(truth) == simdjson::SUCCESS) return truth ? 1 : 0;
  double number = 0;
  if (element.get_double().get(number) == simdjson::SUCCESS && number >= -0x1p63 && number < 0x1p63) {
    return static_cast<std::int64_t>(number);
  }
  return std::nullopt;
}

std::shared_ptr<const Error> errorFrom(simdjson::dom::element element) {
  simdjson::dom::object object;
  simdjson::dom::element member;
  simdjson::dom::object userInfo;
  if (element.get_object().get(object) != simdjson::SUCCESS || !detail::lastMember(object, "userInfo", member) ||
      member.get_object().get(userInfo) != simdjson::SUCCESS) {
    return nullptr;
  }
  UserInfo info;
  for (const auto field : userInfo) {
    const simdjson::dom::element value = field.value;
    simdjson::dom::object wrapper;
    simdjson::dom::element nested;
    switch (value.type()) {
      case simdjson::dom::element_type::STRING:
        info.insert_or_assign(std::string(field.key), std::string(std::string_view(value)));
        break;
      case simdjson::dom::element_type::INT64:
      case simdjson::dom::element_type::UINT64:
        info.insert_or_assign(std::string(field.key), *integerOf(value));
        break;
      case simdjson::dom::element_type::DOUBLE:
        info.insert_or_assign(std::string(field.key), double(value));
        break;
      case simdjson::dom::element_type::OBJECT:
        if (value.get_object().get(wrapper) == simdjson::SUCCESS && detail::lastMember(wrapper, "error", nested)) {
          auto error = errorFrom(nested);
          if (!error) return nullptr;
          info.insert_or_assign(std::string(field.key), std::move(error));
        }
        break;
      default:
        break;
    }
  }
  DeliveryFacts facts;
  if (detail::lastMember(object, "mayHaveReachedServer", member)) {
    bool reached = false;
    if (member.get_bool().get(reached) != simdjson::SUCCESS) return nullptr;
    facts.requestMayHaveReachedServer = reached;
  }
  if (detail::lastMember(object, "httpStatusCode", member)) {
    facts.httpStatusCode = integerOf(member);
    if (!facts.httpStatusCode) return nullptr;
  }
  std::string_view domain;
  if (!detail::lastMember(object, "domain", member) || member.get_string().get(domain) != simdjson::SUCCESS ||
      !detail::lastMember(object, "code", member)) {
    return nullptr;
  }
  const std::optional<std::int64_t> code = integerOf(member);
  if (!code) return nullptr;
  return Error::make(std::string(domain), *code, std::move(info), facts);
}

}  // namespace

std::string archivedError(const Error& error) {
  std::string out;
  appendError(out, error, 0);
  return out;
}

std::shared_ptr<const Error> unarchivedError(const std::string& text) {
  simdjson::dom::parser parser;
  simdjson::dom::element root;
  if (parser.parse(text).get(root) != simdjson::SUCCESS) return nullptr;
  return errorFrom(root);
}

}  // namespace orbisgrove::platform
