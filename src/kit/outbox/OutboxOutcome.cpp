#include "kit/outbox/OutboxOutcome.hpp"

#include <orbisgrove/service/OrbisgroveSubmissionFailure.hpp>

#include <algorithm>
#include <cmath>
#include <variant>

#include "model/OrbisgroveUserDataInfoResponse.hpp"
#include "service/RateLimit.hpp"
#include "service/ReplyRoutine.hpp"

namespace orbisgrove {

double backOffSeconds(std::int64_t failures, double jitter) {
  const double nominal =
      kFirstBackOffSeconds * std::exp2(static_cast<double>(std::clamp<std::int64_t>(failures - 1, 0, 16)));
  return std::min(kLongestBackOffSeconds, std::min(nominal, kLongestBackOffSeconds) * (0.75 + 0.5 * jitter));
}

std::optional<std::string> createdRecord(const std::string& reply) {
  try {
    const auto record = platform::JSONDecoder().decode<OrbisgroveUserDataInfoResponse>(reply).dataInfo();
    if (!record) return std::nullopt;
    std::string json = platform::JSONEncoder().encode(record);
    if (json.size() > platform::OutboxStore::kLongestRecordBytes) return std::nullopt;
    return json;
  } catch (const platform::CodingError&) {
    return std::nullopt;  // delivered all the same: the service said "201"
  }
}

platform::StoredEntry afterAttempt(platform::StoredEntry entry, const std::optional<std::string>& body,
                                   const std::shared_ptr<const platform::URLResponse>& response,
                                   const std::shared_ptr<const platform::Error>& transportError, double now,
                                   double jitter, std::optional<platform::StoredWait>& hold) {
  using platform::StoredState;
  auto verdict = judgeReply(body, response, transportError);
  entry.wait.reset();
  if (auto* reply = std::get_if<std::string>(&verdict)) {
    entry.state = StoredState::delivered;
    entry.record = createdRecord(*reply);
    entry.lastError = nullptr;
    entry.finishedAt = now;
    return entry;
  }
  entry.lastError = std::get<std::shared_ptr<const platform::Error>>(verdict);
  switch (classifySubmissionFailure(*entry.lastError)) {
    case OrbisgroveSubmissionFailure::rateLimited: {
      std::optional<double> reset;
      if (const auto* http = dynamic_cast<const platform::HTTPURLResponse*>(response.get())) {
        reset = rateLimitResetSecondsAnyCase(*http);
      }
      entry.state = StoredState::queued;
      if (reset && std::isfinite(*reset) && *reset > now) {
        hold = platform::StoredWait{now, std::min(*reset - now, platform::OutboxStore::kLongestWaitSeconds)};
        entry.wait = hold;
      } else {
        entry.wait = platform::StoredWait{now, backOffSeconds(entry.failures + 1, jitter)};
      }
      return entry;
    }
    case OrbisgroveSubmissionFailure::neverSent:
    case OrbisgroveSubmissionFailure::serviceUnavailable:
      entry.state = StoredState::queued;
      entry.failures += 1;
      entry.wait = platform::StoredWait{now, backOffSeconds(entry.failures, jitter)};
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
