// A look at property-list bytes before libplist parses them. libplist 2.2
// parses nested containers by recursion and copies a binary object once for
// every reference to it, so a small hostile file can exhaust the stack (deep
// nesting) or memory (one object shared many times over, many levels deep).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace orbisgrove::platform::detail {

/// Deepest nesting of elements (XML) or containers (binary) passed on to libplist.
inline constexpr std::size_t kPropertyListMaximumDepth = 128;
/// Most objects a binary property list may expand to, counting every
/// reference to a shared object once more.
inline constexpr std::uint64_t kPropertyListMaximumObjects = std::uint64_t{1} << 21;
/// Most bytes of string and data content a binary property list may expand to.
inline constexpr std::uint64_t kPropertyListMaximumContentBytes = std::uint64_t{32} << 20;

/// Whether libplist may be given these bytes: a binary property list whose
/// structure is sound and stays within the limits above, or text in which
/// every element is properly closed and nested no deeper than the limit.
/// Passing says nothing about whether the bytes hold a property list.
bool propertyListBytesWithinLimits(std::string_view bytes);

}  // namespace orbisgrove::platform::detail
