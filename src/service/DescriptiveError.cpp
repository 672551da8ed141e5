// How a failed reply becomes the error value a host application shows.
#include "platform/core/KitError.hpp"
#include "platform/text/DecimalText.hpp"
#include "platform/text/TextFormatting.hpp"
#include "service/OrbisgroveReportCategoriesAPIManager.hpp"
#include "service/RateLimit.hpp"
#include "service/ReplyRoutine.hpp"

namespace orbisgrove {
namespace {

// "More than 1,000 requests have been made with this access token within a
// period of 1 hour." — only when both the count and the period are readable.
std::optional<std::string> rateLimitWording(const platform::HTTPURLResponse& response) {
  const auto interval = rateLimitInterval(response);
  if (!interval) return std::nullopt;
  const auto limit = rateLimit(response);
  if (!limit) return std::nullopt;
  std::string period;
  if (auto formatted = platform::fullDurationText(*interval)) {
    period = std::move(*formatted);
  } else {
    period = platform::shortestDecimalText(*interval) + " seconds";
  }
  return "More than " + platform::decimalText(*limit) +
         " requests have been made with this access token within a period of " + period + ".";
}

std::optional<std::string> retryWording(const platform::HTTPURLResponse& response) {
  const auto reset = rateLimitResetTime(response);
  if (!reset) return std::nullopt;
  return "Wait until " + platform::longDateTimeText(*reset) + " before retrying.";
}

}  // namespace

std::shared_ptr<const platform::Error> OrbisgroveReportCategoriesAPIManager::descriptiveError(
    const platform::UserInfo& replyFields, const std::shared_ptr<const platform::URLResponse>& response,
    const std::shared_ptr<const platform::Error>& underlyingError) {
  platform::UserInfo userInfo = underlyingError ? underlyingError->userInfo() : platform::UserInfo{};
  platform::DeliveryFacts facts = underlyingError ? underlyingError->deliveryFacts() : platform::DeliveryFacts{};

  if (const auto* http = dynamic_cast<const platform::HTTPURLResponse*>(response.get())) {
    facts.httpStatusCode = http->statusCode();
    std::optional<std::string> failureReason;
    std::optional<std::string> recoverySuggestion;
    if (http->statusCode() == 429) {
      // A refused client learns the limit and when to retry; the service's
      // own message plays no part here.
      failureReason = rateLimitWording(*http);
      recoverySuggestion = retryWording(*http);
    } else if (const auto message = replyFields.find(kServiceMessageKey); message != replyFields.end()) {
      if (const auto* messageText = std::get_if<std::string>(&message->second)) failureReason = *messageText;
    }

    const std::string reasonKey(platform::NSLocalizedFailureReasonErrorKey);
    if (failureReason) {
      userInfo[reasonKey] = std::move(*failureReason);
    } else if (!userInfo.contains(reasonKey)) {
      // Without a transport error the reply's own status is what went wrong
      // (a 429 without rate-limit headers reads "too many requests"); with
      // one, the phrase follows that error's code.
      const std::int64_t code = underlyingError ? underlyingError->code() : http->statusCode();
      userInfo[reasonKey] = platform::statusPhrase(code);
    }
    if (recoverySuggestion) {
      userInfo[std::string(platform::NSLocalizedRecoverySuggestionErrorKey)] = std::move(*recoverySuggestion);
    }
  }

  if (underlyingError) {
    userInfo[std::string(platform::NSUnderlyingErrorKey)] = underlyingError;
    return platform::Error::make(underlyingError->domain(), underlyingError->code(), std::move(userInfo), facts);
  }
  return platform::kitError(std::move(userInfo), facts);
}

}  // namespace orbisgrove
