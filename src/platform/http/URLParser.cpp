// URL values in a build without libcurl: a small parser of absolute
// hierarchical URLs (scheme://host[:port]/path?query#fragment) and resolution
// of references as RFC 3986 (section 5) describes it. It normalises as the
// libcurl build does where the kit depends on it: the scheme in lower case, an
// empty path as "/", dot segments removed. User information is refused.
#include <orbisgrove/platform/URL.hpp>

#include <algorithm>
#include <cctype>
#include <charconv>

namespace orbisgrove::platform {
namespace {

bool hasWhiteSpaceOrControl(std::string_view text) {
  return std::any_of(text.begin(), text.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte <= 0x20 || byte == 0x7f;
  });
}

bool isSchemeText(std::string_view text) {
  return !text.empty() && std::isalpha(static_cast<unsigned char>(text.front())) != 0 &&
         std::all_of(text.begin(), text.end(), [](char c) {
           return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '+' || c == '-' || c == '.';
         });
}

// A host name, a dotted IPv4 address or a bracketed IPv6 address (no zone).
bool isHostText(std::string_view host) {
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
    const auto inner = host.substr(1, host.size() - 2);
    return inner.find(':') != std::string_view::npos && std::all_of(inner.begin(), inner.end(), [](char c) {
             return std::isxdigit(static_cast<unsigned char>(c)) != 0 || c == ':' || c == '.';
           });
  }
  if (host.empty() || !std::all_of(host.begin(), host.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '-' || c == '.' || c == '_' || c == '~';
      })) {
    return false;
  }
  // All digits and dots: exactly four numbers of 0 to 255, without leading zeros.
  if (!std::all_of(host.begin(), host.end(), [](char c) { return c == '.' || (c >= '0' && c <= '9'); })) return true;
  int parts = 0;
  for (std::size_t start = 0; start <= host.size(); ++parts) {
    const auto end = std::min(host.find('.', start), host.size());
    const auto part = host.substr(start, end - start);
    int value = 0;
    const auto [stop, error] = std::from_chars(part.data(), part.data() + part.size(), value);
    if (part.empty() || error != std::errc{} || stop != part.data() + part.size() || value > 255 ||
        (part.size() > 1 && part.front() == '0')) {
      return false;
    }
    start = end + 1;
  }
  return parts == 4;
}

// RFC 3986, 5.2.4.
std::string withoutDotSegments(std::string_view path) {
  std::string output;
  while (!path.empty()) {
    if (path.starts_with("../")) {
      path.remove_prefix(3);
    } else if (path.starts_with("./") || path.starts_with("/./")) {
      path.remove_prefix(2);
    } else if (path == "/.") {
      path = "/";
    } else if (path.starts_with("/../") || path == "/..") {
      path = path.size() == 3 ? std::string_view("/") : path.substr(3);
      const auto slash = output.rfind('/');
      output.erase(slash == std::string::npos ? 0 : slash);
    } else if (path == "." || path == "..") {
      path = {};
    } else {
      const auto next = path.find('/', 1);
      const auto segment = path.substr(0, next);
      output += segment;
      path.remove_prefix(segment.size());
    }
  }
  return output;
}

struct Parts {
  std::string scheme;
  std::string authority;
  std::string path;
  std::optional<std::string> query;
  std::optional<std::string> fragment;
};

// Splits "[scheme:][//authority]path[?query][#fragment]".
Parts split(std::string_view text, bool& hasScheme, bool& hasAuthority) {
  Parts parts;
  if (const auto hash = text.find('#'); hash != std::string_view::npos) {
    parts.fragment = std::string(text.substr(hash + 1));
    text = text.substr(0, hash);
  }
  if (const auto question = text.find('?'); question != std::string_view::npos) {
    parts.query = std::string(text.substr(question + 1));
    text = text.substr(0, question);
  }
  const auto colon = text.find(':');
  hasScheme = colon != std::string_view::npos && isSchemeText(text.substr(0, colon));
  if (hasScheme) {
    parts.scheme = std::string(text.substr(0, colon));
    std::transform(parts.scheme.begin(), parts.scheme.end(), parts.scheme.begin(),
                   [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
    text.remove_prefix(colon + 1);
  }
  hasAuthority = text.starts_with("//");
  if (hasAuthority) {
    text.remove_prefix(2);
    const auto slash = std::min(text.find('/'), text.size());
    parts.authority = std::string(text.substr(0, slash));
    text.remove_prefix(slash);
  }
  parts.path = std::string(text);
  return parts;
}

std::string joined(const Parts& parts) {
  std::string text = parts.scheme + "://" + parts.authority + parts.path;
  if (parts.query) text += "?" + *parts.query;
  if (parts.fragment) text += "#" + *parts.fragment;
  return text;
}

}  // namespace

std::optional<URL> URL::fromString(std::string_view absolute) {
  if (absolute.empty() || hasWhiteSpaceOrControl(absolute) || absolute.find('\\') != std::string_view::npos) {
    return std::nullopt;
  }
  bool hasScheme = false;
  bool hasAuthority = false;
  Parts parts = split(absolute, hasScheme, hasAuthority);
  if (!hasScheme || !hasAuthority || parts.authority.find('@') != std::string::npos) return std::nullopt;
  // The port follows the last ":" that is not inside an IPv6 address.
  std::string host = parts.authority;
  std::optional<int> port;
  const auto colon = host.rfind(':');
  if (colon != std::string::npos && host.find(']', colon) == std::string::npos) {
    const std::string_view digits = std::string_view(host).substr(colon + 1);
    if (!digits.empty()) {
      int value = 0;
      const auto [stop, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
      if (error != std::errc{} || stop != digits.data() + digits.size() || value < 1 || value > 65535) {
        return std::nullopt;
      }
      port = value;
    }
    host.erase(colon);
  }
  if (!isHostText(host)) return std::nullopt;
  parts.authority = port ? host + ":" + std::to_string(*port) : host;
  parts.path = parts.path.empty() ? "/" : withoutDotSegments(parts.path);
  URL url;
  url.absolute_ = joined(parts);
  url.scheme_ = parts.scheme;
  url.host_ = std::move(host);
  url.port_ = port;
  url.path_ = parts.path;
  return url;
}

std::optional<URL> URL::fromComponents(std::string_view scheme, std::string_view hostAndPort) {
  if (scheme.empty() || hostAndPort.empty() || hasWhiteSpaceOrControl(scheme) || hasWhiteSpaceOrControl(hostAndPort) ||
      hostAndPort.find_first_of("/\\?#@") != std::string_view::npos) {
    return std::nullopt;
  }
  auto url = fromString(std::string(scheme) + "://" + std::string(hostAndPort) + "/");
  // The text must be exactly the host and port the parser understood.
  if (!url || url->absolute_ != url->scheme_ + "://" + std::string(hostAndPort) + "/") return std::nullopt;
  url->absolute_.pop_back();
  url->path_.clear();
  return url;
}

std::optional<URL> URL::resolving(std::string_view relativeReference) const {
  if (hasWhiteSpaceOrControl(relativeReference)) return std::nullopt;
  bool hasScheme = false;
  bool hasAuthority = false;
  Parts reference = split(relativeReference, hasScheme, hasAuthority);
  if (hasScheme) return fromString(relativeReference);
  bool baseHasScheme = false;
  bool baseHasAuthority = false;
  Parts base = split(absolute_, baseHasScheme, baseHasAuthority);
  reference.scheme = base.scheme;
  if (hasAuthority) return fromString(joined(reference));
  reference.authority = base.authority;
  if (reference.path.empty()) {
    reference.path = base.path;
    if (!reference.query) reference.query = base.query;
  } else if (reference.path.front() != '/') {
    const auto slash = base.path.rfind('/');
    reference.path = (slash == std::string::npos ? std::string("/") : base.path.substr(0, slash + 1)) + reference.path;
  }
  return fromString(joined(reference));
}

}  // namespace orbisgrove::platform
