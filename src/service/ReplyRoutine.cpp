#include "service/ReplyRoutine.hpp"

#include <orbisgrove/platform/JSONCoding.hpp>
#include <orbisgrove/platform/MainQueue.hpp>

#include <exception>
#include <utility>

#include "model/OrbisgroveExploreAPIEnvelopes.hpp"
#include "platform/core/KitError.hpp"
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

// The verdict with a success's parsed document, from which a client decodes.
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

}  // namespace

ReplyVerdict judgeReply(const std::optional<std::string>& body,
                        const std::shared_ptr<const platform::URLResponse>& response,
                        const std::shared_ptr<const platform::Error>& transportError) {
  ParsedVerdict verdict = judgeParsedReply(body, response, transportError);
  if (auto* error = std::get_if<std::shared_ptr<const platform::Error>>(&verdict)) return std::move(*error);
  return *body;
}

void deliverReply(std::optional<std::string> body, const std::shared_ptr<const platform::URLResponse>& response,
                  const std::shared_ptr<const platform::Error>& transportError, ServiceReplyHandler handler) {
  std::shared_ptr<const platform::Error> error;
  std::function<void()> handOver;
  try {
    ParsedVerdict verdict = judgeParsedReply(body, response, transportError);
    if (auto* document = std::get_if<std::shared_ptr<const platform::JSONDocument>>(&verdict)) {
      // A client that decodes here does so while the reply is still in this
      // thread's cache; only the host's call waits for the main queue.
      handOver = handler.accepted(ServiceReply{std::move(*body), std::move(*document)});
    } else {
      error = std::get<std::shared_ptr<const platform::Error>>(std::move(verdict));
    }
  } catch (const std::exception& failure) {
    // Out of memory or the like while the reply is handled: the caller still
    // waits for its one call and gets this error.
    error = platform::kitError(std::string("The reply could not be handled: ") + failure.what());
  }
  if (error) {
    handOver = [failed = std::move(handler.failed), error = std::move(error)] { failed(error); };
  }
  platform::MainQueue::shared().post(std::move(handOver));
}

}  // namespace orbisgrove
