// An absolute URL value, parsed once when it is made.
#pragma once

#include <orbisgrove/Export.hpp>

#include <optional>
#include <string>
#include <string_view>

namespace orbisgrove::platform {

/// An absolute, normalised URL. Immutable; compare with ==.
class ORBISGROVE_EXPORT URL {
 public:
  /// Parses an absolute URL; nothing when the text is not one.
  static std::optional<URL> fromString(std::string_view absolute);
  /// scheme://hostAndPort with no path, query or fragment; its absoluteString
  /// is exactly that text, without a trailing "/". `hostAndPort` is a
  /// host name, an IPv4 address or a bracketed IPv6 address, each with an
  /// optional ":port". Nothing when no such URL can be formed (empty text,
  /// white space, a scheme, a path, a query, user information, a bad port).
  static std::optional<URL> fromComponents(std::string_view scheme, std::string_view hostAndPort);

  /// Resolves a relative reference against this URL, as a browser would.
  [[nodiscard]] std::optional<URL> resolving(std::string_view relativeReference) const;

  /// The whole URL as normalised text.
  [[nodiscard]] const std::string& absoluteString() const noexcept { return absolute_; }
  /// The scheme, e.g. "https".
  [[nodiscard]] const std::string& scheme() const noexcept { return scheme_; }
  /// Host as written in the URL (IPv6 addresses keep their brackets).
  [[nodiscard]] const std::string& host() const noexcept { return host_; }
  /// The port written in the URL; absent when it names none.
  [[nodiscard]] std::optional<int> port() const noexcept { return port_; }
  /// Path; empty for a URL made from components.
  [[nodiscard]] const std::string& path() const noexcept { return path_; }

  /// Equal when the normalised texts are.
  friend bool operator==(const URL& a, const URL& b) noexcept { return a.absolute_ == b.absolute_; }

 private:
  URL() = default;
  std::string absolute_;
  std::string scheme_;
  std::string host_;
  std::optional<int> port_;
  std::string path_;
};

}  // namespace orbisgrove::platform
