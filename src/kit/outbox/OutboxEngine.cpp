// The outbox's calls from the host: each opens (or reopens) the store as the
// data directory stands now, works under the engine's lock and returns.
#include "kit/outbox/OutboxEngine.hpp"

#include <orbisgrove/platform/JSONCoding.hpp>
#include <orbisgrove/platform/MainQueue.hpp>

#include <atomic>
#include <charconv>
#include <utility>
#include <variant>

#include "kit/outbox/OutboxErrors.hpp"
#include "kit/outbox/OutboxSteps.hpp"
#include "platform/core/ApplicationIdentity.hpp"
#include "platform/core/Date.hpp"
#include "platform/core/KitError.hpp"
#include "platform/store/StoreWriteQueue.hpp"
#include "service/SaveUserDataForm.hpp"

namespace orbisgrove {
namespace {

using platform::StoredEntry;
using platform::StoredState;

std::optional<std::int64_t> parseId(const std::string& id) {
  std::int64_t value = 0;
  const auto* end = id.data() + id.size();
  const auto [rest, failure] = std::from_chars(id.data(), end, value);
  if (failure != std::errc() || rest != end || value <= 0) return std::nullopt;
  return value;
}

std::shared_ptr<const platform::Error> unknownEntry(const std::string& id) {
  return platform::kitError("The outbox has no entry \"" + id + "\".");
}

}  // namespace

std::shared_ptr<const platform::Error> interruptedError() {
  return platform::kitError(
      "The process ended while the report was being sent; it may have reached the service.",
      platform::DeliveryFacts{.requestMayHaveReachedServer = true, .httpStatusCode = std::nullopt});
}

std::shared_ptr<const platform::Error> exitingError() {
  return platform::kitError("The process is exiting; the report was not stored.");
}

std::shared_ptr<const platform::Error> forkedChildError() {
  return platform::kitError(
      "The outbox belongs to the process that opened it; a child made by fork() cannot use it. Use it from the "
      "parent, or from a program the child starts with exec().");
}

std::atomic<void (*)(OutboxStep)> outboxStepHookForTests{nullptr};

void reachOutboxStep(OutboxStep step) {
  if (auto* hook = outboxStepHookForTests.load()) hook(step);
}

OrbisgroveOutboxEntry publicEntry(const StoredEntry& stored, std::optional<double> nextAttemptAt) {
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
  entry.createdAt = platform::saturatedSystemTime(stored.createdAt);
  if (nextAttemptAt && stored.state == StoredState::queued) {
    entry.nextAttemptAt = platform::saturatedSystemTime(*nextAttemptAt);
  }
  entry.lastError = stored.lastError;
  if (stored.record) {
    try {
      entry.record = platform::JSONDecoder().decode<std::shared_ptr<OrbisgroveUserDataInfo>>(*stored.record);
    } catch (const platform::CodingError&) {
      entry.record = nullptr;  // delivered all the same: the service said "201"
    }
  }
  return entry;
}

std::shared_ptr<const platform::Error> OrbisgroveFeedbackOutbox::Engine::openLocked(platform::DataDirectoryUse use) {
  auto located = platform::dataDirectoryLocation();
  if (auto* error = std::get_if<std::shared_ptr<const platform::Error>>(&located)) {
    store_.reset();
    storeLocation_.reset();
    return *error;
  }
  const auto& location = std::get<platform::DataDirectoryLocation>(located);
  if (store_ && storeLocation_ == location && !store_->moved()) return nullptr;
  // A changed setting, or a store file removed or replaced: what is at the
  // path now counts. An attempt under way keeps the store it came from.
  store_.reset();
  storeLocation_.reset();
  const auto directory = platform::checkDataDirectory(location, use);
  if (directory.error) return directory.error;
  if (!directory.exists) return nullptr;
  auto opened =
      platform::OutboxStore::open(location.path + "/outbox.sqlite", use == platform::DataDirectoryUse::create
                                                                        ? platform::StoreOpening::createIfMissing
                                                                        : platform::StoreOpening::existingOnly);
  if (auto error = errorOf(opened)) return error;
  auto& store = std::get<std::unique_ptr<platform::OutboxStore>>(opened);
  if (!store) return nullptr;
  store_ = std::move(store);
  storeLocation_ = location;
  // What a process that died left in flight shows as unconfirmed from the
  // start, unless a live process holds the claim (and so the request).
  if (auto claimed = store_->claimDelivery(interruptedError()); !errorOf(claimed) && std::get<bool>(claimed)) {
    if (!attempt_ && unstored_.empty()) store_->releaseDelivery();
  }
  return nullptr;
}

platform::StoreResult<std::optional<StoredEntry>> OrbisgroveFeedbackOutbox::Engine::findLocked(const std::string& id) {
  const auto key = parseId(id);
  if (!key || !store_) return std::optional<StoredEntry>();
  return store_->entry(*key);
}

OrbisgroveOutboxEnqueueResult OrbisgroveFeedbackOutbox::Engine::enqueue(const OrbisgroveSaveUserDataOptions& options) {
  if (owner_.inForkedChild()) return {std::nullopt, forkedChildError()};
  // Read now, on the caller's thread, exactly as a direct submission reads them.
  const std::string body = saveUserDataFormBody(options, platform::mainBundleIdentifier());
  const std::lock_guard lock(mutex_);
  return storeLocked(body, nullptr);
}

OrbisgroveOutboxEnqueueResult OrbisgroveFeedbackOutbox::Engine::storeLocked(
    const std::string& body, std::optional<OrbisgroveOutboxEntry>* entry) {
  platform::StoreResult<std::int64_t> inserted = std::int64_t{0};
  // An id is handed out only for a report stored in the file at the store's
  // path: one removed or replaced while the report went in is opened anew.
  for (int round = 0; round < 2; ++round) {
    if (auto error = openLocked(platform::DataDirectoryUse::create)) return {std::nullopt, error};
    reachOutboxStep(OutboxStep::beforeCommit);
    const double createdAt = platform::Date::now().secondsSince1970;
    inserted = store_->insert(body, createdAt, kOutboxWaitingLimit);
    if (auto error = errorOf(inserted)) return {std::nullopt, error};
    if (!store_->moved()) {
      reachOutboxStep(OutboxStep::afterCommit);
      scheduleLocked(Clock::now());
      const std::int64_t id = std::get<std::int64_t>(inserted);
      if (entry != nullptr) {
        // As stored: nothing has changed it yet but a hold of the whole outbox.
        std::optional<Clock::time_point> holdEnd;
        heldLocked(holdEnd);
        StoredEntry stored;
        stored.id = id;
        stored.createdAt = createdAt;
        *entry = publicEntryLocked(stored, holdEnd);
      }
      return {std::to_string(id), nullptr};
    }
  }
  return {std::nullopt,
          platform::kitError("The outbox store was removed or replaced while the report was being stored; "
                             "the report was not stored.")};
}

std::shared_ptr<const platform::Error> OrbisgroveFeedbackOutbox::Engine::enqueueLater(
    const OrbisgroveSaveUserDataOptions& options, std::shared_ptr<const StoredHandler> done) {
  if (owner_.inForkedChild()) return forkedChildError();
  if (platform::processExiting()) return exitingError();
  std::string body = saveUserDataFormBody(options, platform::mainBundleIdentifier());
  auto& writes = platform::StoreWriteQueue::shared();
  const bool taken = writes.post({
      .run =
          [engine = shared_from_this(), body = std::move(body), done] {
            reachOutboxStep(OutboxStep::beforeQueuedCommit);
            std::optional<OrbisgroveOutboxEntry> entry;
            OrbisgroveOutboxEnqueueResult result;
            {
              const std::lock_guard lock(engine->mutex_);
              result = engine->storeLocked(body, &entry);
            }
            // Past the exit budget the process is going: no word, whatever the store holds.
            if (platform::StoreWriteQueue::shared().leftAtExit()) return;
            platform::MainQueue::shared().post([done, result = std::move(result), entry = std::move(entry)] {
              (*done)(result, entry ? &*entry : nullptr);
            });
          },
      .abandon =
          [done] {
            platform::MainQueue::shared().post([done] {
              (*done)({std::nullopt, platform::kitError("The process exited before the report could be stored; "
                                                        "the report was not stored.")},
                      nullptr);
            });
          },
  });
  if (taken) return nullptr;
  return platform::processExiting() ? exitingError()
                                    : platform::kitError(
                                          "The outbox could not start its thread for store writes; "
                                          "the report was not stored.");
}

std::vector<OrbisgroveOutboxEntry> OrbisgroveFeedbackOutbox::Engine::entries(
    std::shared_ptr<const platform::Error>* error) {
  std::vector<OrbisgroveOutboxEntry> result;
  std::shared_ptr<const platform::Error> failure;
  if (owner_.inForkedChild()) {
    failure = forkedChildError();
  } else {
    const std::lock_guard lock(mutex_);
    failure = openLocked(platform::DataDirectoryUse::existing);
    if (!failure && store_) {
      auto stored = store_->all();
      failure = errorOf(stored);
      std::optional<Clock::time_point> holdEnd;
      if (!failure) heldLocked(holdEnd);
      if (!failure) {
        for (const auto& entry : std::get<std::vector<StoredEntry>>(stored)) {
          result.push_back(publicEntryLocked(entry, holdEnd));
        }
      }
    }
  }
  if (error != nullptr) *error = failure;
  if (failure) result.clear();
  return result;
}

void OrbisgroveFeedbackOutbox::Engine::deliverNow(DeliveryHandler done) {
  if (owner_.inForkedChild()) {
    if (done) platform::MainQueue::shared().post(std::move(done));
    return;
  }
  std::vector<DeliveryHandler> finished;
  {
    const std::lock_guard lock(mutex_);
    if (done) passWaiters_.push_back(std::move(done));
    std::shared_ptr<const platform::Error> failure = openLocked(platform::DataDirectoryUse::existing);
    if (!failure && store_ && !platform::processExiting()) {
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

std::shared_ptr<const platform::Error> OrbisgroveFeedbackOutbox::Engine::deliver(const std::string& id,
                                                                                 DeliveryHandler done) {
  if (owner_.inForkedChild()) return forkedChildError();
  std::vector<DeliveryHandler> finished;
  {
    const std::lock_guard lock(mutex_);
    if (auto error = openLocked(platform::DataDirectoryUse::existing)) return error;
    auto found = findLocked(id);
    if (auto error = errorOf(found)) return error;
    const auto& entry = std::get<std::optional<StoredEntry>>(found);
    if (!entry) return unknownEntry(id);
    wanted_[entry->id].push_back(done ? std::move(done) : [] {});
    // This process's own attempt under way ends the wait with its outcome.
    const bool ours = attempt_ && attempt_->store == store_ && attempt_->entry.id == entry->id;
    if (ours || (entry->state == StoredState::queued && !platform::processExiting())) {
      scheduleLocked(Clock::now());
    } else {
      endWantedLocked(entry->id, finished);  // nothing to try: over at once
    }
  }
  for (auto& handler : finished) platform::MainQueue::shared().post(std::move(handler));
  return nullptr;
}

std::shared_ptr<const platform::Error> OrbisgroveFeedbackOutbox::Engine::resend(const std::string& id,
                                                                                bool startDelivery) {
  if (owner_.inForkedChild()) return forkedChildError();
  const std::lock_guard lock(mutex_);
  if (auto error = openLocked(platform::DataDirectoryUse::existing)) return error;
  auto found = findLocked(id);
  if (auto error = errorOf(found)) return error;
  auto& entry = std::get<std::optional<StoredEntry>>(found);
  if (!entry) return unknownEntry(id);
  if (entry->state != StoredState::unconfirmed && entry->state != StoredState::rejected) {
    return platform::kitError("The outbox entry \"" + id + "\" is neither unconfirmed nor rejected.");
  }
  const StoredState before = entry->state;
  entry->state = StoredState::queued;
  entry->wait.reset();
  entry->finishedAt.reset();
  auto changed = store_->update(*entry, before);
  if (auto error = errorOf(changed)) return error;
  if (!std::get<bool>(changed)) return platform::kitError("The outbox entry \"" + id + "\" changed meanwhile.");
  if (startDelivery) scheduleLocked(Clock::now());
  return nullptr;
}

std::shared_ptr<const platform::Error> OrbisgroveFeedbackOutbox::Engine::discard(const std::string& id) {
  if (owner_.inForkedChild()) return forkedChildError();
  std::vector<DeliveryHandler> finished;
  {
    const std::lock_guard lock(mutex_);
    if (auto error = openLocked(platform::DataDirectoryUse::existing)) return error;
    auto found = findLocked(id);
    if (auto error = errorOf(found)) return error;
    const auto& entry = std::get<std::optional<StoredEntry>>(found);
    if (!entry) return unknownEntry(id);
    const bool ours = attempt_ && attempt_->store == store_ && attempt_->entry.id == entry->id;
    if (entry->state == StoredState::sending || ours) {
      return platform::kitError("The outbox entry \"" + id + "\" is being sent.");
    }
    auto removed = store_->remove(entry->id);
    if (auto error = errorOf(removed)) return error;
    forced_.erase(entry->id);
    endWantedLocked(entry->id, finished);
    finishPassLocked(finished);
  }
  for (auto& handler : finished) platform::MainQueue::shared().post(std::move(handler));
  return nullptr;
}

void OrbisgroveFeedbackOutbox::Engine::setChangeHandler(ChangeHandler handler) {
  if (owner_.inForkedChild()) return;
  auto shared = handler ? std::make_shared<const ChangeHandler>(std::move(handler)) : nullptr;
  const std::lock_guard lock(mutex_);
  changeHandler_ = std::move(shared);
}

}  // namespace orbisgrove
