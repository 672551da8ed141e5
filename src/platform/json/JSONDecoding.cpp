// Decoding: the bytes are parsed once into a compact, read-only tree that the
// decoders walk. The tree is built through the parser's event interface so
// that numbers are judged by their literal text, nesting is bounded, and a
// document costs a few large allocations instead of one per value.
#include <orbisgrove/platform/JSONCoding.hpp>

#include "platform/json/JSONCodingErrors.hpp"
#include "platform/json/JSONText.hpp"

#include <nlohmann/json.hpp>

#include <charconv>
#include <cmath>
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
  bool number_float(double /*rounded*/, const std::string& literal) { return numberLiteral(literal); }
  bool numberLiteral(std::string_view literal) {
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
  bool string(std::string& value) { return text(value); }
  bool text(std::string_view value) {
    JSONNode& node = push(JSONKind::string);
    node.offset = store(value);
    node.size = static_cast<std::uint32_t>(value.size());
    return true;
  }
  bool binary(nlohmann::json::binary_t& /*value*/) { return false; }  // never produced by JSON text
  bool start_object(std::size_t /*unknown*/) { return open(JSONKind::object); }
  bool key(std::string& value) { return keyText(value); }
  bool keyText(std::string_view value) {
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

// The general parser costs some 90 instructions per byte (it tracks lines
// and copies every character twice), which made parsing the larger part of a
// request's and a cache hit's work. This reader takes the common case, a
// well-formed document, in one pass without allocating per value, and feeds
// the same builder. It accepts only what the general parser accepts; on
// anything else, or anything it does not handle (a byte-order mark, an
// integer beyond 64 bits, a float that does not convert), it gives up and the
// general parser reads the document again, so every failure and its message
// stay exactly the general parser's.
class FastReader {
 public:
  FastReader(std::string_view bytes, DocumentBuilder& builder)
      : at_(bytes.data()), end_(bytes.data() + bytes.size()), builder_(builder) {}

  bool run() {
    // A byte-order mark is left to the general parser.
    if (at_ != end_ && static_cast<unsigned char>(*at_) == 0xEF) return false;
    std::vector<bool> inObject;  // the open containers, innermost last
    for (;;) {
      skipSpace();
      if (at_ == end_) return false;
      bool closed = false;  // whether a complete value was just read
      if (*at_ == '{' || *at_ == '[') {
        const bool object = *at_ == '{';
        ++at_;
        if (!(object ? builder_.start_object(0) : builder_.start_array(0))) return false;
        skipSpace();
        if (at_ != end_ && *at_ == (object ? '}' : ']')) {
          ++at_;
          object ? builder_.end_object() : builder_.end_array();
          closed = true;
        } else {
          inObject.push_back(object);
          if (object && !readKey()) return false;
        }
      } else {
        if (!readScalar()) return false;
        closed = true;
      }
      // After a complete value: close containers, or move to the next member.
      while (closed) {
        skipSpace();
        if (inObject.empty()) return at_ == end_;
        if (at_ == end_) return false;
        const bool object = inObject.back();
        if (*at_ == ',') {
          ++at_;
          if (object && !readKey()) return false;
          closed = false;
        } else if (*at_ == (object ? '}' : ']')) {
          ++at_;
          object ? builder_.end_object() : builder_.end_array();
          inObject.pop_back();
        } else {
          return false;
        }
      }
    }
  }

 private:
  static bool isDigit(char c) noexcept { return c >= '0' && c <= '9'; }

  void skipSpace() noexcept {
    while (at_ != end_ && (*at_ == ' ' || *at_ == '\n' || *at_ == '\r' || *at_ == '\t')) ++at_;
  }

  bool readKey() {
    skipSpace();
    std::string_view key;
    if (at_ == end_ || *at_ != '"' || !readString(key)) return false;
    builder_.keyText(key);
    skipSpace();
    if (at_ == end_ || *at_ != ':') return false;
    ++at_;
    return true;
  }

  bool readScalar() {
    switch (*at_) {
      case '"': {
        std::string_view text;
        return readString(text) && builder_.text(text);
      }
      case 't':
        return readWord("true") && builder_.boolean(true);
      case 'f':
        return readWord("false") && builder_.boolean(false);
      case 'n':
        return readWord("null") && builder_.null();
      default:
        return readNumber();
    }
  }

  bool readWord(std::string_view word) noexcept {
    if (static_cast<std::size_t>(end_ - at_) < word.size() || std::string_view(at_, word.size()) != word) return false;
    at_ += word.size();
    return true;
  }

  // At the opening quote. `text` views the bytes in place, or the decoded
  // copy when the string holds escapes.
  bool readString(std::string_view& text) {
    const char* const start = ++at_;
    bool wide = false;  // holds bytes beyond ASCII, which must be UTF-8
    while (at_ != end_) {
      const auto c = static_cast<unsigned char>(*at_);
      if (c == '"') {
        text = std::string_view(start, static_cast<std::size_t>(at_ - start));
        ++at_;
        return !wide || detail::isValidUTF8(text);
      }
      if (c == '\\') {
        if (wide && !detail::isValidUTF8(std::string_view(start, static_cast<std::size_t>(at_ - start)))) return false;
        unescaped_.assign(start, at_);
        return readEscapedRest(text);
      }
      if (c < 0x20) return false;
      wide = wide || c >= 0x80;
      ++at_;
    }
    return false;
  }

  // At a backslash, with the string's earlier bytes in `unescaped_`.
  bool readEscapedRest(std::string_view& text) {
    const char* run = at_;  // start of the bytes not yet copied
    bool wide = false;
    const auto flush = [&] {
      const std::string_view bytes(run, static_cast<std::size_t>(at_ - run));
      if (wide && !detail::isValidUTF8(bytes)) return false;
      unescaped_.append(bytes);
      wide = false;
      return true;
    };
    while (at_ != end_) {
      const auto c = static_cast<unsigned char>(*at_);
      if (c == '"') {
        if (!flush()) return false;
        ++at_;
        text = unescaped_;
        return true;
      }
      if (c == '\\') {
        if (!flush() || !readEscape()) return false;
        run = at_;
        continue;
      }
      if (c < 0x20) return false;
      wide = wide || c >= 0x80;
      ++at_;
    }
    return false;
  }

  bool readHex4(std::uint32_t& value) noexcept {
    if (end_ - at_ < 4) return false;
    value = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = *at_++;
      std::uint32_t digit = 0;
      if (c >= '0' && c <= '9') {
        digit = static_cast<std::uint32_t>(c - '0');
      } else if (c >= 'a' && c <= 'f') {
        digit = static_cast<std::uint32_t>(c - 'a' + 10);
      } else if (c >= 'A' && c <= 'F') {
        digit = static_cast<std::uint32_t>(c - 'A' + 10);
      } else {
        return false;
      }
      value = (value << 4U) | digit;
    }
    return true;
  }

  // At a backslash: appends what the escape stands for.
  bool readEscape() {
    ++at_;
    if (at_ == end_) return false;
    const char c = *at_++;
    switch (c) {
      case '"':
      case '\\':
      case '/':
        unescaped_.push_back(c);
        return true;
      case 'b':
        unescaped_.push_back('\b');
        return true;
      case 'f':
        unescaped_.push_back('\f');
        return true;
      case 'n':
        unescaped_.push_back('\n');
        return true;
      case 'r':
        unescaped_.push_back('\r');
        return true;
      case 't':
        unescaped_.push_back('\t');
        return true;
      case 'u':
        break;
      default:
        return false;
    }
    std::uint32_t code = 0;
    if (!readHex4(code)) return false;
    if (code >= 0xDC00 && code <= 0xDFFF) return false;  // a low surrogate first
    if (code >= 0xD800 && code <= 0xDBFF) {
      std::uint32_t low = 0;
      if (end_ - at_ < 2 || at_[0] != '\\' || at_[1] != 'u') return false;
      at_ += 2;
      if (!readHex4(low) || low < 0xDC00 || low > 0xDFFF) return false;
      code = 0x10000 + ((code - 0xD800) << 10U) + (low - 0xDC00);
    }
    const auto byte = [](std::uint32_t bits) { return static_cast<char>(static_cast<unsigned char>(bits)); };
    if (code < 0x80) {
      unescaped_.push_back(byte(code));
    } else if (code < 0x800) {
      unescaped_.push_back(byte(0xC0 | (code >> 6U)));
      unescaped_.push_back(byte(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
      unescaped_.push_back(byte(0xE0 | (code >> 12U)));
      unescaped_.push_back(byte(0x80 | ((code >> 6U) & 0x3F)));
      unescaped_.push_back(byte(0x80 | (code & 0x3F)));
    } else {
      unescaped_.push_back(byte(0xF0 | (code >> 18U)));
      unescaped_.push_back(byte(0x80 | ((code >> 12U) & 0x3F)));
      unescaped_.push_back(byte(0x80 | ((code >> 6U) & 0x3F)));
      unescaped_.push_back(byte(0x80 | (code & 0x3F)));
    }
    return true;
  }

  // The JSON number grammar. Integers go to the builder as the general parser
  // delivers them (negative as signed, others as unsigned); floats as their
  // literal, once a conversion shows they are finite.
  bool readNumber() {
    const char* const start = at_;
    const bool negative = *at_ == '-';
    if (negative) ++at_;
    if (at_ == end_ || !isDigit(*at_)) return false;
    if (*at_ == '0') {
      ++at_;
    } else {
      while (at_ != end_ && isDigit(*at_)) ++at_;
    }
    bool integral = true;
    if (at_ != end_ && *at_ == '.') {
      integral = false;
      ++at_;
      if (at_ == end_ || !isDigit(*at_)) return false;
      while (at_ != end_ && isDigit(*at_)) ++at_;
    }
    if (at_ != end_ && (*at_ == 'e' || *at_ == 'E')) {
      integral = false;
      ++at_;
      if (at_ != end_ && (*at_ == '+' || *at_ == '-')) ++at_;
      if (at_ == end_ || !isDigit(*at_)) return false;
      while (at_ != end_ && isDigit(*at_)) ++at_;
    }
    const std::string_view literal(start, static_cast<std::size_t>(at_ - start));
    const char* const last = literal.data() + literal.size();
    if (integral && negative) {
      std::int64_t value = 0;
      const auto [stop, error] = std::from_chars(literal.data(), last, value);
      return error == std::errc{} && stop == last && builder_.number_integer(value);
    }
    if (integral) {
      std::uint64_t value = 0;
      const auto [stop, error] = std::from_chars(literal.data(), last, value);
      return error == std::errc{} && stop == last && builder_.number_unsigned(value);
    }
    double value = 0;
    const auto [stop, error] = std::from_chars(literal.data(), last, value);
    return error == std::errc{} && stop == last && std::isfinite(value) && builder_.numberLiteral(literal);
  }

  const char* at_;
  const char* const end_;
  DocumentBuilder& builder_;
  std::string unescaped_;
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
  {
    DocumentBuilder fast(storage_->nodes, storage_->arena);
    if (FastReader(bytes, fast).run()) {
      storage_->root = fast.finish();
      return;
    }
    storage_->nodes.clear();
    storage_->arena.clear();
  }
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
