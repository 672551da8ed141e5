// Decoding: the decoders and containers walk a document's tree, and every
// failure names what was expected, what was found and where.
#include <orbisgrove/platform/JSONCoding.hpp>

#include "platform/json/JSONCodingErrors.hpp"
#include "platform/json/JSONTree.hpp"

#include <cstring>
#include <string>

namespace orbisgrove::platform {
namespace {

using detail::JSONKind;
using detail::JSONNode;
using detail::nodeOf;

std::string_view describeKind(const JSONNode& node) noexcept {
  switch (node.kind()) {
    case JSONKind::null:
      return "null";
    case JSONKind::falseValue:
      return "false";
    case JSONKind::trueValue:
      return "true";
    case JSONKind::integer:
    case JSONKind::otherNumber:
      return "a number";
    case JSONKind::string:
      return "a string";
    case JSONKind::array:
      return "an array";
    case JSONKind::object:
      return "an object";
  }
  return "a value";
}

[[noreturn]] void throwUnexpected(const detail::CodingPathNode& path, std::string_view expected,
                                  const JSONNode& found) {
  const JSONCodingErrorCode code =
      found.kind() == JSONKind::null ? JSONCodingErrorCode::valueNotFound : JSONCodingErrorCode::typeMismatch;
  detail::throwExpectation(code, path, expected, describeKind(found));
}

constexpr std::string_view integerExpectation = "an integer in the signed 64-bit range";

std::int64_t int64Value(const JSONNode& node, const detail::CodingPathNode& path) {
  if (node.kind() == JSONKind::integer) return node.value.integer;
  if (node.kind() == JSONKind::otherNumber) {
    detail::throwExpectation(JSONCodingErrorCode::dataCorrupted, path, integerExpectation, node.text());
  }
  throwUnexpected(path, integerExpectation, node);
}

std::string_view stringValue(const JSONNode& node, const detail::CodingPathNode& path) {
  if (node.kind() != JSONKind::string) throwUnexpected(path, "a string", node);
  return node.text();
}

// Keys are short and mostly of a few lengths, so most members are told apart
// by their length or their first and last eight bytes, without a call.
bool sameKey(std::string_view found, std::string_view key) noexcept {
  const std::size_t size = key.size();
  if (found.size() != size) return false;
  if (size < sizeof(std::uint64_t)) {
    for (std::size_t i = 0; i < size; ++i) {
      if (found[i] != key[i]) return false;
    }
    return true;
  }
  const auto word = [](const char* at) {
    std::uint64_t value = 0;
    std::memcpy(&value, at, sizeof value);
    return value;
  };
  if (word(found.data()) != word(key.data())) return false;
  const std::size_t last = size - sizeof(std::uint64_t);
  if (word(found.data() + last) != word(key.data() + last)) return false;
  return size <= 2 * sizeof(std::uint64_t) || found.substr(8, last - 8) == key.substr(8, last - 8);
}

// Duplicate keys: the last one wins, as most JSON readers have it. Records
// have a handful of keys, so a backwards scan beats any index.
const JSONNode* findMember(const JSONNode& object, std::string_view key) noexcept {
  const JSONNode* const members = object.children();
  for (std::uint32_t i = object.count(); i > 0; --i) {
    const JSONNode& member = members[i - 1];
    if (sameKey(member.keyText(), key)) return &member;
  }
  return nullptr;
}

}  // namespace

// MARK: Decoder

KeyedDecodingContainer Decoder::container() const {
  const JSONNode& node = nodeOf(value_);
  if (node.kind() != JSONKind::object) throwUnexpected(node_, "an object", node);
  return KeyedDecodingContainer(*this);
}

UnkeyedDecodingContainer Decoder::unkeyedContainer() const {
  const JSONNode& node = nodeOf(value_);
  if (node.kind() != JSONKind::array) throwUnexpected(node_, "an array", node);
  return UnkeyedDecodingContainer(*this);
}

bool Decoder::decodeNil() const noexcept { return nodeOf(value_).kind() == JSONKind::null; }

std::string Decoder::decodeString() const { return std::string(stringValue(nodeOf(value_), node_)); }

std::int64_t Decoder::decodeInt64() const { return int64Value(nodeOf(value_), node_); }

std::string Decoder::codingPath() const { return detail::describeCodingPath(&node_); }

// MARK: KeyedDecodingContainer

bool KeyedDecodingContainer::contains(std::string_view key) const noexcept {
  return findMember(nodeOf(decoder_.value_), key) != nullptr;
}

std::optional<Decoder> KeyedDecodingContainer::decoderIfPresent(std::string_view key) const {
  const JSONNode* member = findMember(nodeOf(decoder_.value_), key);
  if (member == nullptr || member->kind() == JSONKind::null) return std::nullopt;
  // The document's copy of the key outlives every decoder, unlike the caller's.
  return Decoder(member, detail::CodingPathNode{&decoder_.node_, member->keyText(), 0, false});
}

std::optional<std::string> KeyedDecodingContainer::decodeStringIfPresent(std::string_view key) const {
  const JSONNode* member = findMember(nodeOf(decoder_.value_), key);
  if (member == nullptr || member->kind() == JSONKind::null) return std::nullopt;
  // Made in place: the record that takes it gets it without a move.
  return std::optional<std::string>(std::in_place,
                                    stringValue(*member, detail::CodingPathNode{&decoder_.node_, key, 0, false}));
}

std::shared_ptr<const Number> KeyedDecodingContainer::decodeInt64IfPresent(std::string_view key) const {
  const JSONNode* member = findMember(nodeOf(decoder_.value_), key);
  if (member == nullptr || member->kind() == JSONKind::null) return nullptr;
  return Number::withInt64(int64Value(*member, detail::CodingPathNode{&decoder_.node_, key, 0, false}));
}

// MARK: UnkeyedDecodingContainer

std::size_t UnkeyedDecodingContainer::count() const noexcept { return nodeOf(decoder_.value_).count(); }

Decoder UnkeyedDecodingContainer::decoder(std::size_t index) const {
  const JSONNode& array = nodeOf(decoder_.value_);
  const detail::CodingPathNode path{&decoder_.node_, {}, index, true};
  if (index >= array.count()) {
    detail::throwExpectation(JSONCodingErrorCode::valueNotFound, path, "a value",
                             "the end of an array of " + std::to_string(array.count()) + " elements");
  }
  return Decoder(&array.children()[index], path);
}

}  // namespace orbisgrove::platform