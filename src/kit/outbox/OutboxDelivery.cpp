// The outbox's delivery, on the platform session's delivery thread: one
// attempt at a time, marked "sending" only once its request starts to go out,
// and its verdict announced only once the store holds it.
#include <orbisgrove/platform/MainQueue.hpp>
#include <orbisgrove/service/OrbisgroveSaveUserDataAPIManager.hpp>

#include <algorithm>
#include <cmath>
#include <utility>

#include "kit/outbox/OutboxEngine.hpp"
#include "kit/outbox/OutboxErrors.hpp"
#include "kit/outbox/OutboxOutcome.hpp"
#include "kit/outbox/OutboxSteps.hpp"
#include "platform/core/Date.hpp"
#include "platform/http/DeliveryTimers.hpp"
#include "service/ServiceEndpoint.hpp"

namespace orbisgrove {

using platform::StoredEntry;
using platform::StoredState;

void OrbisgroveFeedbackOutbox::Engine::scheduleLocked(Clock::time_point deadline) {
  if (timerAt_ && *timerAt_ <= deadline) return;
  timerAt_ = deadline;
  platform::sharedDeliveryTimers().schedule(deadline, [weak = weak_from_this(), deadline] {
    if (auto engine = weak.lock()) engine->pump(deadline);
  });
}

void OrbisgroveFeedbackOutbox::Engine::retryLaterLocked() {
  // A caller waiting for its own report (deliver) looks again at the first
  // pace: its wait ends once the report is settled. Otherwise ever less often.
  if (!wanted_.empty()) {
    scheduleLocked(Clock::now() + platform::saturatedWait(kOutboxClaimRetrySeconds));
    return;
  }
  const double seconds =
      std::min(kOutboxLongestRetrySeconds, kOutboxClaimRetrySeconds * std::exp2(std::min(misses_, 8)));
  misses_ += 1;
  scheduleLocked(Clock::now() + platform::saturatedWait(seconds));
}

void OrbisgroveFeedbackOutbox::Engine::finishPassLocked(std::vector<DeliveryHandler>& done) {
  if (!forced_.empty()) return;
  for (auto& handler : passWaiters_) done.push_back(std::move(handler));
  passWaiters_.clear();
}

void OrbisgroveFeedbackOutbox::Engine::endWantedLocked(std::int64_t id, std::vector<DeliveryHandler>& done) {
  auto found = wanted_.find(id);
  if (found == wanted_.end()) return;
  for (auto& handler : found->second) done.push_back(std::move(handler));
  wanted_.erase(found);
}

void OrbisgroveFeedbackOutbox::Engine::endAllWantedLocked(std::vector<DeliveryHandler>& done) {
  while (!wanted_.empty()) endWantedLocked(wanted_.begin()->first, done);
}

void OrbisgroveFeedbackOutbox::Engine::endSettledWantedLocked(std::vector<DeliveryHandler>& done) {
  std::vector<std::int64_t> settled;
  for (const auto& [id, handlers] : wanted_) {
    auto found = store_->entry(id);
    const auto* entry = std::get_if<std::optional<StoredEntry>>(&found);
    const bool open = entry != nullptr && *entry &&
                      ((*entry)->state == StoredState::queued || (*entry)->state == StoredState::sending);
    if (!open) settled.push_back(id);
  }
  for (const auto id : settled) endWantedLocked(id, done);
}

bool OrbisgroveFeedbackOutbox::Engine::heldLocked(std::optional<Clock::time_point>& holdEnd) {
  holdEnd.reset();
  if (!store_) return false;
  auto hold = store_->hold();
  if (errorOf(hold) || !std::get<std::optional<platform::StoredWait>>(hold)) return false;
  holdEnd = waits_.end(OutboxWaits::kHold, *std::get<std::optional<platform::StoredWait>>(hold));
  return *holdEnd > Clock::now();
}

OrbisgroveOutboxEntry OrbisgroveFeedbackOutbox::Engine::publicEntryLocked(
    const StoredEntry& stored, const std::optional<Clock::time_point>& holdEnd) {
  std::optional<Clock::time_point> next;
  if (stored.wait) next = waits_.end(stored.id, *stored.wait);
  if (holdEnd && *holdEnd > Clock::now() && (!next || *next < *holdEnd)) next = holdEnd;
  return publicEntry(stored, next ? std::optional<double>(OutboxWaits::wallTimeOf(*next)) : std::nullopt);
}

void OrbisgroveFeedbackOutbox::Engine::announceLocked(const StoredEntry& entry, std::vector<DeliveryHandler>& posts) {
  if (!changeHandler_) return;
  posts.emplace_back([handler = changeHandler_, entry = publicEntryLocked(entry, std::nullopt)] { (*handler)(entry); });
}

bool OrbisgroveFeedbackOutbox::Engine::storeVerdictLocked(Verdict& verdict, std::vector<DeliveryHandler>& posts) {
  auto written = verdict.store->update(verdict.after, verdict.expected, verdict.hold);
  if (errorOf(written)) return false;
  misses_ = 0;
  // Changed meanwhile by another process (it found this one gone): its word stands.
  if (std::get<bool>(written)) announceLocked(verdict.after, posts);
  return true;
}

std::optional<StoredEntry> OrbisgroveFeedbackOutbox::Engine::chooseLocked(std::vector<DeliveryHandler>& done) {
  auto stored = store_->all();
  if (errorOf(stored)) {
    store_->releaseDelivery();
    forced_.clear();
    endAllWantedLocked(done);
    retryLaterLocked();
    return std::nullopt;
  }
  std::optional<Clock::time_point> holdEnd;
  const bool held = heldLocked(holdEnd);
  const auto now = Clock::now();
  std::set<std::int64_t> queued;
  std::optional<StoredEntry> wanted;
  std::optional<StoredEntry> due;
  std::optional<Clock::time_point> nextDue;
  for (auto& entry : std::get<std::vector<StoredEntry>>(stored)) {
    if (entry.state != StoredState::queued) continue;
    queued.insert(entry.id);
    const auto end = entry.wait ? std::optional(waits_.end(entry.id, *entry.wait)) : std::nullopt;
    if (wanted_.contains(entry.id)) {
      if (!wanted) wanted = entry;
    } else if (!end || *end <= now || forced_.contains(entry.id)) {
      if (!due) due = entry;
    } else if (!nextDue || *end < *nextDue) {
      nextDue = end;
    }
  }
  waits_.keepOnly(queued);
  // Asked for, but no longer queued (delivered by another process, say).
  std::erase_if(forced_, [&](std::int64_t id) { return held || !queued.contains(id); });
  for (auto it = wanted_.begin(); it != wanted_.end();) {
    const auto id = (it++)->first;
    if (held || !queued.contains(id)) endWantedLocked(id, done);
  }
  if (held) {
    store_->releaseDelivery();
    scheduleLocked(*holdEnd);
    return std::nullopt;
  }
  if (wanted) return wanted;
  if (due) return due;
  store_->releaseDelivery();
  if (nextDue) scheduleLocked(*nextDue);
  return std::nullopt;
}

void OrbisgroveFeedbackOutbox::Engine::pump(Clock::time_point firedFor) {
  std::vector<DeliveryHandler> finished;
  std::shared_ptr<Attempt> attempt;
  {
    const std::lock_guard lock(mutex_);
    if (timerAt_ == firedFor) timerAt_.reset();
    if (attempt_ || owner_.inForkedChild()) return;  // the attempt's end brings the next
    // Verdicts first: nothing new starts while the store refuses them.
    std::erase_if(unstored_, [&](Verdict& verdict) { return storeVerdictLocked(verdict, finished); });
    if (!unstored_.empty()) {
      forced_.clear();
      endAllWantedLocked(finished);
      retryLaterLocked();
    } else if (platform::processExiting() || openLocked(platform::DataDirectoryUse::existing) || !store_) {
      // Exit has begun (no new attempt), or there is nothing to deliver from.
      forced_.clear();
      endAllWantedLocked(finished);
    } else if (auto claimed = store_->claimDelivery(interruptedError()); errorOf(claimed) || !std::get<bool>(claimed)) {
      // The lock file is out of reach: a single attempt asked for cannot
      // start. Another process delivers: it tries a queued entry in its turn,
      // so a caller waits on until one of the two processes has settled it.
      // Either way, look again ever less often.
      if (errorOf(claimed)) {
        endAllWantedLocked(finished);
      } else {
        endSettledWantedLocked(finished);
      }
      retryLaterLocked();
    } else {
      misses_ = 0;
      // Pruning by age is a commit of its own: once an hour is plenty.
      if (!lastPrune_ || Clock::now() - *lastPrune_ > std::chrono::hours(1)) {
        store_->prune(platform::Date::now().secondsSince1970 - kOutboxKeepSeconds,
                      platform::OutboxStore::kFinishedEntriesKept);
        lastPrune_ = Clock::now();
      }
      if (auto next = chooseLocked(finished)) {
        attempt_ = std::make_shared<Attempt>(Attempt{store_, std::move(*next), false});
        attempt = attempt_;
      }
    }
    finishPassLocked(finished);
  }
  for (auto& handler : finished) platform::MainQueue::shared().post(std::move(handler));
  if (!attempt) return;
  reachOutboxStep(OutboxStep::beforeRequest);
  const platform::URL url = serviceURL(OrbisgroveSaveUserDataAPIManager::shared().apiEndpoint());
  const std::weak_ptr<Engine> weak = weak_from_this();
  auto task = makeRawServiceDataTask(
      url, attempt->entry.body,
      [weak, attempt](std::optional<std::string> body, std::shared_ptr<const platform::URLResponse> response,
                      std::shared_ptr<const platform::Error> error) {
        if (auto engine = weak.lock())
          engine->finishAttempt(attempt, std::move(body), std::move(response), std::move(error));
      },
      [weak, attempt] {
        auto engine = weak.lock();
        return engine && engine->markStarting(attempt);
      });
  task->resume();
}

bool OrbisgroveFeedbackOutbox::Engine::markStarting(const std::shared_ptr<Attempt>& attempt) {
  // Once exit has begun nothing new goes out: a refused request never left
  // the device, and its entry stays queued.
  if (owner_.inForkedChild() || platform::processExiting()) return false;
  const std::lock_guard lock(mutex_);
  if (attempt->marked) return true;  // a redirected request of the same attempt
  if (attempt_ != attempt) return false;
  reachOutboxStep(OutboxStep::beforeStartMark);
  // Still this process's to deliver: its claim is on the lock file at the path.
  if (auto claimed = attempt->store->claimDelivery(interruptedError()); errorOf(claimed) || !std::get<bool>(claimed)) {
    return false;
  }
  StoredEntry marked = attempt->entry;
  marked.state = StoredState::sending;
  marked.attempts += 1;
  marked.wait.reset();
  // Committed (synced) before the request's first byte: a crash from here on
  // leaves an entry that may have reached the service.
  auto written = attempt->store->update(marked, StoredState::queued);
  if (errorOf(written) || !std::get<bool>(written)) return false;  // the store refused, or it was discarded
  attempt->entry = std::move(marked);
  attempt->marked = true;
  reachOutboxStep(OutboxStep::afterStartMark);
  return true;
}

void OrbisgroveFeedbackOutbox::Engine::finishAttempt(const std::shared_ptr<Attempt>& attempt,
                                                     std::optional<std::string> body,
                                                     std::shared_ptr<const platform::URLResponse> response,
                                                     std::shared_ptr<const platform::Error> transportError) {
  reachOutboxStep(OutboxStep::afterReply);
  std::vector<DeliveryHandler> finished;
  {
    const std::lock_guard lock(mutex_);
    std::optional<platform::StoredWait> hold;
    const double jitter = std::uniform_real_distribution<double>(0, 1)(jitter_);
    Verdict verdict{attempt->store, {}, attempt->marked ? StoredState::sending : StoredState::queued, std::nullopt};
    verdict.after = afterAttempt(attempt->entry, body, response, transportError, platform::Date::now().secondsSince1970,
                                 jitter, hold);
    verdict.hold = hold;
    if (attempt_ == attempt) attempt_.reset();
    const std::int64_t id = verdict.after.id;
    if (storeVerdictLocked(verdict, finished)) {
      scheduleLocked(Clock::now());
    } else {
      // Kept until stored (the store holds the entry as it was, which no
      // one else may change while this process holds the claim).
      unstored_.push_back(std::move(verdict));
      retryLaterLocked();
    }
    // A pass, and whoever waits for this entry, are done with it whether or
    // not the store took the verdict yet.
    forced_.erase(id);
    endWantedLocked(id, finished);
    reachOutboxStep(OutboxStep::afterOutcomeMark);
    finishPassLocked(finished);
  }
  for (auto& handler : finished) platform::MainQueue::shared().post(std::move(handler));
}

}  // namespace orbisgrove
