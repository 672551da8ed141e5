#include "platform/http/CurlGateways.hpp"

#include <cstdlib>
#include <memory>

namespace orbisgrove::platform::http {
namespace {

constexpr long recentConnectionSeconds = 3;

// The proxy libcurl takes for an https URL when the session sets none.
std::string proxyFromEnvironment() {
  for (const char* name : {"https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) {
    const char* value = std::getenv(name);  // NOLINT(concurrency-mt-unsafe): only read, as libcurl reads it
    if (value != nullptr && *value != '\0') return value;
  }
  return {};
}

// "host:port" of a proxy URL: its user name and password stay out of errors.
std::string hostOf(const std::string& proxy) {
  const std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> url(curl_url(), curl_url_cleanup);
  if (!url || curl_url_set(url.get(), CURLUPART_URL, proxy.c_str(), CURLU_GUESS_SCHEME | CURLU_NON_SUPPORT_SCHEME) !=
                  CURLUE_OK) {
    return "(unreadable)";
  }
  const auto part = [&url](CURLUPart which) {
    char* text = nullptr;
    std::string value;
    if (curl_url_get(url.get(), which, &text, 0) == CURLUE_OK && text != nullptr) value = text;
    curl_free(text);
    return value;
  };
  std::string named = part(CURLUPART_HOST);
  if (const std::string port = part(CURLUPART_PORT); !port.empty()) named += ":" + port;
  return named;
}

}  // namespace

CURLcode sendAloneOnARecentConnection(CURL* easy) {
  const CURLcode version = curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  return version != CURLE_OK ? version : curl_easy_setopt(easy, CURLOPT_MAXAGE_CONN, recentConnectionSeconds);
}

std::optional<std::string> proxyRefusal(CURL* easy, const std::optional<std::string>& configured) {
  long status = 0;
  if (curl_easy_getinfo(easy, CURLINFO_HTTP_CONNECTCODE, &status) != CURLE_OK || status == 0 ||
      (status >= 200 && status <= 299)) {
    return std::nullopt;
  }
  const std::string proxy = configured && !configured->empty() ? *configured : proxyFromEnvironment();
  return "the proxy " + hostOf(proxy) + " refused to open a tunnel to the server: it answered HTTP status " +
         std::to_string(status);
}

}  // namespace orbisgrove::platform::http
