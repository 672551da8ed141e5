#include "kit/outbox/OutboxEngine.hpp"

#include <orbisgrove/platform/JSONCoding.hpp>
#include <orbisgrove/platform/MainQueue.hpp>
#include <orbisgrove/service/OrbisgroveFeedbackErrorDomain.hpp>
#include <orbisgrove/service/OrbisgroveSaveUserDataAPIManager.hpp>

#include <charconv>
#include <utility>
#include <variant>

#include "kit/outbox/OutboxOutcome.hpp"
#include "kit/outbox/OutboxSteps.hpp"
#include "model/OrbisgroveUserDataInfoResponse.hpp"
#include "platform/core/ApplicationIdentity.hpp"
#include "platform/core/Date.hpp"
#include "platform/files/DataDirectory.hpp"
#include "platform/http/DeliveryTimers.hpp"
#include "service/SaveUserDataForm.hpp"
#include "service/ServiceEndpoint.hpp"

namespace orbisgrove {
namespace {

using platform::StoredEntry;
using platform::StoredState;
using Clock = std::chrono::steady_clock;

std::shared_ptr<const platform::Error> kitError(std::string reason, platform::DeliveryFacts facts = {}) {
  return platform::Error::make(std::string(OrbisgroveFeedbackErrorDomain), OrbisgroveFeedbackErrorCode,
                               {{std::string(platform::NSLocalizedFailureReasonErrorKey), std::move(reason)}}, facts);
}

std::optional<std::int64_t> parseId(const std::string& id) {
  std::int64_t value = 0;
  const auto* end = id.data() + id.size();
  const auto [rest, failure] = std::from_chars(id.data(), end, value);
  if (failure != std::errc() || rest != end || value <= 0) return std::nullopt;
  return value;
}

template <class T>
std::shared_ptr<const platform::Error> errorOf(const platform::StoreResult<T>& result) {
  const auto* error = std::get_if<std::shared_ptr<const platform::Error>>(&result);
  return error != nullptr ? *error : nullptr;
}

std::chrono::system_clock::time_point systemTime(double seconds) {
  return std::chrono::system_clock::time_point(
      std::chrono::duration_cast<std::chrono::system_clock::duration>(std::chrono::duration<double>(seconds)));
}

Clock::time_point steadyAt(double secondsSince1970) {
  const double wait = secondsSince1970 - platform::Date::now().secondsSince1970;
  return Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(std::max(0.0, wait)));
}

void (*stepHook)(OutboxStep) = nullptr;

std::shared_ptr<const platform::Error> interruptedError() {
  return kitError("The process ended while the report was being sent; it may have reached the service.",
                  platform::DeliveryFacts{.requestMayHaveReachedServer = true, .httpStatusCode = std::nullopt});
}

}  // namespace

void setOutboxStepHookForTesting(void (*hook)(OutboxStep step)) { stepHook = hook; }
void reachOutboxStep(OutboxStep step) {
  if (stepHook != nullptr) stepHook(step);
}

OrbisgroveOutboxEntry publicEntry(const StoredEntry& stored) {
  OrbisgroveOutboxEntry entry;
  entry.id = std::to_string(stored.id);
  switch (stored.state) {
    case StoredState::queued:
    case StoredState::sending:
      entry.state = OrbisgroveOutboxEntryState::queued;
      break;
    case StoredState::delivered:
      entry.state = OrbisgroveOutboxEntryState::delivered;
      break;
    case StoredState::unconfirmed:
      entry.state = OrbisgroveOutboxEntryState::unconfirmed;
      break;
    case StoredState::rejected:
      entry.state = OrbisgroveOutboxEntryState::rejected;
      break;
  }
  entry.sending = stored.state == StoredState::sending;
  entry.attempts = stored.attempts;
  entry.createdAt = systemTime(stored.createdAt);
  if (stored.nextAttemptAt && stored.state == StoredState::queued)
    entry.nextAttemptAt = systemTime(*stored.nextAttemptAt);
  entry.lastError = stored.lastError;
  if (stored.reply) {
    try {
      entry.record = platform::JSONDecoder().decode<OrbisgroveUserDataInfoResponse>(*stored.reply).dataInfo();
    } catch (const platform::CodingError&) {
      entry.record = nullptr;  // delivered all the same: the service said "201"
    }
  }
  return entry;
}

std::shared_ptr<const platform::Error> OrbisgroveFeedbackOutbox::Engine::openLocked() {
  if (store_) return nullptr;
  auto directory = platform::dataDirectory();
  if (auto* error = std::get_if<std::shared_ptr<const platform::Error>>(&directory)) return *error;
  auto opened = platform::OutboxStore::open(std::get<std::string>(directory) + "/outbox.sqlite");
  if (auto error = errorOf(opened)) return error;
  store_ = std::move(std::get<std::unique_ptr<platform::OutboxStore>>(opened));
  // What a process that died left in flight shows as unconfirmed from the
  // start, unless a live process holds the claim (and so the request).
  if (auto claimed = store_->claimDelivery(interruptedError()); !errorOf(claimed) && std::get<bool>(claimed)) {
    store_->releaseDelivery();
  }
  return nullptr;
}

OrbisgroveOutboxEnqueueResult OrbisgroveFeedbackOutbox::Engine::enqueue(const OrbisgroveSaveUserDataOptions& options) {
  // Read now, on the caller's thread, exactly as a direct submission reads them.
  const std::string body = saveUserDataFormBody(options, platform::mainBundleIdentifier());
  const std::lock_guard lock(mutex_);
  if (auto error = openLocked()) return {std::nullopt, error};
  reachOutboxStep(OutboxStep::beforeCommit);
  auto inserted = store_->insert(body, platform::Date::now().secondsSince1970, kOutboxWaitingLimit);
  if (auto error = errorOf(inserted)) return {std::nullopt, error};
  reachOutboxStep(OutboxStep::afterCommit);
  scheduleLocked(Clock::now());
  return {std::to_string(std::get<std::int64_t>(inserted)), nullptr};
}

std::vector<OrbisgroveOutboxEntry> OrbisgroveFeedbackOutbox::Engine::entries(
    std::shared_ptr<const platform::Error>* error) {
  std::vector<OrbisgroveOutboxEntry> result;
  platform::StoreResult<std::vector<StoredEntry>> stored = std::vector<StoredEntry>{};
  {
    const std::lock_guard lock(mutex_);
    auto failure = openLocked();
    if (!failure) {
      stored = store_->all();
      failure = errorOf(stored);
    }
    if (error != nullptr) *error = failure;
    if (failure) return result;
  }
  for (const auto& entry : std::get<std::vector<StoredEntry>>(stored)) result.push_back(publicEntry(entry));
  return result;
}

void OrbisgroveFeedbackOutbox::Engine::deliverNow(DeliveryHandler done) {
  std::vector<DeliveryHandler> finished;
  {
    const std::lock_guard lock(mutex_);
    if (done) passWaiters_.push_back(std::move(done));
    std::shared_ptr<const platform::Error> failure = openLocked();
    if (!failure) {
      auto stored = store_->all();
      failure = errorOf(stored);
      if (!failure) {
        for (const auto& entry : std::get<std::vector<StoredEntry>>(stored)) {
          // One being sent belongs to the pass too: it ends with its outcome.
          if (entry.state == StoredState::queued || entry.state == StoredState::sending) forced_.insert(entry.id);
        }
      }
    }
    if (failure || forced_.empty()) {
      forced_.clear();
      finishPassLocked(finished);
    } else {
      scheduleLocked(Clock::now());
    }
  }
  for (auto& handler : finished) platform::MainQueue::shared().post(std::move(handler));
}

std::shared_ptr<const platform::Error> OrbisgroveFeedbackOutbox::Engine::resend(const std::string& id,
                                                                                bool startDelivery) {
  const std::lock_guard lock(mutex_);
  if (auto error = openLocked()) return error;
  const auto key = parseId(id);
  auto found = key ? store_->entry(*key) : platform::StoreResult<std::optional<StoredEntry>>(std::nullopt);
  if (auto error = errorOf(found)) return error;
  auto& entry = std::get<std::optional<StoredEntry>>(found);
  if (!entry) return kitError("The outbox has no entry \"" + id + "\".");
  if (entry->state != StoredState::unconfirmed && entry->state != StoredState::rejected) {
    return kitError("The outbox entry \"" + id + "\" is neither unconfirmed nor rejected.");
  }
  const StoredState before = entry->state;
  entry->state = StoredState::queued;
  entry->nextAttemptAt.reset();
  entry->finishedAt.reset();
  auto changed = store_->update(*entry, before);
  if (auto error = errorOf(changed)) return error;
  if (!std::get<bool>(changed)) return kitError("The outbox entry \"" + id + "\" changed meanwhile.");
  if (startDelivery) scheduleLocked(Clock::now());
  return nullptr;
}

std::shared_ptr<const platform::Error> OrbisgroveFeedbackOutbox::Engine::discard(const std::string& id) {
  const std::lock_guard lock(mutex_);
  if (auto error = openLocked()) return error;
  const auto key = parseId(id);
  auto found = key ? store_->entry(*key) : platform::StoreResult<std::optional<StoredEntry>>(std::nullopt);
  if (auto error = errorOf(found)) return error;
  const auto& entry = std::get<std::optional<StoredEntry>>(found);
  if (!entry) return kitError("The outbox has no entry \"" + id + "\".");
  if (entry->state == StoredState::sending) return kitError("The outbox entry \"" + id + "\" is being sent.");
  auto removed = store_->remove(*key);
  if (auto error = errorOf(removed)) return error;
  forced_.erase(*key);
  return nullptr;
}

void OrbisgroveFeedbackOutbox::Engine::setChangeHandler(ChangeHandler handler) {
  auto shared = handler ? std::make_shared<const ChangeHandler>(std::move(handler)) : nullptr;
  const std::lock_guard lock(mutex_);
  changeHandler_ = std::move(shared);
}

void OrbisgroveFeedbackOutbox::Engine::scheduleLocked(Clock::time_point deadline) {
  if (timerAt_ && *timerAt_ <= deadline) return;
  timerAt_ = deadline;
  platform::sharedDeliveryTimers().schedule(deadline, [weak = weak_from_this(), deadline] {
    if (auto engine = weak.lock()) engine->pump(deadline);
  });
}

void OrbisgroveFeedbackOutbox::Engine::finishPassLocked(std::vector<DeliveryHandler>& done) {
  if (!forced_.empty()) return;
  for (auto& handler : passWaiters_) done.push_back(std::move(handler));
  passWaiters_.clear();
}

void OrbisgroveFeedbackOutbox::Engine::pump(Clock::time_point firedFor) {
  std::vector<DeliveryHandler> finished;
  std::optional<StoredEntry> next;
  {
    const std::lock_guard lock(mutex_);
    if (timerAt_ == firedFor) timerAt_.reset();
    if (sending_ || !store_) return;
    const double now = platform::Date::now().secondsSince1970;
    auto claimed = store_->claimDelivery(interruptedError());
    if (errorOf(claimed) || !std::get<bool>(claimed)) {
      // Another process delivers (or the lock file is out of reach): look again soon.
      scheduleLocked(Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                        std::chrono::duration<double>(kOutboxClaimRetrySeconds)));
      return;
    }
    // Pruning is a commit of its own: once an hour is plenty.
    if (!lastPrune_ || Clock::now() - *lastPrune_ > std::chrono::hours(1)) {
      store_->prune(now - kOutboxKeepSeconds);
      lastPrune_ = Clock::now();
    }
    auto hold = store_->holdUntil();
    auto stored = store_->all();
    if (errorOf(hold) || errorOf(stored)) {
      store_->releaseDelivery();
      forced_.clear();
      finishPassLocked(finished);
    } else {
      const auto holdUntil = std::get<std::optional<double>>(hold);
      const bool held = holdUntil && *holdUntil > now;
      std::set<std::int64_t> stillQueued;
      std::optional<double> nextDue;
      for (auto& entry : std::get<std::vector<StoredEntry>>(stored)) {
        if (entry.state != StoredState::queued) continue;
        stillQueued.insert(entry.id);
        const bool due = !entry.nextAttemptAt || *entry.nextAttemptAt <= now || forced_.contains(entry.id);
        if (!held && due && !next) {
          next = std::move(entry);
        } else if (!due && (!nextDue || *entry.nextAttemptAt < *nextDue)) {
          nextDue = entry.nextAttemptAt;
        }
      }
      // A pass skips what a 429 holds and what is no longer queued.
      std::erase_if(forced_, [&](std::int64_t id) { return held || !stillQueued.contains(id); });
      if (held) nextDue = holdUntil;
      if (next) {
        const StoredEntry before = *next;
        next->state = StoredState::sending;
        next->attempts += 1;
        auto marked = store_->update(*next, StoredState::queued);
        if (errorOf(marked) || !std::get<bool>(marked)) {
          // The store refused the mark (disk full?): nothing goes out; try
          // again a little later rather than spin.
          next.reset();
          store_->releaseDelivery();
          scheduleLocked(Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                            std::chrono::duration<double>(kOutboxClaimRetrySeconds)));
        } else {
          sending_ = true;
        }
      } else {
        store_->releaseDelivery();
        if (nextDue) scheduleLocked(steadyAt(*nextDue));
      }
      finishPassLocked(finished);
    }
  }
  for (auto& handler : finished) platform::MainQueue::shared().post(std::move(handler));
  if (!next) return;
  reachOutboxStep(OutboxStep::afterInFlightMark);
  const platform::URL url = serviceURL(OrbisgroveSaveUserDataAPIManager::shared().apiEndpoint());
  auto task = makeRawServiceDataTask(
      url, next->body,
      [weak = weak_from_this(), entry = *next](std::optional<std::string> body,
                                               std::shared_ptr<const platform::URLResponse> response,
                                               std::shared_ptr<const platform::Error> error) mutable {
        if (auto engine = weak.lock()) {
          engine->finishAttempt(std::move(entry), std::move(body), std::move(response), std::move(error));
        }
      });
  task->resume();
}

void OrbisgroveFeedbackOutbox::Engine::finishAttempt(StoredEntry entry, std::optional<std::string> body,
                                                     std::shared_ptr<const platform::URLResponse> response,
                                                     std::shared_ptr<const platform::Error> transportError) {
  reachOutboxStep(OutboxStep::afterReply);
  StoredEntry after;
  {
    const std::lock_guard lock(mutex_);
    std::optional<double> holdUntil;
    const double jitter = std::uniform_real_distribution<double>(0, 1)(jitter_);
    after = afterAttempt(std::move(entry), body, response, transportError, platform::Date::now().secondsSince1970,
                         jitter, holdUntil);
    if (holdUntil) store_->setHoldUntil(holdUntil);
    // Should this fail, the entry stays marked sending and becomes unconfirmed
    // at the next claim: never sent again on its own.
    store_->update(after, StoredState::sending);
    reachOutboxStep(OutboxStep::afterOutcomeMark);
    sending_ = false;
    forced_.erase(after.id);
    scheduleLocked(Clock::now());
  }
  announce(after);
}

void OrbisgroveFeedbackOutbox::Engine::announce(const StoredEntry& entry) {
  std::shared_ptr<const ChangeHandler> handler;
  {
    const std::lock_guard lock(mutex_);
    handler = changeHandler_;
  }
  if (!handler) return;
  platform::MainQueue::shared().post([handler, entry = publicEntry(entry)] { (*handler)(entry); });
}

}  // namespace orbisgrove
