#include "service/ServiceEndpoint.hpp"

#include <orbisgrove/platform/URLRequest.hpp>

#include <stdexcept>
#include <utility>

#include "platform/http/URLSession.hpp"
#include "service/ReplyRoutine.hpp"

namespace orbisgrove {

std::string_view defaultServiceHost() noexcept { return ORBISGROVE_DEFAULT_SERVICE_HOST; }

platform::URL serviceEndpoint(const std::optional<std::string>& host) {
  const std::string_view text = host ? std::string_view(*host) : defaultServiceHost();
  auto endpoint = platform::URL::fromComponents("https", text);
  if (!endpoint) {
    throw std::invalid_argument("no https URL can be formed from the host text \"" + std::string(text) + "\"");
  }
  return std::move(*endpoint);
}

platform::URL serviceURL(const platform::URL& endpoint) {
  auto url = endpoint.resolving(kServicePath);
  // A relative path always resolves against an https base with a host.
  if (!url) throw std::logic_error("cannot resolve the service path against " + endpoint.absoluteString());
  return std::move(*url);
}

std::string serviceFormPrefix(std::string_view operation) {
  std::string prefix;
  prefix.reserve(96);
  prefix += "q=";
  prefix += operation;
  prefix += "&layer=explore";
  prefix += "&client=104";
  prefix += "&key=";
  prefix += kServiceClientKey;
  prefix += "&apptype=native";
  return prefix;
}

std::shared_ptr<platform::DataTask> makeServiceDataTask(const platform::URL& url, std::string body,
                                                        ServiceBodyHandler completionHandler,
                                                        ServiceErrorHandler errorHandler) {
  platform::URLRequest request(url, platform::URLRequestCachePolicy::useProtocolCachePolicy, kServiceRequestTimeout);
  request.httpMethod = "POST";
  request.allHTTPHeaderFields = {{"Content-Type", "application/x-www-form-urlencoded"}};
  request.httpBody = std::move(body);
  return platform::URLSession::shared().dataTask(
      std::move(request),
      [completionHandler = std::move(completionHandler), errorHandler = std::move(errorHandler)](
          std::optional<std::string> replyBody, std::shared_ptr<const platform::URLResponse> response,
          std::shared_ptr<const platform::Error> error) mutable {
        deliverReply(std::move(replyBody), std::move(response), std::move(error), std::move(completionHandler),
                     std::move(errorHandler));
      });
}

}  // namespace orbisgrove
