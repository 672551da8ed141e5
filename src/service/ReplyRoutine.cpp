#include "service/ReplyRoutine.hpp"

#include <orbisgrove/platform/JSONCoding.hpp>
#include <orbisgrove/platform/MainQueue.hpp>
#include <orbisgrove/service/OrbisgroveFeedbackErrorDomain.hpp>

#include <exception>
#include <utility>

#include "model/OrbisgroveExploreAPIEnvelopes.hpp"
#include "service/OrbisgroveReportCategoriesAPIManager.hpp"

namespace orbisgrove {

ReplyVerdict judgeReply(const std::optional<std::string>& body,
                        const std::shared_ptr<const platform::URLResponse>& response,
                        const std::shared_ptr<const platform::Error>& transportError) {
  // Without a body there are no service messages; the host still gets one
  // call, carrying the transport error's domain and code.
  if (!body) return OrbisgroveReportCategoriesAPIManager::descriptiveError({}, response, transportError);
  try {
    const platform::JSONDocument document(*body);
    const OrbisgroveExploreAPIResult result(document.root());
    // Only the envelope decides: a "201" in an HTTP error reply is a success,
    // an HTTP 200 without it a failure.
    if (result.response == "201") return *body;
    const OrbisgroveExploreAPIError envelope(document.root());
    std::string message = envelope.joinedMessage();
    if (message.empty()) message = kDefaultServiceMessage;
    const platform::UserInfo replyFields{{std::string(kServiceMessageKey), std::move(message)}};
    return OrbisgroveReportCategoriesAPIManager::descriptiveError(replyFields, response, transportError);
  } catch (const platform::CodingError& failure) {
    return failure.error();
  }
}

void deliverReply(std::optional<std::string> body, std::shared_ptr<const platform::URLResponse> response,
                  std::shared_ptr<const platform::Error> transportError, ServiceBodyHandler completionHandler,
                  ServiceErrorHandler errorHandler) {
  ReplyVerdict verdict;
  try {
    verdict = judgeReply(body, response, transportError);
  } catch (const std::exception& failure) {
    // Out of memory or the like: the caller still waits for its one call.
    verdict = platform::Error::make(std::string(OrbisgroveFeedbackErrorDomain), OrbisgroveFeedbackErrorCode,
                                    {{std::string(platform::NSLocalizedFailureReasonErrorKey),
                                      std::string("The reply could not be handled: ") + failure.what()}});
  }
  if (auto* success = std::get_if<std::string>(&verdict)) {
    platform::MainQueue::shared().post([handler = std::move(completionHandler),
                                        replyBody = std::move(*success)]() mutable { handler(std::move(replyBody)); });
    return;
  }
  platform::MainQueue::shared().post(
      [handler = std::move(errorHandler), error = std::get<std::shared_ptr<const platform::Error>>(verdict)]() {
        handler(error);
      });
}

}  // namespace orbisgrove
