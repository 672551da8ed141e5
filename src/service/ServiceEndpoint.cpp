#include "service/ServiceEndpoint.hpp"

#include <orbisgrove/platform/URLRequest.hpp>

#include <optional>
#include <stdexcept>
#include <utility>

#include "platform/http/URLSession.hpp"

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
  // Resolving parses with libcurl, a sizeable part of a request's own work;
  // every request of a client asks for the same endpoint, so each thread
  // keeps its last answer.
  thread_local std::optional<std::pair<platform::URL, platform::URL>> last;
  if (last && last->first == endpoint) return last->second;
  auto url = endpoint.resolving(kServicePath);
  // A relative path always resolves against an https base with a host.
  if (!url) throw std::logic_error("cannot resolve the service path against " + endpoint.absoluteString());
  last.emplace(endpoint, *url);
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

namespace {

platform::URLRequest serviceRequest(const platform::URL& url, std::string body, ServiceResend resend) {
  platform::URLRequest request(url, platform::URLRequestCachePolicy::useProtocolCachePolicy, kServiceRequestTimeout);
  request.httpMethod = "POST";
  request.allHTTPHeaderFields = {{"Content-Type", "application/x-www-form-urlencoded"}};
  request.httpBody = std::move(body);
  request.allowsTransportResend = resend == ServiceResend::allowed;
  return request;
}

}  // namespace

std::shared_ptr<platform::DataTask> makeRawServiceDataTask(const platform::URL& url, std::string body,
                                                           platform::URLSession::CompletionHandler completion,
                                                           platform::URLSession::RequestStartHook onRequestStart) {
  return platform::URLSession::shared().dataTask(serviceRequest(url, std::move(body), ServiceResend::never),
                                                 std::move(completion), std::move(onRequestStart));
}

std::shared_ptr<platform::DataTask> makeServiceDataTask(const platform::URL& url, std::string body,
                                                        ServiceReplyHandler handler, ServiceResend resend) {
  return platform::URLSession::shared().dataTask(
      serviceRequest(url, std::move(body), resend),
      [handler = std::move(handler)](std::optional<std::string> replyBody,
                                     const std::shared_ptr<const platform::URLResponse>& response,
                                     const std::shared_ptr<const platform::Error>& error) mutable {
        deliverReply(std::move(replyBody), response, error, std::move(handler));
      });
}

}  // namespace orbisgrove
