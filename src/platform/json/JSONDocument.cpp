// The document: simdjson reads the bytes once, and every value goes into a
// compact, read-only tree (JSONTree.hpp) that the decoders walk. Numbers are
// judged by their literal text, nesting is bounded, and the tree is one
// allocation whose size is bounded by the size of the text.
#include <orbisgrove/platform/JSONCoding.hpp>

#include "platform/json/JSONCodingErrors.hpp"
#include "platform/json/JSONText.hpp"
#include "platform/json/JSONTree.hpp"

#include <simdjson.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>
#include <optional>
#include <type_traits>
#include <utility>
#include <vector>

namespace orbisgrove::platform {

struct JSONDocument::Storage {
  std::unique_ptr<detail::JSONNode[]> block;
  const detail::JSONNode* root = nullptr;
};

namespace {

namespace ondemand = simdjson::ondemand;
using detail::JSONKind;
using detail::JSONNode;

// The bytes come from the network; beyond this depth a document is refused
// rather than allowed to grow the reader's recursion, or a record decoder's,
// without bound.
constexpr std::size_t maximumDepth = 512;

// Distances within the block are held in 32 bits, and the block is up to
// three times the text.
constexpr std::size_t maximumDocumentSize = std::size_t{512} << 20U;
static_assert(maximumDocumentSize <= JSONNode::maximumKeyLength + 1, "every key's length fits its node");

// The densest JSON takes two bytes per value ("0,"), which would let a reply
// cost eight times its size in nodes. The kit's records take ten bytes or more
// per value, so a document may hold one value per eight bytes of text, plus
// some for small documents: the tree stays within three times the text.
constexpr std::size_t budgetBase = 1024;
constexpr std::size_t bytesPerNode = 8;

// A parser's buffers take some six times the text they were sized for. Each
// thread keeps one parser, and a padded copy of the text, for texts up to this
// size, which holds nearly every reply: parsing one then allocates nothing in
// simdjson. A larger text gets a parser of its own, freed with it. Nothing
// that runs while a document is built parses another.
constexpr std::size_t reusedParserCapacity = std::size_t{16} << 10U;

struct ParserScratch {
  ondemand::parser parser;
  std::unique_ptr<char[]> text =
      std::make_unique_for_overwrite<char[]>(reusedParserCapacity + simdjson::SIMDJSON_PADDING);
};

[[noreturn]] void throwNotJSON(std::string_view problem) {
  std::string reason = "The data is not valid JSON: ";
  reason += problem;
  throw CodingError(detail::makeCodingError(JSONCodingErrorCode::dataCorrupted, std::move(reason), std::string()));
}

std::string_view describeProblem(simdjson::error_code error) noexcept {
  switch (error) {
    case simdjson::UTF8_ERROR:
      return "the text is not UTF-8";
    case simdjson::UNESCAPED_CHARS:
      return "a string holds an unescaped control character";
    case simdjson::UNCLOSED_STRING:
      return "a string is not closed";
    case simdjson::STRING_ERROR:
      return "a string holds an invalid escape";
    case simdjson::NUMBER_ERROR:
    case simdjson::NUMBER_OUT_OF_RANGE:
      return "a number is malformed or out of range";
    case simdjson::T_ATOM_ERROR:
    case simdjson::F_ATOM_ERROR:
    case simdjson::N_ATOM_ERROR:
      return "a literal is not true, false or null";
    case simdjson::EMPTY:
      return "there is no value";
    case simdjson::TRAILING_CONTENT:
      return "there is more text after the value";
    case simdjson::INCOMPLETE_ARRAY_OR_OBJECT:
      return "an array or object is not closed";
    default:
      return "the text breaks the JSON grammar";
  }
}

// Walks simdjson's reading of the text and builds the tree. Values of an open
// array or object wait on `pending_`; when the container closes they move, as
// one contiguous run, to the block, so that children are found by index.
class DocumentBuilder {
 public:
  // `text` is what simdjson reads, `skipped` the bytes before it (a byte-order mark).
  DocumentBuilder(ondemand::document& document, const char* text, std::size_t size, std::size_t skipped)
      : document_(document),
        text_(text),
        size_(size),
        skipped_(skipped),
        budget_(budgetBase + size / bytesPerNode),
        textChunks_((size + sizeof(JSONNode) - 1) / sizeof(JSONNode)),
        // Replies take some 16 bytes of text per value.
        capacity_(textChunks_ + size / 16 + 16),
        block_(std::make_unique_for_overwrite<JSONNode[]>(capacity_)) {
    std::memcpy(static_cast<void*>(block_.get()), text, size);
    pending_.reserve(64);
  }

  template <class Value>
  void read(Value& value, std::size_t depth) {
    ondemand::json_type type{};
    check(value.type().get(type));
    switch (type) {
      case ondemand::json_type::object: {
        ondemand::object object;
        check(value.get_object().get(object));
        const std::size_t first = open(JSONKind::object, depth);
        for (auto entry : object) {
          // Used in place: a copy of the field costs more than reading it.
          check(entry.error());
          ondemand::field& field = entry.value_unsafe();
          const char* const start = field.key().raw();
          const char* const stop = quoteOrBackslash(start);
          keyOffset_ = offsetOf(start);
          if (*stop == '"') {
            keyLength_ = static_cast<std::uint32_t>(stop - start);
          } else {
            std::string_view key;
            check(field.unescaped_key().get(key));
            keyLength_ = storeUnescaped(start, key);
          }
          read(field.value(), depth + 1);
        }
        close(first);
        return;
      }
      case ondemand::json_type::array: {
        ondemand::array array;
        check(value.get_array().get(array));
        const std::size_t first = open(JSONKind::array, depth);
        for (auto entry : array) {
          check(entry.error());
          read(entry.value_unsafe(), depth + 1);
        }
        close(first);
        return;
      }
      case ondemand::json_type::string: {
        // At the top level simdjson lets a string run into what follows it
        // ("a"x), so there the token must end where the string does; inside
        // a container the next token is checked by the container.
        const char* const start = rawStart(value) + 1;
        if (depth == 0 && !isOneString(token(value))) fail(simdjson::TAPE_ERROR);
        const char* const stop = quoteOrBackslash(start);
        std::uint32_t length = 0;
        if (*stop == '"') {
          // Most strings hold no escape, and simdjson has checked their bytes
          // (UTF-8, no control character): they are taken as written, and
          // passed over without unescaping.
          ondemand::raw_json_string unused;
          check(value.get_raw_json_string().get(unused));
          length = static_cast<std::uint32_t>(stop - start);
        } else {
          std::string_view text;
          check(value.get_string().get(text));
          length = storeUnescaped(start, text);
        }
        push(JSONKind::string).value.span = {offsetOf(start), length};
        return;
      }
      case ondemand::json_type::number:
        readNumber(value);
        return;
      case ondemand::json_type::boolean: {
        // simdjson takes "falsex" at the top level for false; the token decides.
        bool truth = false;
        check(value.get_bool().get(truth));
        if (depth == 0 && token(value) != (truth ? "true" : "false")) {
          fail(truth ? simdjson::T_ATOM_ERROR : simdjson::F_ATOM_ERROR);
        }
        push(truth ? JSONKind::trueValue : JSONKind::falseValue);
        return;
      }
      case ondemand::json_type::null: {
        bool isNull = false;
        check(value.is_null().get(isNull));
        if (!isNull || (depth == 0 && token(value) != "null")) fail(simdjson::N_ATOM_ERROR);
        push(JSONKind::null);
        return;
      }
    }
    fail(simdjson::TAPE_ERROR);
  }

  // After the top-level value: nothing may follow it. A container has been
  // read to its end; a scalar's token runs to the next one, or to the end.
  void finish() {
    const JSONKind kind = pending_.front().kind();
    if (kind == JSONKind::array || kind == JSONKind::object) {
      const char* next = nullptr;
      if (document_.current_location().get(next) != simdjson::OUT_OF_BOUNDS) fail(simdjson::TRAILING_CONTENT);
    } else {
      std::string_view text;
      check(document_.raw_json_token().get(text));
      if (text.data() + text.size() != text_ + size_) fail(simdjson::TRAILING_CONTENT);
    }
    if (textChunks_ + used_ + 1 > capacity_) grow(1);
    place(pending_.front(), used_);
    ++used_;
  }

  [[nodiscard]] std::unique_ptr<JSONNode[]> takeBlock() noexcept { return std::move(block_); }
  [[nodiscard]] const JSONNode* root() const noexcept { return block_.get() + textChunks_ + used_ - 1; }

  [[noreturn]] void fail(simdjson::error_code error) {
    if (error == simdjson::MEMALLOC) throw std::bad_alloc();
    std::string problem(describeProblem(error));
    const char* at = nullptr;
    if (document_.current_location().get(at) == simdjson::SUCCESS) {
      problem += " at byte " + std::to_string(static_cast<std::size_t>(at - text_) + skipped_);
    }
    problem += '.';
    throwNotJSON(problem);
  }

 private:
  void check(simdjson::error_code error) {
    if (error != simdjson::SUCCESS) fail(error);
  }

  // Exact integers are kept as their value; every other number as its
  // literal, whose exact value decides whether it is an integer after all
  // (7.0, 1e2). simdjson's double rounds (2^63 + 0.5 and 2^63 are the same
  // double), so it only checks that the literal is a finite JSON number. A
  // literal it refuses outright (an exponent of many digits, a top-level
  // number longer than its buffer) is judged here: 0e99999999999999999999 is
  // zero. A number left unread is skipped by the containers, and the top
  // level is checked for its end in finish().
  template <class Value>
  void readNumber(Value& value) {
    // Within a container an integer is read at once: simdjson reads only a
    // literal that is an integer in range, and leaves any other in place. At
    // the top level the type comes first, as it refuses an overlong literal.
    std::int64_t integer = 0;
    if constexpr (std::is_same_v<Value, ondemand::value>) {
      if (value.get_int64().get(integer) == simdjson::SUCCESS) {
        push(JSONKind::integer).value.integer = integer;
        return;
      }
    } else {
      ondemand::number_type type{};
      check(value.get_number_type().get(type));
      if (type == ondemand::number_type::signed_integer && value.get_int64().get(integer) == simdjson::SUCCESS) {
        push(JSONKind::integer).value.integer = integer;
        return;
      }
    }
    const std::string_view literal = token(value);
    double rounded = 0;
    if (const simdjson::error_code error = value.get_double().get(rounded);
        error != simdjson::SUCCESS && !detail::isFiniteJSONNumber(literal)) {
      fail(error);
    }
    if (const std::optional<std::int64_t> exact = detail::exactInt64FromNumberLiteral(literal)) {
      push(JSONKind::integer).value.integer = *exact;
      return;
    }
    push(JSONKind::otherNumber).value.span = {offsetOf(literal.data()), static_cast<std::uint32_t>(literal.size())};
  }

  // Whether `raw` is exactly one string token: its closing quote is its last byte.
  static bool isOneString(std::string_view raw) noexcept {
    if (raw.size() < 2 || raw.front() != '"') return false;
    std::size_t at = raw.find('"', 1);
    if (raw.substr(1, at == std::string_view::npos ? raw.size() : at - 1).find('\\') != std::string_view::npos) {
      at = 1;
      while (at < raw.size() && raw[at] != '"') at += raw[at] == '\\' ? std::size_t{2} : std::size_t{1};
    }
    return at == raw.size() - 1;
  }
  // The first '"' or '\\' from `at` on, in the text. Every string is closed
  // within the text (simdjson has checked it), and the padding after the
  // text lets the scan read whole words past its end.
  static const char* quoteOrBackslash(const char* at) noexcept {
    if constexpr (std::endian::native == std::endian::little) {
      constexpr std::uint64_t ones = 0x0101010101010101U;
      constexpr std::uint64_t highs = 0x8080808080808080U;
      for (;; at += sizeof(std::uint64_t)) {
        std::uint64_t word = 0;
        std::memcpy(&word, at, sizeof word);
        const std::uint64_t quotes = word ^ (ones * '"');
        const std::uint64_t backslashes = word ^ (ones * '\\');
        // The lowest byte flagged is the first that is zero in either.
        const std::uint64_t found = (((quotes - ones) & ~quotes) | ((backslashes - ones) & ~backslashes)) & highs;
        if (found != 0) return at + std::countr_zero(found) / 8;
      }
    } else {
      while (*at != '"' && *at != '\\') ++at;
      return at;
    }
  }

  // Where the value's token starts in the text.
  template <class Value>
  const char* rawStart(Value& value) {
    std::string_view text;
    check(simdjson::simdjson_result<std::string_view>(value.raw_json_token()).get(text));
    return text.data();
  }

  // The value's text as written, without the space after it.
  template <class Value>
  std::string_view token(Value& value) {
    // A value's token comes plain, the top level's with an error code.
    std::string_view text;
    check(simdjson::simdjson_result<std::string_view>(value.raw_json_token()).get(text));
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\n' || text.back() == '\r')) {
      text.remove_suffix(1);
    }
    return text;
  }

  // While a node waits, its distances hold offsets into the text arena (and,
  // for a container, the block index of its first child).
  JSONNode& push(JSONKind kind) {
    if (++created_ > budget_) {
      throw CodingError(detail::makeCodingError(
          JSONCodingErrorCode::dataCorrupted,
          "The data holds more values than its size allows: over " + std::to_string(budget_) + " in " +
              std::to_string(size_ + skipped_) + " bytes (at most one per " + std::to_string(bytesPerNode) +
              " bytes beyond the first " + std::to_string(budgetBase) + ").",
          std::string()));
    }
    JSONNode& node = pending_.emplace_back();
    node.keyDistance = keyOffset_;
    node.kindAndKeyLength = (static_cast<std::uint32_t>(kind) << (32 - JSONNode::kindBits)) | keyLength_;
    node.value.integer = 0;
    keyOffset_ = 0;
    keyLength_ = 0;
    return node;
  }

  // Where `at`, a place in the text, is in the block's copy of it.
  [[nodiscard]] std::uint32_t offsetOf(const char* at) const noexcept { return static_cast<std::uint32_t>(at - text_); }

  // Writes the unescaped `text` over the escaped one that starts at `at`,
  // which is no shorter; returns its length.
  std::uint32_t storeUnescaped(const char* at, std::string_view text) noexcept {
    text.copy(reinterpret_cast<char*>(block_.get()) + offsetOf(at), text.size());
    return static_cast<std::uint32_t>(text.size());
  }

  std::size_t open(JSONKind kind, std::size_t depth) {
    if (depth >= maximumDepth) {
      throwNotJSON("arrays and objects are nested more than " + std::to_string(maximumDepth) + " levels deep.");
    }
    push(kind);
    return pending_.size();
  }

  void close(std::size_t first) {
    JSONNode& container = pending_[first - 1];
    container.value.span = {static_cast<std::uint32_t>(used_), static_cast<std::uint32_t>(pending_.size() - first)};
    if (textChunks_ + used_ + (pending_.size() - first) > capacity_) grow(pending_.size() - first);
    for (std::size_t i = first; i < pending_.size(); ++i) place(pending_[i], used_++);
    pending_.resize(first);
  }

  // Room for `more` nodes. The budget bounds the block.
  void grow(std::size_t more) {
    const std::size_t needed = textChunks_ + used_ + more;
    const std::size_t capacity = std::min(std::max(needed, capacity_ * 2), textChunks_ + budget_);
    auto block = std::make_unique_for_overwrite<JSONNode[]>(capacity);
    std::memcpy(static_cast<void*>(block.get()), block_.get(), size_);
    std::copy_n(block_.get() + textChunks_, used_, block.get() + textChunks_);
    block_ = std::move(block);
    capacity_ = capacity;
  }

  // Writes `node` as node number `index`, its offsets turned into distances.
  void place(const JSONNode& node, std::size_t index) noexcept {
    JSONNode& placed = block_[textChunks_ + index];
    placed = node;
    const auto textDistance = static_cast<std::uint32_t>((textChunks_ + index) * sizeof(JSONNode));
    if (node.keyLength() != 0) placed.keyDistance = textDistance - node.keyDistance;
    switch (node.kind()) {
      case JSONKind::string:
      case JSONKind::otherNumber:
        placed.value.span.distance = textDistance - node.value.span.distance;
        break;
      case JSONKind::array:
      case JSONKind::object:
        placed.value.span.distance = static_cast<std::uint32_t>(index - node.value.span.distance);
        break;
      case JSONKind::null:
      case JSONKind::falseValue:
      case JSONKind::trueValue:
      case JSONKind::integer:
        break;
    }
  }

  ondemand::document& document_;
  const char* text_;
  std::size_t size_;
  std::size_t skipped_;
  std::size_t budget_;
  std::size_t textChunks_;  // nodes' worth of room for text at the start of the block
  std::size_t capacity_;
  std::unique_ptr<JSONNode[]> block_;
  std::size_t used_ = 0;     // nodes written to the block, after the text
  std::size_t created_ = 0;  // nodes made so far
  std::vector<JSONNode> pending_;
  std::uint32_t keyOffset_ = 0;
  std::uint32_t keyLength_ = 0;
};

}  // namespace

// MARK: JSONDocument

JSONDocument::JSONDocument(std::string_view bytes) : storage_(std::make_unique<Storage>()) {
  if (bytes.size() > maximumDocumentSize) throwNotJSON("the data is larger than 512 MiB.");
  // A byte-order mark may open a JSON text; simdjson does not expect one.
  std::size_t markLength = 0;
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") markLength = 3;
  // Space after the value means nothing, and simdjson would count it into a
  // top-level scalar's length, refusing "false " as too long for "false".
  std::size_t end = bytes.size();
  while (end > markLength &&
         (bytes[end - 1] == ' ' || bytes[end - 1] == '\n' || bytes[end - 1] == '\r' || bytes[end - 1] == '\t')) {
    --end;
  }
  const std::string_view text = bytes.substr(markLength, end - markLength);
  // simdjson reads in blocks and needs readable padding after the text.
  std::optional<simdjson::padded_string> ownText;
  std::optional<ondemand::parser> ownParser;
  ondemand::parser* parser = nullptr;
  const char* padded = nullptr;
  if (text.size() <= reusedParserCapacity) {
    thread_local ParserScratch scratch;
    text.copy(scratch.text.get(), text.size());
    std::memset(scratch.text.get() + text.size(), 0, simdjson::SIMDJSON_PADDING);
    parser = &scratch.parser;
    padded = scratch.text.get();
  } else {
    padded = ownText.emplace(text).data();
    parser = &ownParser.emplace();
  }
  ondemand::document document;
  if (const simdjson::error_code error =
          parser->iterate(padded, text.size(), text.size() + simdjson::SIMDJSON_PADDING).get(document);
      error != simdjson::SUCCESS) {
    if (error == simdjson::MEMALLOC) throw std::bad_alloc();
    throwNotJSON(std::string(describeProblem(error)) + '.');
  }
  DocumentBuilder builder(document, padded, text.size(), markLength);
  builder.read(document, 0);
  builder.finish();
  storage_->root = builder.root();
  storage_->block = builder.takeBlock();
}

JSONDocument::~JSONDocument() = default;

Decoder JSONDocument::root() const noexcept { return Decoder(storage_->root, detail::CodingPathNode{}); }

}  // namespace orbisgrove::platform
