// URL values in a build without libcurl, on liburiparser (RFC 3986). The
// results match the libcurl build's for every URL the kit forms or receives:
// the scheme in lower case, the host as written, a port without leading
// zeros, an empty path as "/", dot segments removed, an empty query or
// fragment dropped, IPv4 shorthands ("127.1") written out and an IPv6
// address shortened as libcurl does. Texts that libcurl tolerates although
// RFC 3986 does not ("https:/host", "|" or bytes past ASCII, a bare "%") are
// refused here, and so are percent-encoded host names and IPv6 zone
// identifiers. References resolve exactly as RFC 3986 says, also where
// libcurl strays from it (against a base with a fragment; empty segments).
#include <orbisgrove/platform/URL.hpp>

#include <arpa/inet.h>
#include <uriparser/Uri.h>

#include <array>
#include <charconv>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace orbisgrove::platform {
namespace {

// The longest text libcurl takes as a URL.
constexpr std::size_t kLongestText = 8000000;

// A parsed reference that frees what the parser allocated. The ranges it
// holds point into the text it was parsed from.
class ParsedURI {
 public:
  ParsedURI() = default;
  ParsedURI(const ParsedURI&) = delete;
  ParsedURI& operator=(const ParsedURI&) = delete;
  ~ParsedURI() { uriFreeUriMembersA(&uri_); }

  bool parse(std::string_view text) {
    const char* error = nullptr;
    return uriParseSingleUriExA(&uri_, text.data(), text.data() + text.size(), &error) == URI_SUCCESS;
  }
  UriUriA* get() noexcept { return &uri_; }
  const UriUriA& operator*() const noexcept { return uri_; }
  const UriUriA* operator->() const noexcept { return &uri_; }

 private:
  UriUriA uri_{};
};

bool present(const UriTextRangeA& range) noexcept { return range.first != nullptr; }

std::string_view text(const UriTextRangeA& range) noexcept {
  if (range.first == nullptr || range.afterLast == nullptr) return {};
  return {range.first, static_cast<std::size_t>(range.afterLast - range.first)};
}

bool acceptable(std::string_view candidate) {
  if (candidate.size() > kLongestText) return false;
  for (const char character : candidate) {
    const auto byte = static_cast<unsigned char>(character);
    if (byte <= 0x20 || byte == 0x7f) return false;
  }
  return true;
}

// The host as libcurl writes it: a registered name as written (without the
// characters libcurl refuses in one), an IPv4 address in any form the C
// library reads as dotted decimal, an IPv6 address in brackets, shortened
// where its canonical form is shorter. Nothing for an IPvFuture address, a
// zone identifier or an empty name.
std::optional<std::string> hostText(const UriUriA& uri) {
  const std::string written(text(uri.hostText));
  if (uri.hostData.ip6 != nullptr) {
    std::array<unsigned char, 16> address{};
    std::array<char, INET6_ADDRSTRLEN> canonical{};
    if (inet_pton(AF_INET6, written.c_str(), address.data()) != 1) return std::nullopt;
    if (inet_ntop(AF_INET6, address.data(), canonical.data(), canonical.size()) == nullptr) return std::nullopt;
    const std::string shorter(canonical.data());
    return "[" + (shorter.size() < written.size() ? shorter : written) + "]";
  }
  if (present(uri.hostData.ipFuture) || written.empty() || written.find_first_of("!$&'()*+,;=%") != std::string::npos) {
    return std::nullopt;
  }
  in_addr address{};
  std::array<char, INET_ADDRSTRLEN> dotted{};
  if (inet_aton(written.c_str(), &address) != 0 &&
      inet_ntop(AF_INET, &address, dotted.data(), dotted.size()) != nullptr) {
    return std::string(dotted.data());
  }
  return written;
}

struct PortPart {
  bool valid = false;
  std::optional<int> port;
};

// An empty port is none; port 0 parses but no connection can be made to it.
PortPart portPart(const UriUriA& uri) {
  const auto digits = text(uri.portText);
  if (digits.empty()) return PortPart{true, std::nullopt};
  int port = 0;
  const auto* end = digits.data() + digits.size();
  const auto [stop, error] = std::from_chars(digits.data(), end, port);
  if (error != std::errc{} || stop != end || port < 1 || port > 65535) return PortPart{};
  return PortPart{true, port};
}

std::string pathText(const UriUriA& uri) {
  std::string path;
  for (const UriPathSegmentA* segment = uri.pathHead; segment != nullptr; segment = segment->next) {
    path += '/';
    path += text(segment->text);
  }
  return path.empty() ? "/" : path;
}

std::string lowerCase(std::string_view text) {
  std::string lower(text);
  for (char& character : lower) {
    if (character >= 'A' && character <= 'Z') character = static_cast<char>(character - 'A' + 'a');
  }
  return lower;
}

struct Parts {
  std::string absolute;
  std::string scheme;
  std::string host;
  std::optional<int> port;
  std::string path;
};

// The normalised parts of a parsed URL whose dot segments are gone. libcurl
// gives a file URL no host, so the kit takes none.
std::optional<Parts> partsOf(const UriUriA& uri) {
  Parts parts;
  parts.scheme = lowerCase(text(uri.scheme));
  if (parts.scheme.empty() || parts.scheme == "file" || !present(uri.hostText)) return std::nullopt;
  auto host = hostText(uri);
  const auto port = portPart(uri);
  if (!host || !port.valid) return std::nullopt;
  parts.host = std::move(*host);
  parts.port = port.port;
  parts.path = pathText(uri);
  parts.absolute = parts.scheme + "://";
  if (present(uri.userInfo)) parts.absolute.append(text(uri.userInfo)).push_back('@');
  parts.absolute += parts.host;
  if (parts.port) parts.absolute += ":" + std::to_string(*parts.port);
  parts.absolute += parts.path;
  if (const auto query = text(uri.query); !query.empty()) parts.absolute.append("?").append(query);
  if (const auto fragment = text(uri.fragment); !fragment.empty()) parts.absolute.append("#").append(fragment);
  return parts;
}

}  // namespace

std::optional<URL> URL::fromString(std::string_view absolute) {
  if (absolute.empty() || !acceptable(absolute)) return std::nullopt;
  ParsedURI parsed;
  ParsedURI uri;
  // Resolving an absolute URL against itself removes its dot segments and
  // leaves everything else, percent-encodings included, as written.
  if (!parsed.parse(absolute) || !present(parsed->scheme) ||
      uriAddBaseUriExA(uri.get(), &*parsed, &*parsed, URI_RESOLVE_STRICTLY) != URI_SUCCESS) {
    return std::nullopt;
  }
  auto parts = partsOf(*uri);
  if (!parts) return std::nullopt;
  URL url;
  url.absolute_ = std::move(parts->absolute);
  url.scheme_ = std::move(parts->scheme);
  url.host_ = std::move(parts->host);
  url.port_ = parts->port;
  url.path_ = std::move(parts->path);
  return url;
}

std::optional<URL> URL::fromComponents(std::string_view scheme, std::string_view hostAndPort) {
  if (scheme.empty() || hostAndPort.empty() || !acceptable(scheme) || !acceptable(hostAndPort) ||
      hostAndPort.find_first_of("/\\?#@") != std::string_view::npos) {
    return std::nullopt;
  }
  auto url = fromString(std::string(scheme) + "://" + std::string(hostAndPort) + "/");
  if (!url) return std::nullopt;
  // The text must be exactly the host and port understood: no empty ":", no
  // leading zeros, no rewritten address.
  std::string authority = url->host_;
  if (url->port_) authority += ":" + std::to_string(*url->port_);
  if (authority != hostAndPort) return std::nullopt;
  url->absolute_ = url->scheme_ + "://" + authority;
  url->path_.clear();
  return url;
}

std::optional<URL> URL::resolving(std::string_view relativeReference) const {
  if (!acceptable(relativeReference)) return std::nullopt;
  ParsedURI base;
  ParsedURI reference;
  ParsedURI resolved;
  if (!base.parse(absolute_) || !reference.parse(relativeReference) ||
      uriAddBaseUriExA(resolved.get(), &*reference, &*base, URI_RESOLVE_STRICTLY) != URI_SUCCESS) {
    return std::nullopt;
  }
  const auto parts = partsOf(*resolved);
  return parts ? fromString(parts->absolute) : std::nullopt;
}

}  // namespace orbisgrove::platform
