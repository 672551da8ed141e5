#include "platform/http/CurlGlobal.hpp"

#include "platform/core/ProcessLifecycle.hpp"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace orbisgrove::platform::http {
namespace {

// The oldest libcurl whose interfaces the session uses (CURL_WRITEFUNC_ERROR).
constexpr unsigned kOldestLibcurl = 0x075700;

std::optional<std::string> checkLibcurl(CURLcode initialised) {
  if (initialised != CURLE_OK)
    return std::string("libcurl could not be initialised: ") + curl_easy_strerror(initialised);
  const curl_version_info_data* info = curl_version_info(CURLVERSION_NOW);
  if (info->version_num < kOldestLibcurl) {
    return std::string("libcurl ") + info->version + " is older than 7.87.0, the oldest the URL session works with";
  }
  const std::string_view tls = info->ssl_version != nullptr ? info->ssl_version : "";
  if (!tls.starts_with("OpenSSL/")) {
    return "libcurl uses the TLS library \"" + std::string(tls) +
           "\", but the URL session needs libcurl built on OpenSSL (it adds trusted authorities to OpenSSL's store)";
  }
  return std::nullopt;
}

// libcurl initialised once, thread-safely, and what keeps the session from
// working with it. Never destroyed, like every static the delivery threads
// read: made after the exit hook was registered, it would otherwise be
// destroyed at exit before the hook has stopped them.
const std::optional<std::string>& initialisedLibcurl() {
  static const auto* problem = new std::optional<std::string>([] {
    // Of a libcurl built with several TLS libraries, OpenSSL is the one
    // wanted; too late when the host initialised libcurl first, which the
    // check then tells.
    (void)curl_global_sslset(CURLSSLBACKEND_OPENSSL, nullptr, nullptr);
    auto found = checkLibcurl(curl_global_init(CURL_GLOBAL_DEFAULT));
    // Registered after curl_global_init, which registers OpenSSL's cleanup:
    // the exit hook runs first.
    registerExitHook();
    return found;
  }());
  return *problem;
}

}  // namespace

void ensureCurlGlobalInit() { (void)initialisedLibcurl(); }

const char* hashedSystemAuthorities() {
  static const auto* directory = new std::optional<std::string>([]() -> std::optional<std::string> {
    ensureCurlGlobalInit();
    const curl_version_info_data* info = curl_version_info(CURLVERSION_NOW);
    if (info->capath == nullptr) return std::nullopt;
    // OpenSSL's links are named <8 hex digits>.<digit>.
    std::error_code failed;
    for (const auto& entry : std::filesystem::directory_iterator(info->capath, failed)) {
      const std::string name = entry.path().filename().string();
      if (name.size() == 10 && name[8] == '.' && std::isdigit(static_cast<unsigned char>(name[9])) != 0 &&
          std::all_of(name.begin(), name.begin() + 8,
                      [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); })) {
        return std::string(info->capath);
      }
    }
    return std::nullopt;
  }());
  return *directory ? (*directory)->c_str() : nullptr;
}

const std::string* curlSetUpProblem() {
  const auto& problem = initialisedLibcurl();
  return problem ? &*problem : nullptr;
}

}  // namespace orbisgrove::platform::http
