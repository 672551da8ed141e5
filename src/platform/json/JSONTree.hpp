// The tree a parsed JSON document is held in: 16-byte nodes in one block,
// shared by the document's builder and the decoders that walk it.
#pragma once

#include <cstdint>
#include <string_view>

namespace orbisgrove::platform::detail {

/// What a node holds.
enum class JSONKind : std::uint8_t { null, falseValue, trueValue, integer, otherNumber, string, array, object };

// One value of a document: 16 bytes. Its key, text and children are found by
// distances back from the node itself, so a node needs no pointer to the
// document that holds it, and the block may move while it is built. The tree
// is one block: first a copy of the text, where every string, key and kept
// number literal is found where it was written (an escaped one unescaped over
// its escapes, which never take less room), then the nodes, each container's
// children side by side and before it.
struct JSONNode {
  struct Span {
    std::uint32_t distance;  // bytes back to the text, or nodes back to the first child
    std::uint32_t size;      // text length, or number of children
  };
  union Value {
    std::int64_t integer;
    Span span;
  };

  std::uint32_t keyDistance;  // bytes back to the key; 0 outside objects
  std::uint32_t kindAndKeyLength;
  Value value;

  static constexpr unsigned kindBits = 3;
  static constexpr std::uint32_t maximumKeyLength = (std::uint32_t{1} << (32 - kindBits)) - 1;

  [[nodiscard]] JSONKind kind() const noexcept { return static_cast<JSONKind>(kindAndKeyLength >> (32 - kindBits)); }
  [[nodiscard]] std::uint32_t keyLength() const noexcept { return kindAndKeyLength & maximumKeyLength; }
  [[nodiscard]] const char* bytesAt(std::uint32_t distance) const noexcept {
    return reinterpret_cast<const char*>(this) - distance;
  }
  [[nodiscard]] std::string_view keyText() const noexcept { return {bytesAt(keyDistance), keyLength()}; }
  [[nodiscard]] std::string_view text() const noexcept { return {bytesAt(value.span.distance), value.span.size}; }
  [[nodiscard]] std::uint32_t count() const noexcept { return value.span.size; }
  [[nodiscard]] const JSONNode* children() const noexcept { return this - value.span.distance; }
};
static_assert(sizeof(JSONNode) == 16);

/// The node a Decoder's opaque value points at.
inline const JSONNode& nodeOf(const void* value) noexcept { return *static_cast<const JSONNode*>(value); }

}  // namespace orbisgrove::platform::detail
