// The outbox's store as another process reads it, and delivery passes of the
// shared outbox, for the outbox's tests.
#pragma once

#include "TestPrelude.hpp"

#include "platform/store/OutboxStore.hpp"

namespace orbisgrove::testing {

/// The store at `path`; null when it cannot be opened.
inline std::unique_ptr<platform::OutboxStore> openStore(
    const std::string& path, platform::StoreOpening opening = platform::StoreOpening::createIfMissing) {
  auto opened = platform::OutboxStore::open(path, opening);
  auto* store = std::get_if<std::unique_ptr<platform::OutboxStore>>(&opened);
  return store != nullptr ? std::move(*store) : nullptr;
}

/// What `store` holds; nothing when it cannot be read.
inline std::vector<platform::StoredEntry> entriesOf(platform::OutboxStore& store) {
  auto all = store.all();
  auto* entries = std::get_if<std::vector<platform::StoredEntry>>(&all);
  return entries != nullptr ? std::move(*entries) : std::vector<platform::StoredEntry>{};
}

/// What the store file at `path` holds, read as another process would; nothing when there is none.
inline std::vector<platform::StoredEntry> storedEntries(const std::string& path) {
  const auto store = openStore(path, platform::StoreOpening::existingOnly);
  return store ? entriesOf(*store) : std::vector<platform::StoredEntry>{};
}

/// Makes a delivery pass of the shared outbox and waits for its end on the main queue.
inline void deliverAndWait() {
  bool done = false;
  OrbisgroveFeedbackOutbox::shared().deliverNow([&] { done = true; });
  ASSERT_TRUE(platform::MainQueue::shared().runUntil([&] { return done; }, std::chrono::seconds(30)));
}

}  // namespace orbisgrove::testing
