// Decoding: the bytes are parsed once into a compact, read-only tree that the
// decoders walk. The tree is built through the parser's event interface so
// that numbers are judged by their literal text, nesting is bounded, and a
// document costs a few large allocations instead of one per value.
#include <orbisgrove/platform/JSONCoding.hpp>

#include "platform/json/JSONCodingErrors.hpp"
#include "platform/json/JSONText.hpp"

#include <nlohmann/json.hpp>

#include <limits>
#include <utility>
#include <vector>

namespace orbisgrove::platform {

namespace detail {

enum class JSONKind : std::uint8_t { null, boolean, number, string, array, object };

// How a number node holds its value.
enum class JSONNumberForm : std::uint8_t {
  exactInteger,   // `integer`: the literal is exactly this signed 64-bit integer
  largeUnsigned,  // `largeUnsigned`: an integer literal past the signed range
  otherLiteral,   // `text`: anything else, kept as written for messages
};

// One value of a parsed document. While the document is built, `keyOffset`
// and `offset` index the text arena and the node array; once both stop
// growing they are turned into the pointers that readers use.
struct JSONNode {
  union {
    std::size_t keyOffset;
    const char* key;
  };
  union {
    std::int64_t integer;
    std::uint64_t largeUnsigned;
    std::size_t offset;
    const char* text;
    const JSONNode* children;
  };
  std::uint32_t keyLength;  // 0 outside objects
  std::uint32_t size;       // text length, or number of children
  JSONKind kind;
  std::uint8_t flag;  // the boolean's value, or the number's JSONNumberForm

  [[nodiscard]] std::string_view keyText() const noexcept { return {key, keyLength}; }
  [[nodiscard]] std::string_view textValue() const noexcept { return {text, size}; }
  [[nodiscard]] JSONNumberForm numberForm() const noexcept { return static_cast<JSONNumberForm>(flag); }
};

}  // namespace detail

struct JSONDocument::Storage {
  std::vector<detail::JSONNode> nodes;
  std::string arena;  // every string, key and kept number literal, back to back
  const detail::JSONNode* root = nullptr;
};

namespace {

using detail::JSONKind;
using detail::JSONNode;
using detail::JSONNumberForm;

// The bytes come from the network; beyond this depth a document is refused
// rather than allowed to grow the builder's stacks or a record decoder's
// recursion without bound.
constexpr std::size_t maximumDepth = 512;

// Sizes are held in 32 bits to keep nodes small.
constexpr std::size_t maximumDocumentSize = std::numeric_limits<std::uint32_t>::max();

[[noreturn]] void throwNotJSON(std::string_view problem) {
  std::string reason = "The data is not valid JSON: ";
  reason += detail::sanitizedUTF8(problem);
  throw CodingError(detail::makeCodingError(JSONCodingErrorCode::dataCorrupted, std::move(reason), std::string()));
}

// Receives the parser's events. Values of an open array or object wait on
// `pending_`; when the container closes they move, as one contiguous run, to
// the document's node array, so that children are found by index.
class DocumentBuilder {
 public:
  DocumentBuilder(std::vector<JSONNode>& nodes, std::string& arena) : nodes_(nodes), arena_(arena) {}

  // NOLINTBEGIN(readability-identifier-naming): the parser's event names
  bool null() {
    push(JSONKind::null);
    return true;
  }
  bool boolean(bool value) {
    push(JSONKind::boolean).flag = value ? 1 : 0;
    return true;
  }
  bool number_integer(std::int64_t value) {
    JSONNode& node = push(JSONKind::number);
    node.flag = static_cast<std::uint8_t>(JSONNumberForm::exactInteger);
    node.integer = value;
    return true;
  }
  bool number_unsigned(std::uint64_t value) {
    JSONNode& node = push(JSONKind::number);
    if (value <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
      node.flag = static_cast<std::uint8_t>(JSONNumberForm::exactInteger);
      node.integer = static_cast<std::int64_t>(value);
    } else {
      node.flag = static_cast<std::uint8_t>(JSONNumberForm::largeUnsigned);
      node.largeUnsigned = value;
    }
    return true;
  }
  // `literal` is the number as written, except that the parser has replaced
  // the decimal point with the C locale's; the double is not used, since it
  // rounds (2^63 + 0.5 and 2^63 are the same double).
  bool number_float(double /*rounded*/, const std::string& literal) {
    const std::optional<std::int64_t> exact = detail::exactInt64FromNumberLiteral(literal);
    JSONNode& node = push(JSONKind::number);
    if (exact) {
      node.flag = static_cast<std::uint8_t>(JSONNumberForm::exactInteger);
      node.integer = *exact;
      return true;
    }
    node.flag = static_cast<std::uint8_t>(JSONNumberForm::otherLiteral);
    node.offset = arena_.size();
    node.size = static_cast<std::uint32_t>(literal.size());
    for (const char c : literal) {
      const bool kept = (c >= '0' && c <= '9') || c == '-' || c == '+' || c == 'e' || c == 'E';
      arena_.push_back(kept ? c : '.');
    }
    return true;
  }
  bool string(std::string& value) {
    JSONNode& node = push(JSONKind::string);
    node.offset = store(value);
    node.size = static_cast<std::uint32_t>(value.size());
    return true;
  }
  bool binary(nlohmann::json::binary_t& /*value*/) { return false; }  // never produced by JSON text
  bool start_object(std::size_t /*unknown*/) { return open(JSONKind::object); }
  bool key(std::string& value) {
    keyOffset_ = store(value);
    keyLength_ = static_cast<std::uint32_t>(value.size());
    return true;
  }
  bool end_object() {
    close();
    return true;
  }
  bool start_array(std::size_t /*unknown*/) { return open(JSONKind::array); }
  bool end_array() {
    close();
    return true;
  }
  bool parse_error(std::size_t /*position*/, const std::string& /*token*/, const nlohmann::json::exception& error) {
    // "[json.exception.parse_error.101] parse error at line 1, ..." without the bracketed id.
    std::string_view message = error.what();
    if (const std::size_t end = message.find("] ");
        !message.empty() && message.front() == '[' && end != std::string_view::npos) {
      message.remove_prefix(end + 2);
    }
    parserMessage_ = message;
    return false;
  }
  // NOLINTEND(readability-identifier-naming)

  [[nodiscard]] bool tooDeep() const noexcept { return tooDeep_; }
  [[nodiscard]] const std::string& parserMessage() const noexcept { return parserMessage_; }

  // After a successful parse: moves the root into place and turns offsets into pointers.
  const JSONNode* finish() {
    nodes_.push_back(pending_.front());
    const char* const text = arena_.data();
    const JSONNode* const base = nodes_.data();
    for (JSONNode& node : nodes_) {
      node.key = text + node.keyOffset;
      switch (node.kind) {
        case JSONKind::string:
          node.text = text + node.offset;
          break;
        case JSONKind::number:
          if (node.numberForm() == JSONNumberForm::otherLiteral) node.text = text + node.offset;
          break;
        case JSONKind::array:
        case JSONKind::object:
          node.children = base + node.offset;
          break;
        case JSONKind::null:
        case JSONKind::boolean:
          break;
      }
    }
    return &nodes_.back();
  }

 private:
  JSONNode& push(JSONKind kind) {
    JSONNode& node = pending_.emplace_back();
    node.keyOffset = keyOffset_;
    node.integer = 0;
    node.keyLength = keyLength_;
    node.size = 0;
    node.kind = kind;
    node.flag = 0;
    keyOffset_ = 0;
    keyLength_ = 0;
    return node;
  }

  std::size_t store(std::string_view text) {
    const std::size_t offset = arena_.size();
    arena_.append(text);
    return offset;
  }

  bool open(JSONKind kind) {
    if (openContainers_.size() >= maximumDepth) {
      tooDeep_ = true;
      return false;
    }
    push(kind);
    openContainers_.push_back(pending_.size());
    return true;
  }

  void close() {
    const std::size_t first = openContainers_.back();
    openContainers_.pop_back();
    JSONNode& container = pending_[first - 1];
    container.offset = nodes_.size();
    container.size = static_cast<std::uint32_t>(pending_.size() - first);
    const auto firstChild = pending_.begin() + static_cast<std::ptrdiff_t>(first);
    nodes_.insert(nodes_.end(), firstChild, pending_.end());
    pending_.erase(firstChild, pending_.end());
  }

  std::vector<JSONNode>& nodes_;
  std::string& arena_;
  std::vector<JSONNode> pending_;
  std::vector<std::size_t> openContainers_;  // index in `pending_` of each open container's first child
  std::size_t keyOffset_ = 0;
  std::uint32_t keyLength_ = 0;
  bool tooDeep_ = false;
  std::string parserMessage_;
};

const JSONNode& nodeOf(const void* value) noexcept { return *static_cast<const JSONNode*>(value); }

std::string_view describeKind(const JSONNode& node) noexcept {
  switch (node.kind) {
    case JSONKind::null:
      return "null";
    case JSONKind::boolean:
      return node.flag != 0 ? "true" : "false";
    case JSONKind::number:
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
      found.kind == JSONKind::null ? JSONCodingErrorCode::valueNotFound : JSONCodingErrorCode::typeMismatch;
  detail::throwExpectation(code, path, expected, describeKind(found));
}

constexpr std::string_view integerExpectation = "an integer in the signed 64-bit range";

std::int64_t int64Value(const JSONNode& node, const detail::CodingPathNode& path) {
  if (node.kind != JSONKind::number) throwUnexpected(path, integerExpectation, node);
  switch (node.numberForm()) {
    case JSONNumberForm::exactInteger:
      return node.integer;
    case JSONNumberForm::largeUnsigned:
      detail::throwExpectation(JSONCodingErrorCode::dataCorrupted, path, integerExpectation,
                               std::to_string(node.largeUnsigned));
    case JSONNumberForm::otherLiteral:
      break;
  }
  detail::throwExpectation(JSONCodingErrorCode::dataCorrupted, path, integerExpectation, node.textValue());
}

std::string stringValue(const JSONNode& node, const detail::CodingPathNode& path) {
  if (node.kind != JSONKind::string) throwUnexpected(path, "a string", node);
  return std::string(node.textValue());
}

// Duplicate keys: the last one wins, as most JSON readers have it. Records
// have a handful of keys, so a backwards scan beats any index.
const JSONNode* findMember(const JSONNode& object, std::string_view key) noexcept {
  for (std::uint32_t i = object.size; i > 0; --i) {
    const JSONNode& member = object.children[i - 1];
    if (member.keyText() == key) return &member;
  }
  return nullptr;
}

}  // namespace

// MARK: JSONDocument

JSONDocument::JSONDocument(std::string_view bytes) : storage_(std::make_unique<Storage>()) {
  if (bytes.size() > maximumDocumentSize) throwNotJSON("the data is larger than 4 GiB.");
  // Strings, keys and kept literals never take more room than their source
  // text, so the arena is sized once.
  storage_->arena.reserve(bytes.size());
  DocumentBuilder builder(storage_->nodes, storage_->arena);
  const bool parsed = nlohmann::json::sax_parse(bytes.data(), bytes.data() + bytes.size(), &builder,
                                                nlohmann::json::input_format_t::json, /*strict=*/true);
  if (!parsed) {
    if (builder.tooDeep()) {
      throwNotJSON("arrays and objects are nested more than " + std::to_string(maximumDepth) + " levels deep.");
    }
    throwNotJSON(builder.parserMessage());
  }
  storage_->root = builder.finish();
}

JSONDocument::~JSONDocument() = default;

Decoder JSONDocument::root() const noexcept { return Decoder(storage_->root, detail::CodingPathNode{}); }

// MARK: Decoder

KeyedDecodingContainer Decoder::container() const {
  const JSONNode& node = nodeOf(value_);
  if (node.kind != JSONKind::object) throwUnexpected(node_, "an object", node);
  return KeyedDecodingContainer(*this);
}

UnkeyedDecodingContainer Decoder::unkeyedContainer() const {
  const JSONNode& node = nodeOf(value_);
  if (node.kind != JSONKind::array) throwUnexpected(node_, "an array", node);
  return UnkeyedDecodingContainer(*this);
}

bool Decoder::decodeNil() const noexcept { return nodeOf(value_).kind == JSONKind::null; }

std::string Decoder::decodeString() const { return stringValue(nodeOf(value_), node_); }

std::int64_t Decoder::decodeInt64() const { return int64Value(nodeOf(value_), node_); }

std::string Decoder::codingPath() const { return detail::describeCodingPath(&node_); }

// MARK: KeyedDecodingContainer

bool KeyedDecodingContainer::contains(std::string_view key) const noexcept {
  return findMember(nodeOf(decoder_.value_), key) != nullptr;
}

std::optional<Decoder> KeyedDecodingContainer::decoderIfPresent(std::string_view key) const {
  const JSONNode* member = findMember(nodeOf(decoder_.value_), key);
  if (member == nullptr || member->kind == JSONKind::null) return std::nullopt;
  // The document's copy of the key outlives every decoder, unlike the caller's.
  return Decoder(member, detail::CodingPathNode{&decoder_.node_, member->keyText(), 0, false});
}

std::optional<std::string> KeyedDecodingContainer::decodeStringIfPresent(std::string_view key) const {
  const JSONNode* member = findMember(nodeOf(decoder_.value_), key);
  if (member == nullptr || member->kind == JSONKind::null) return std::nullopt;
  return stringValue(*member, detail::CodingPathNode{&decoder_.node_, key, 0, false});
}

std::shared_ptr<const Number> KeyedDecodingContainer::decodeInt64IfPresent(std::string_view key) const {
  const JSONNode* member = findMember(nodeOf(decoder_.value_), key);
  if (member == nullptr || member->kind == JSONKind::null) return nullptr;
  return Number::withInt64(int64Value(*member, detail::CodingPathNode{&decoder_.node_, key, 0, false}));
}

// MARK: UnkeyedDecodingContainer

std::size_t UnkeyedDecodingContainer::count() const noexcept { return nodeOf(decoder_.value_).size; }

Decoder UnkeyedDecodingContainer::decoder(std::size_t index) const {
  const JSONNode& array = nodeOf(decoder_.value_);
  const detail::CodingPathNode path{&decoder_.node_, {}, index, true};
  if (index >= array.size) {
    detail::throwExpectation(JSONCodingErrorCode::valueNotFound, path, "a value",
                             "the end of an array of " + std::to_string(array.size) + " elements");
  }
  return Decoder(&array.children[index], path);
}

}  // namespace orbisgrove::platform
