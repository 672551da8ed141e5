// Encoding: encoders write into a tree whose nodes never move, so an encoder
// handed out earlier stays usable while its siblings are added; the tree is
// turned into compact JSON text only when asked.
#include <orbisgrove/platform/JSONCoding.hpp>

#include "platform/json/JSONCodingErrors.hpp"
#include "platform/json/JSONText.hpp"

#include <charconv>
#include <deque>
#include <unordered_map>
#include <utility>
#include <vector>

namespace orbisgrove::platform {

namespace detail {

struct EncodingArena;

struct EncodedValue {
  enum class Kind : std::uint8_t { null, string, integer, array, object };

  // Lookup of a large object's members by key; small objects are scanned.
  struct KeyHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view name) const noexcept { return std::hash<std::string_view>{}(name); }
  };
  using KeyIndex = std::unordered_map<std::string_view, EncodedValue*, KeyHash, std::equal_to<>>;

  EncodingArena* arena = nullptr;
  Kind kind = Kind::null;
  std::int64_t integer = 0;
  std::string key;   // the name under which this value is a member of its object
  std::string text;  // a string's value
  std::vector<EncodedValue*> children;
  std::unique_ptr<KeyIndex> index;

  void reset(Kind newKind) {
    kind = newKind;
    integer = 0;
    text.clear();
    children.clear();
    index.reset();
  }
};

struct EncodingArena {
  std::deque<EncodedValue> values;  // a deque never moves what it holds

  EncodedValue& make() {
    EncodedValue& value = values.emplace_back();
    value.arena = this;
    return value;
  }
};

}  // namespace detail

struct JSONEncodingDocument::Storage {
  detail::EncodingArena arena;
  detail::EncodedValue* root = nullptr;
};

namespace {

using detail::EncodedValue;

constexpr std::size_t indexedObjectSize = 16;

EncodedValue& valueOf(void* value) noexcept { return *static_cast<EncodedValue*>(value); }

[[noreturn]] void throwNotUTF8(const detail::CodingPathNode& path, std::string_view what) {
  std::string pathText = detail::describeCodingPath(&path);
  std::string reason = "Cannot encode ";
  reason += what;
  reason += pathText.empty() ? std::string(" at the top level") : " at " + pathText;
  reason += ": it is not valid UTF-8.";
  throw CodingError(detail::makeCodingError(JSONCodingErrorCode::invalidValue, std::move(reason), std::move(pathText)));
}

// The member under `key`, created as null at the end of the object, or, when
// the key was written before, that member reset to null where it stands.
EncodedValue& memberFor(EncodedValue& object, std::string_view key) {
  if (object.kind != EncodedValue::Kind::object) object.reset(EncodedValue::Kind::object);
  EncodedValue* existing = nullptr;
  if (object.index) {
    if (const auto found = object.index->find(key); found != object.index->end()) existing = found->second;
  } else {
    for (EncodedValue* member : object.children) {
      if (member->key == key) {
        existing = member;
        break;
      }
    }
  }
  if (existing != nullptr) {
    existing->reset(EncodedValue::Kind::null);
    return *existing;
  }
  EncodedValue& member = object.arena->make();
  member.key = key;
  object.children.push_back(&member);
  if (object.index) {
    object.index->emplace(member.key, &member);
  } else if (object.children.size() > indexedObjectSize) {
    object.index = std::make_unique<EncodedValue::KeyIndex>();
    for (EncodedValue* child : object.children) object.index->emplace(child->key, child);
  }
  return member;
}

void appendScalar(std::string& out, const EncodedValue& value) {
  switch (value.kind) {
    case EncodedValue::Kind::string:
      detail::appendJSONString(out, value.text);
      break;
    case EncodedValue::Kind::integer: {
      char digits[24];
      const auto result = std::to_chars(digits, digits + sizeof digits, value.integer);
      out.append(digits, result.ptr);
      break;
    }
    case EncodedValue::Kind::null:
    case EncodedValue::Kind::array:
    case EncodedValue::Kind::object:
      out += "null";
      break;
  }
}

// Iterative, so that the depth of what was encoded never meets the stack's.
std::string serialize(const EncodedValue& root) {
  struct Frame {
    const EncodedValue* container;
    std::size_t next;
  };
  std::string out;
  std::vector<Frame> open;
  const auto begin = [&](const EncodedValue& value) {
    if (value.kind == EncodedValue::Kind::array || value.kind == EncodedValue::Kind::object) {
      out.push_back(value.kind == EncodedValue::Kind::array ? '[' : '{');
      open.push_back(Frame{&value, 0});
    } else {
      appendScalar(out, value);
    }
  };
  begin(root);
  while (!open.empty()) {
    Frame& frame = open.back();
    const EncodedValue& container = *frame.container;
    if (frame.next == container.children.size()) {
      out.push_back(container.kind == EncodedValue::Kind::array ? ']' : '}');
      open.pop_back();
      continue;
    }
    if (frame.next > 0) out.push_back(',');
    const EncodedValue& child = *container.children[frame.next++];
    if (container.kind == EncodedValue::Kind::object) {
      detail::appendJSONString(out, child.key);
      out.push_back(':');
    }
    begin(child);  // may grow `open`, so `frame` is not used after this
  }
  return out;
}

}  // namespace

// MARK: Encoder

KeyedEncodingContainer Encoder::container() {
  EncodedValue& value = valueOf(value_);
  // Opening a container twice keeps what the first one wrote.
  if (value.kind != EncodedValue::Kind::object) value.reset(EncodedValue::Kind::object);
  return KeyedEncodingContainer(*this);
}

UnkeyedEncodingContainer Encoder::unkeyedContainer() {
  EncodedValue& value = valueOf(value_);
  if (value.kind != EncodedValue::Kind::array) value.reset(EncodedValue::Kind::array);
  return UnkeyedEncodingContainer(*this);
}

void Encoder::encodeNil() { valueOf(value_).reset(EncodedValue::Kind::null); }

void Encoder::encode(std::string_view text) {
  if (!detail::isValidUTF8(text)) throwNotUTF8(node_, "a text");
  EncodedValue& value = valueOf(value_);
  value.reset(EncodedValue::Kind::string);
  value.text.assign(text);
}

void Encoder::encode(std::int64_t value) {
  EncodedValue& encoded = valueOf(value_);
  encoded.reset(EncodedValue::Kind::integer);
  encoded.integer = value;
}

std::string Encoder::codingPath() const { return detail::describeCodingPath(&node_); }

// MARK: KeyedEncodingContainer

Encoder KeyedEncodingContainer::encoder(std::string_view key) {
  const detail::CodingPathNode path{&encoder_.node_, key, 0, false};
  if (!detail::isValidUTF8(key)) throwNotUTF8(path, "a key");
  EncodedValue& member = memberFor(valueOf(encoder_.value_), key);
  // The member's own copy of the key lives as long as the document.
  return Encoder(&member, detail::CodingPathNode{&encoder_.node_, member.key, 0, false});
}

void KeyedEncodingContainer::encodeNil(std::string_view key) { (void)encoder(key); }

void KeyedEncodingContainer::encode(std::string_view key, const std::optional<std::string>& text) {
  // Checked before the member is created, so a failing text leaves no trace.
  if (text && !detail::isValidUTF8(*text)) {
    throwNotUTF8(detail::CodingPathNode{&encoder_.node_, key, 0, false}, "a text");
  }
  Encoder member = encoder(key);
  if (text) member.encode(*text);
}

void KeyedEncodingContainer::encode(std::string_view key, std::optional<std::int64_t> value) {
  Encoder member = encoder(key);
  if (value) member.encode(*value);
}

// MARK: UnkeyedEncodingContainer

Encoder UnkeyedEncodingContainer::appendEncoder() {
  EncodedValue& array = valueOf(encoder_.value_);
  if (array.kind != EncodedValue::Kind::array) array.reset(EncodedValue::Kind::array);
  EncodedValue& element = array.arena->make();
  array.children.push_back(&element);
  count_ = array.children.size();
  return Encoder(&element, detail::CodingPathNode{&encoder_.node_, {}, count_ - 1, true});
}

// MARK: JSONEncodingDocument

JSONEncodingDocument::JSONEncodingDocument() : storage_(std::make_unique<Storage>()) {
  storage_->root = &storage_->arena.make();
}

JSONEncodingDocument::~JSONEncodingDocument() = default;

Encoder JSONEncodingDocument::root() noexcept { return Encoder(storage_->root, detail::CodingPathNode{}); }

std::string JSONEncodingDocument::serialized() const { return serialize(*storage_->root); }

}  // namespace orbisgrove::platform
