#include "platform/files/PropertyListGuard.hpp"

#include <algorithm>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace orbisgrove::platform::detail {
namespace {

constexpr std::string_view kBinaryMagic = "bplist00";

// XML: every '<' must be accounted for, and comments, CDATA sections,
// processing instructions and the DOCTYPE must end exactly where libplist 2.2
// ends them, so that no element can hide where this scan does not look. It
// ends a comment at the first "-->" and a CDATA section at the first "]]>",
// whatever they hold; an instruction at the first "?>" and the DOCTYPE at the
// first '>' outside double quotes. For those two the first terminator must
// not lie within quotes, so that quoting cannot move the end either way. An
// internal DTD subset and any other "<!" are refused (our writer makes none).
// Since closing tags must match, no stray closing tag can lower the depth
// counted here below the depth libplist reaches.
bool xmlWithinLimits(std::string_view text) {
  std::vector<std::string_view> open;
  std::size_t position = 0;
  const auto skipPast = [&](std::size_t contentStart, std::string_view terminator, bool outsideQuotes,
                            std::string_view refused = {}) {
    const std::size_t end = text.find(terminator, contentStart);
    if (end == std::string_view::npos) return false;
    const std::string_view content = text.substr(contentStart, end - contentStart);
    if (content.find_first_of(refused) != std::string_view::npos) return false;
    if (outsideQuotes && std::count(content.begin(), content.end(), '"') % 2 != 0) return false;
    position = end + terminator.size();
    return true;
  };
  const auto endsName = [](char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '/' || c == '>' || c == '<' || c == '=' ||
           c == '"' || c == '\'';
  };

  while ((position = text.find('<', position)) != std::string_view::npos) {
    const std::string_view rest = text.substr(position);
    if (rest.starts_with("<!") || rest.starts_with("<?")) {
      bool skipped = false;
      if (rest.starts_with("<!--")) {
        skipped = skipPast(position + 4, "-->", false);
      } else if (rest.starts_with("<![CDATA[")) {
        skipped = skipPast(position + 9, "]]>", false);
      } else if (rest.starts_with("<?")) {
        skipped = skipPast(position + 2, "?>", true);
      } else if (rest.starts_with("<!DOCTYPE")) {
        skipped = skipPast(position + 9, ">", true, "[");
      }
      if (!skipped) return false;
      continue;
    }

    const bool closing = rest.starts_with("</");
    const std::size_t nameStart = position + (closing ? 2 : 1);
    std::size_t nameEnd = nameStart;
    while (nameEnd < text.size() && !endsName(text[nameEnd])) ++nameEnd;
    if (nameEnd == nameStart) return false;

    std::size_t tagEnd = nameEnd;
    char quote = 0;
    for (; tagEnd < text.size(); ++tagEnd) {
      const char c = text[tagEnd];
      if (c == '<') return false;
      if (quote != 0) {
        if (c == quote) quote = 0;
      } else if (c == '"' || c == '\'') {
        quote = c;
      } else if (c == '>') {
        break;
      }
    }
    if (tagEnd == text.size()) return false;

    const std::string_view name = text.substr(nameStart, nameEnd - nameStart);
    if (closing) {
      if (open.empty() || open.back() != name) return false;
      open.pop_back();
    } else if (text[tagEnd - 1] != '/') {
      open.push_back(name);
      if (open.size() > kPropertyListMaximumDepth) return false;
    }
    position = tagEnd + 1;
  }
  return true;
}

// Binary: the trailer, the offset table and every object reachable from the
// root are checked for bounds, and the size of the tree that libplist would
// build (shared objects counted once per reference) is worked out bottom-up
// with one visit per object, refusing cycles.
class BinaryScan {
 public:
  explicit BinaryScan(std::string_view bytes) : bytes_(bytes) {}

  bool run() {
    if (bytes_.size() < kBinaryMagic.size() + 1 + kTrailerSize) return false;
    const std::size_t trailer = bytes_.size() - kTrailerSize;
    offsetSize_ = byteAt(trailer + 6);
    referenceSize_ = byteAt(trailer + 7);
    const std::uint64_t objectCount = bigEndian(trailer + 8, 8);
    const std::uint64_t root = bigEndian(trailer + 16, 8);
    tableOffset_ = bigEndian(trailer + 24, 8);
    if (offsetSize_ < 1 || offsetSize_ > 8 || referenceSize_ < 1 || referenceSize_ > 8) return false;
    // No sound file holds more objects than it may expand to; this also
    // bounds the bookkeeping below.
    if (objectCount == 0 || objectCount > kPropertyListMaximumObjects || root >= objectCount) return false;
    if (tableOffset_ <= kBinaryMagic.size() || tableOffset_ > trailer) return false;
    if (objectCount > (trailer - tableOffset_) / offsetSize_) return false;
    objectCount_ = static_cast<std::size_t>(objectCount);
    objects_.assign(objectCount_, Object{});
    return expand(static_cast<std::size_t>(root)) && rootKeysAreDistinct(static_cast<std::size_t>(root));
  }

 private:
  static constexpr std::size_t kTrailerSize = 32;

  enum class State : std::uint8_t { unseen, open, done };
  struct Object {
    State state = State::unseen;
    std::uint8_t height = 0;
    std::uint32_t objects = 0;
    std::uint32_t contentBytes = 0;
  };
  struct Container {
    std::size_t index;
    std::size_t references;  // position of the first reference
    std::size_t count;       // number of references
    std::size_t next = 0;
    std::uint64_t objects = 1;
    std::uint64_t contentBytes = 0;
    std::size_t height = 0;
  };
  struct Parsed {
    unsigned kind = 0;           // the marker's high four bits
    std::size_t payload = 0;     // first byte after the marker and any count
    std::size_t references = 0;  // container: position of its references
    std::size_t count = 0;       // container: number of references
    bool container = false;
    std::uint64_t contentBytes = 0;
  };

  [[nodiscard]] unsigned byteAt(std::size_t position) const { return static_cast<unsigned char>(bytes_[position]); }

  [[nodiscard]] std::uint64_t bigEndian(std::size_t position, std::size_t width) const {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < width; ++i) value = (value << 8) | byteAt(position + i);
    return value;
  }

  // Whether [start, start + length) lies within the object area.
  [[nodiscard]] bool inObjects(std::uint64_t start, std::uint64_t length) const {
    return start <= tableOffset_ && length <= tableOffset_ - start;
  }

  [[nodiscard]] std::optional<Parsed> parse(std::size_t index) const {
    const std::uint64_t offset = bigEndian(static_cast<std::size_t>(tableOffset_) + index * offsetSize_, offsetSize_);
    if (offset < kBinaryMagic.size() || !inObjects(offset, 1)) return std::nullopt;
    const auto at = static_cast<std::size_t>(offset);
    const unsigned marker = byteAt(at);
    const unsigned kind = marker >> 4;
    const unsigned info = marker & 0x0F;

    std::uint64_t payload = at + 1;  // first byte after the marker and any count
    std::uint64_t count = info;
    const bool counted = kind == 0x4 || kind == 0x5 || kind == 0x6 || kind == 0xA || kind == 0xC || kind == 0xD;
    if (counted && info == 0x0F) {
      if (!inObjects(payload, 1)) return std::nullopt;
      const unsigned countMarker = byteAt(static_cast<std::size_t>(payload));
      if ((countMarker >> 4) != 0x1 || (countMarker & 0x0F) > 3) return std::nullopt;
      const std::uint64_t width = std::uint64_t{1} << (countMarker & 0x0F);
      if (!inObjects(payload + 1, width)) return std::nullopt;
      count = bigEndian(static_cast<std::size_t>(payload + 1), static_cast<std::size_t>(width));
      payload += 1 + width;
    }

    Parsed parsed;
    std::uint64_t length = 0;
    switch (kind) {
      case 0x0:
        if (info != 0x0 && info != 0x8 && info != 0x9 && info != 0xF) return std::nullopt;
        break;
      case 0x1:
        if (info > 4) return std::nullopt;
        length = std::uint64_t{1} << info;
        break;
      case 0x2:
        if (info > 3) return std::nullopt;
        length = std::uint64_t{1} << info;
        break;
      case 0x3:
        if (info != 3) return std::nullopt;
        length = 8;
        break;
      case 0x4:
      case 0x5:
        length = count;
        parsed.contentBytes = count;
        break;
      case 0x6:
        if (count > tableOffset_ / 2) return std::nullopt;
        length = count * 2;
        parsed.contentBytes = count * 3;  // the most UTF-8 that many UTF-16 units can become
        break;
      case 0x8:
        length = info + 1;
        break;
      case 0xA:
      case 0xC:
      case 0xD: {
        const std::uint64_t references = kind == 0xD ? count * 2 : count;
        if (count > tableOffset_ || references > tableOffset_ / referenceSize_) return std::nullopt;
        length = references * referenceSize_;
        parsed.container = true;
        parsed.references = static_cast<std::size_t>(payload);
        parsed.count = static_cast<std::size_t>(references);
        break;
      }
      default:
        return std::nullopt;
    }
    if (!inObjects(payload, length)) return std::nullopt;
    parsed.kind = kind;
    parsed.payload = static_cast<std::size_t>(payload);
    parsed.count = parsed.container ? parsed.count : static_cast<std::size_t>(count);
    return parsed;
  }

  // libplist keeps both entries of a binary dictionary that names a key
  // twice (a look-up then finds one and a change replaces the other, so a
  // save would not read back), and aborts the process on a key holding a
  // NUL. The root dictionary, whose entries are read and rewritten, must
  // name every key once, without NUL; keys compare as libplist decodes them,
  // so that an ASCII key and the same text in UTF-16 count as one.
  [[nodiscard]] bool rootKeysAreDistinct(std::size_t root) const {
    const auto dictionary = parse(root);
    if (!dictionary || dictionary->kind != 0xD) return true;  // not a dictionary: refused after parsing
    std::set<std::string> keys;
    for (std::size_t i = 0; i < dictionary->count / 2; ++i) {
      const auto key =
          parse(static_cast<std::size_t>(bigEndian(dictionary->references + i * referenceSize_, referenceSize_)));
      if (!key || (key->kind != 0x5 && key->kind != 0x6)) return false;
      std::string text;
      for (std::size_t unit = 0; unit < key->count; ++unit) {
        const unsigned value = key->kind == 0x5 ? byteAt(key->payload + unit)
                                                : static_cast<unsigned>(bigEndian(key->payload + 2 * unit, 2));
        if (value == 0) return false;
        if (value < 0x80) {
          text += static_cast<char>(value);
        } else {
          // Outside ASCII: kept apart from every ASCII text, one unit per three bytes.
          text += {'\xFF', static_cast<char>(value >> 8), static_cast<char>(value & 0xFF)};
        }
      }
      if (!keys.insert(std::move(text)).second) return false;
    }
    return true;
  }

  // Depth-first over the reachable objects, without recursion of our own.
  bool expand(std::size_t root) {
    std::vector<Container> stack;
    const auto enter = [&](std::size_t index) -> std::optional<Object> {
      Object& object = objects_[index];
      if (object.state == State::done) return object;
      if (object.state == State::open) return std::nullopt;  // a cycle
      const auto parsed = parse(index);
      if (!parsed) return std::nullopt;
      if (parsed->container) {
        if (stack.size() >= kPropertyListMaximumDepth) return std::nullopt;
        object.state = State::open;
        stack.push_back(Container{index, parsed->references, parsed->count});
        return Object{};  // state unseen: finished later
      }
      if (parsed->contentBytes > kPropertyListMaximumContentBytes) return std::nullopt;
      object = Object{State::done, 1, 1, static_cast<std::uint32_t>(parsed->contentBytes)};
      return object;
    };

    if (!enter(root)) return false;
    while (!stack.empty()) {
      Container& top = stack.back();
      if (top.next == top.count) {
        Object& finished = objects_[top.index];
        finished = Object{State::done, static_cast<std::uint8_t>(top.height + 1),
                          static_cast<std::uint32_t>(top.objects), static_cast<std::uint32_t>(top.contentBytes)};
        stack.pop_back();
        if (!stack.empty()) {
          if (!add(stack.back(), finished)) return false;
        }
        continue;
      }
      const std::uint64_t child = bigEndian(top.references + top.next * referenceSize_, referenceSize_);
      ++top.next;
      if (child >= objectCount_) return false;
      const auto entered = enter(static_cast<std::size_t>(child));
      if (!entered) return false;
      // `top` may dangle after enter() pushed; an entered container adds
      // itself to its parent once finished.
      if (entered->state == State::done && !add(stack.back(), *entered)) return false;
    }
    return true;
  }

  static bool add(Container& parent, const Object& child) {
    parent.objects += child.objects;
    parent.contentBytes += child.contentBytes;
    parent.height = std::max<std::size_t>(parent.height, child.height);
    return parent.objects <= kPropertyListMaximumObjects && parent.contentBytes <= kPropertyListMaximumContentBytes &&
           parent.height < kPropertyListMaximumDepth;
  }

  std::string_view bytes_;
  std::size_t offsetSize_ = 0;
  std::size_t referenceSize_ = 0;
  std::uint64_t tableOffset_ = 0;
  std::size_t objectCount_ = 0;
  std::vector<Object> objects_;
};

}  // namespace

bool propertyListBytesWithinLimits(std::string_view bytes) {
  // libplist takes exactly these eight bytes as the sign of a binary list.
  if (bytes.starts_with(kBinaryMagic)) return BinaryScan(bytes).run();
  return xmlWithinLimits(bytes);
}

}  // namespace orbisgrove::platform::detail
