#include "kit/outbox/OutboxOutcome.hpp"

#include <orbisgrove/service/OrbisgroveSubmissionFailure.hpp>

#include <algorithm>
#include <cmath>
#include <variant>

#include "service/RateLimit.hpp"
#include "service/ReplyRoutine.hpp"

namespace orbisgrove {

double backOffSeconds(std::int64_t failures, double jitter) {
  const double nominal =
      kFirstBackOffSeconds * std::exp2(static_cast<double>(std::clamp<std::int64_t>(failures - 1, 0, 16)));
  return std::min(kLongestBackOffSeconds, std::min(nominal, kLongestBackOffSeconds) * (0.75 + 0.5 * jitter));
}

platform::StoredEntry afterAttempt(platform::StoredEntry entry, const std::optional<std::string>& body,
                                   const std::shared_ptr<const platform::URLResponse>& response,
                                   const std::shared_ptr<const platform::Error>& transportError, double now,
                                   double jitter, std::optional<double>& holdUntil) {
  using platform::StoredState;
  auto verdict = judgeReply(body, response, transportError);
  entry.nextAttemptAt.reset();
  if (auto* reply = std::get_if<std::string>(&verdict)) {
    entry.state = StoredState::delivered;
    entry.reply = std::move(*reply);
    entry.lastError = nullptr;
    entry.finishedAt = now;
    return entry;
  }
  entry.lastError = std::get<std::shared_ptr<const platform::Error>>(verdict);
  switch (classifySubmissionFailure(*entry.lastError)) {
    case OrbisgroveSubmissionFailure::rateLimited: {
      std::optional<double> reset;
      if (const auto* http = dynamic_cast<const platform::HTTPURLResponse*>(response.get())) {
        if (auto time = rateLimitResetTime(*http)) reset = time->secondsSince1970;
      }
      entry.state = StoredState::queued;
      if (reset && *reset > now) {
        entry.nextAttemptAt = *reset;
        holdUntil = *reset;
      } else {
        entry.nextAttemptAt = now + backOffSeconds(entry.failures + 1, jitter);
      }
      return entry;
    }
    case OrbisgroveSubmissionFailure::neverSent:
    case OrbisgroveSubmissionFailure::serviceUnavailable:
      entry.state = StoredState::queued;
      entry.failures += 1;
      entry.nextAttemptAt = now + backOffSeconds(entry.failures, jitter);
      return entry;
    case OrbisgroveSubmissionFailure::refusedByService:
      entry.state = StoredState::rejected;
      entry.finishedAt = now;
      return entry;
    case OrbisgroveSubmissionFailure::noVerdict:
      break;
  }
  entry.state = StoredState::unconfirmed;
  return entry;
}

}  // namespace orbisgrove
