#include "service/ReplyRoutine.hpp"

#include <orbisgrove/platform/JSONCoding.hpp>
#include <orbisgrove/platform/MainQueue.hpp>
#include <orbisgrove/service/OrbisgroveFeedbackErrorDomain.hpp>

#include <exception>
#include <functional>
#include <utility>

#include "model/OrbisgroveExploreAPIEnvelopes.hpp"
#include "service/OrbisgroveReportCategoriesAPIManager.hpp"

namespace orbisgrove {
namespace {

// A body that is not the service's JSON keeps the JSON coder's error, and the
// reply's status beside it: a gateway's 429 or 503 page says the request was
// not processed.
std::shared_ptr<const platform::Error> withReplyStatus(const std::shared_ptr<const platform::Error>& error,
                                                       const std::shared_ptr<const platform::URLResponse>& response) {
  const auto* http = dynamic_cast<const platform::HTTPURLResponse*>(response.get());
  if (http == nullptr || !error) return error;
  platform::DeliveryFacts facts = error->deliveryFacts();
  facts.httpStatusCode = http->statusCode();
  return platform::Error::make(error->domain(), error->code(), error->userInfo(), facts);
}

// The verdict with a success's parsed document, for handlers that decode it.
using ParsedVerdict =
    std::variant<std::shared_ptr<const platform::JSONDocument>, std::shared_ptr<const platform::Error>>;

ParsedVerdict judgeParsedReply(const std::optional<std::string>& body,
                               const std::shared_ptr<const platform::URLResponse>& response,
                               const std::shared_ptr<const platform::Error>& transportError) {
  // Without a body there are no service messages; the host still gets one
  // call, carrying the transport error's domain and code.
  if (!body) return OrbisgroveReportCategoriesAPIManager::descriptiveError({}, response, transportError);
  try {
    auto document = std::make_shared<const platform::JSONDocument>(*body);
    const OrbisgroveExploreAPIResult result(document->root());
    // Only the envelope decides: a "201" in an HTTP error reply is a success,
    // an HTTP 200 without it a failure.
    if (result.response == "201") return document;
    const OrbisgroveExploreAPIError envelope(document->root());
    std::string message = envelope.joinedMessage();
    if (message.empty()) message = kDefaultServiceMessage;
    const platform::UserInfo replyFields{{std::string(kServiceMessageKey), std::move(message)}};
    return OrbisgroveReportCategoriesAPIManager::descriptiveError(replyFields, response, transportError);
  } catch (const platform::CodingError& failure) {
    return withReplyStatus(failure.error(), response);
  }
}

// Out of memory or the like while a reply is handled: the caller still waits
// for its one call and gets this error.
std::shared_ptr<const platform::Error> unhandledReplyError(const std::exception& failure) {
  return platform::Error::make(std::string(OrbisgroveFeedbackErrorDomain), OrbisgroveFeedbackErrorCode,
                               {{std::string(platform::NSLocalizedFailureReasonErrorKey),
                                 std::string("The reply could not be handled: ") + failure.what()}});
}

template <class Verdict, class Judge>
Verdict judgedOrFailed(Judge judge) {
  try {
    return judge();
  } catch (const std::exception& failure) {
    return unhandledReplyError(failure);
  }
}

void postError(ServiceErrorHandler errorHandler, std::shared_ptr<const platform::Error> error) {
  platform::MainQueue::shared().post(
      [handler = std::move(errorHandler), error = std::move(error)]() { handler(error); });
}

}  // namespace

ReplyVerdict judgeReply(const std::optional<std::string>& body,
                        const std::shared_ptr<const platform::URLResponse>& response,
                        const std::shared_ptr<const platform::Error>& transportError) {
  ParsedVerdict verdict = judgeParsedReply(body, response, transportError);
  if (auto* error = std::get_if<std::shared_ptr<const platform::Error>>(&verdict)) return std::move(*error);
  return *body;
}

void deliverReply(std::optional<std::string> body, std::shared_ptr<const platform::URLResponse> response,
                  std::shared_ptr<const platform::Error> transportError, ServiceBodyHandler completionHandler,
                  ServiceErrorHandler errorHandler) {
  auto verdict = judgedOrFailed<ReplyVerdict>([&] { return judgeReply(body, response, transportError); });
  if (auto* success = std::get_if<std::string>(&verdict)) {
    platform::MainQueue::shared().post([handler = std::move(completionHandler),
                                        replyBody = std::move(*success)]() mutable { handler(std::move(replyBody)); });
    return;
  }
  postError(std::move(errorHandler), std::get<std::shared_ptr<const platform::Error>>(std::move(verdict)));
}

void deliverReply(std::optional<std::string> body, std::shared_ptr<const platform::URLResponse> response,
                  std::shared_ptr<const platform::Error> transportError,
                  const ServiceDocumentHandler& completionHandler, ServiceErrorHandler errorHandler) {
  auto verdict = judgedOrFailed<ParsedVerdict>([&] { return judgeParsedReply(body, response, transportError); });
  if (auto* success = std::get_if<std::shared_ptr<const platform::JSONDocument>>(&verdict)) {
    // Decoded here, while the reply is still in this thread's cache; only
    // the host's call waits for the main queue.
    std::function<void()> handOver;
    try {
      handOver = completionHandler(**success);
    } catch (const std::exception& failure) {
      postError(std::move(errorHandler), unhandledReplyError(failure));
      return;
    }
    platform::MainQueue::shared().post(std::move(handOver));
    return;
  }
  postError(std::move(errorHandler), std::get<std::shared_ptr<const platform::Error>>(std::move(verdict)));
}

}  // namespace orbisgrove
