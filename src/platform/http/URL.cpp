// URL values on libcurl's URL API, so that what the session sends is exactly
// what libcurl itself understands the text to be.
#include <orbisgrove/platform/URL.hpp>

#include "platform/http/CurlGlobal.hpp"

#include <curl/curl.h>

#include <charconv>
#include <memory>

namespace orbisgrove::platform {
namespace {

struct CurlUrlDeleter {
  void operator()(CURLU* handle) const noexcept { curl_url_cleanup(handle); }
};
using CurlUrlPointer = std::unique_ptr<CURLU, CurlUrlDeleter>;

CurlUrlPointer newHandle() {
  http::ensureCurlGlobalInit();
  return CurlUrlPointer(curl_url());
}

std::optional<std::string> part(CURLU* handle, CURLUPart which, unsigned int flags = 0) {
  char* text = nullptr;
  if (curl_url_get(handle, which, &text, flags) != CURLUE_OK || text == nullptr) return std::nullopt;
  std::string value(text);
  curl_free(text);
  return value;
}

struct PortPart {
  bool valid = false;
  std::optional<int> port;
};

// Port 0 parses but no connection can be made to it.
PortPart portPart(CURLU* handle) {
  const auto text = part(handle, CURLUPART_PORT);
  if (!text) return PortPart{true, std::nullopt};
  int port = 0;
  const auto* end = text->data() + text->size();
  const auto [stop, error] = std::from_chars(text->data(), end, port);
  if (error != std::errc{} || stop != end || port < 1 || port > 65535) return PortPart{};
  return PortPart{true, port};
}

bool hasWhiteSpaceOrControl(std::string_view text) {
  for (const char character : text) {
    const auto byte = static_cast<unsigned char>(character);
    if (byte <= 0x20 || byte == 0x7f) return true;
  }
  return false;
}

}  // namespace

std::optional<URL> URL::fromString(std::string_view absolute) {
  if (absolute.empty() || hasWhiteSpaceOrControl(absolute)) return std::nullopt;
  const auto handle = newHandle();
  if (!handle) return std::nullopt;
  const std::string text(absolute);
  if (curl_url_set(handle.get(), CURLUPART_URL, text.c_str(), CURLU_NON_SUPPORT_SCHEME) != CURLUE_OK) {
    return std::nullopt;
  }
  auto scheme = part(handle.get(), CURLUPART_SCHEME);
  auto host = part(handle.get(), CURLUPART_HOST);
  const auto port = portPart(handle.get());
  auto rendered = part(handle.get(), CURLUPART_URL);
  if (!scheme || !host || host->empty() || !port.valid || !rendered) return std::nullopt;
  URL url;
  url.absolute_ = std::move(*rendered);
  url.scheme_ = std::move(*scheme);
  url.host_ = std::move(*host);
  url.port_ = port.port;
  url.path_ = part(handle.get(), CURLUPART_PATH).value_or(std::string());
  return url;
}

std::optional<URL> URL::fromComponents(std::string_view scheme, std::string_view hostAndPort) {
  if (scheme.empty() || hostAndPort.empty() || hasWhiteSpaceOrControl(scheme) || hasWhiteSpaceOrControl(hostAndPort)) {
    return std::nullopt;
  }
  // Anything that would make the text more than an authority without user
  // information is refused outright, before libcurl gets to interpret it.
  if (hostAndPort.find_first_of("/\\?#@") != std::string_view::npos) return std::nullopt;

  const auto handle = newHandle();
  if (!handle) return std::nullopt;
  const std::string candidate = std::string(scheme) + "://" + std::string(hostAndPort) + "/";
  if (curl_url_set(handle.get(), CURLUPART_URL, candidate.c_str(), CURLU_NON_SUPPORT_SCHEME) != CURLUE_OK) {
    return std::nullopt;
  }
  const auto host = part(handle.get(), CURLUPART_HOST);
  const auto port = portPart(handle.get());
  const auto parsedScheme = part(handle.get(), CURLUPART_SCHEME);
  if (!host || !port.valid || !parsedScheme) return std::nullopt;
  // libcurl is lenient where a host text should be exact: it drops an empty
  // ":", strips leading zeros from ports, rewrites "127.1" and drops IPv6
  // zone identifiers. The text must be exactly what libcurl understood.
  std::string authority = *host;
  if (port.port) authority += ":" + std::to_string(*port.port);
  if (authority != hostAndPort) return std::nullopt;

  auto url = fromString(candidate);
  if (!url) return std::nullopt;
  // The rendering without the "/" that libcurl always adds as path.
  url->absolute_ = *parsedScheme + "://" + authority;
  url->path_.clear();
  return url;
}

std::optional<URL> URL::resolving(std::string_view relativeReference) const {
  if (hasWhiteSpaceOrControl(relativeReference)) return std::nullopt;
  const auto handle = newHandle();
  if (!handle) return std::nullopt;
  if (curl_url_set(handle.get(), CURLUPART_URL, absolute_.c_str(), CURLU_NON_SUPPORT_SCHEME) != CURLUE_OK) {
    return std::nullopt;
  }
  const std::string reference(relativeReference);
  if (!reference.empty() && reference.front() == '#') {
    // libcurl resolves a fragment-only reference against the base's directory;
    // a browser keeps the base's path and query and swaps the fragment only.
    if (curl_url_set(handle.get(), CURLUPART_FRAGMENT, reference.size() > 1 ? reference.c_str() + 1 : nullptr, 0) !=
        CURLUE_OK) {
      return std::nullopt;
    }
  } else if (!reference.empty()) {
    if (curl_url_set(handle.get(), CURLUPART_URL, reference.c_str(), CURLU_NON_SUPPORT_SCHEME) != CURLUE_OK) {
      return std::nullopt;
    }
  } else {
    // The empty reference is the base itself, less its fragment.
    curl_url_set(handle.get(), CURLUPART_FRAGMENT, nullptr, 0);
  }
  const auto resolved = part(handle.get(), CURLUPART_URL);
  if (!resolved) return std::nullopt;
  return fromString(*resolved);
}

}  // namespace orbisgrove::platform
