// The outbox store on SQLite. Durability comes from SQLite itself: WAL with
// synchronous=FULL syncs the log at every commit, so a committed entry
// survives a crash of the process and of the machine. Each change is one
// transaction begun IMMEDIATE, so two processes on one file serialise their
// writes instead of failing half-way; busy_timeout lets the second wait.
#include "platform/store/OutboxStore.hpp"

#include <sqlite3.h>

#include <array>
#include <chrono>
#include <mutex>
#include <thread>
#include <utility>

#include "platform/core/Date.hpp"
#include "platform/core/KitError.hpp"
#include "platform/store/DeliveryClaim.hpp"
#include "platform/store/ErrorArchive.hpp"
#include "platform/store/OutboxSchema.hpp"
#include "platform/store/SQLiteStatement.hpp"

namespace orbisgrove::platform {
namespace {

constexpr int busyTimeoutMilliseconds = 10 * 1000;

constexpr std::array<std::string_view, 5> stateNames{"queued", "sending", "delivered", "unconfirmed", "rejected"};

std::string_view nameOf(StoredState state) { return stateNames.at(static_cast<std::size_t>(state)); }
StoredState stateNamed(std::string_view name) {
  for (std::size_t i = 0; i < stateNames.size(); ++i) {
    if (stateNames.at(i) == name) return static_cast<StoredState>(i);
  }
  return StoredState::unconfirmed;  // an unknown mark is never sent on its own
}

constexpr std::string_view entryColumns =
    "id, body, state, attempts, failures, created_at, wait_set_at, wait_seconds, last_error, record, finished_at";

StoredEntry entryFrom(const Statement& row) {
  StoredEntry entry;
  entry.id = row.integer(0);
  entry.body = row.text(1).value_or("");
  entry.state = stateNamed(row.text(2).value_or(""));
  entry.attempts = row.integer(3);
  entry.failures = row.integer(4);
  entry.createdAt = row.real(5).value_or(0);
  const auto setAt = row.real(6);
  const auto seconds = row.real(7);
  if (setAt && seconds) entry.wait = StoredWait{*setAt, *seconds};
  if (auto error = row.text(8)) entry.lastError = unarchivedError(*error);
  entry.record = row.text(9);
  entry.finishedAt = row.real(10);
  return entry;
}

bool finished(StoredState state) { return state == StoredState::delivered || state == StoredState::rejected; }

// Finished entries finished before ?1, and all but the newest ?2 of them.
constexpr std::string_view pruneFinished =
    "DELETE FROM entries WHERE state IN ('delivered','rejected') AND (finished_at < ?1 OR id NOT IN "
    "(SELECT id FROM entries WHERE state IN ('delivered','rejected') ORDER BY finished_at DESC, id DESC LIMIT ?2))";

class SQLiteOutboxStore final : public OutboxStore {
 public:
  SQLiteOutboxStore(sqlite3* db, const std::string& path) : db_(db), claim_(path + ".lock") {}
  ~SQLiteOutboxStore() override {
    claim_.release();
    sqlite3_close_v2(db_);
  }
  SQLiteOutboxStore(const SQLiteOutboxStore&) = delete;
  SQLiteOutboxStore& operator=(const SQLiteOutboxStore&) = delete;

  // Runs `body` in a committed IMMEDIATE transaction; rolls back when it
  // returns an error.
  template <class Body>
  std::shared_ptr<const Error> transaction(Body body) {
    if (sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) {
      return storeError("cannot begin a change", db_);
    }
    auto error = body();
    if (!error && sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
      error = storeError("cannot commit a change", db_);
    }
    if (error) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    return error;
  }

  StoreResult<std::int64_t> insert(std::string_view body, double createdAt, std::size_t waitingLimit) override {
    const std::lock_guard lock(mutex_);
    std::int64_t id = 0;
    auto error = transaction([&]() -> std::shared_ptr<const Error> {
      Statement count(db_, "SELECT count(*) FROM entries WHERE state IN ('queued','sending','unconfirmed')");
      if (count.step() != SQLITE_ROW) return storeError("cannot count its entries", db_);
      if (static_cast<std::size_t>(count.integer(0)) >= waitingLimit) {
        return kitError(
            UserInfo{{std::string(NSLocalizedFailureReasonErrorKey),
                      "The outbox is full: " + std::to_string(waitingLimit) + " reports already wait for delivery."},
                     {std::string(NSLocalizedRecoverySuggestionErrorKey),
                      "Deliver or discard waiting reports before adding more."}});
      }
      Statement add(db_, "INSERT INTO entries (body, state, created_at) VALUES (?1, 'queued', ?2)");
      add.bind(1, body).bind(2, std::optional<double>(createdAt));
      if (add.step() != SQLITE_DONE) return storeError("cannot store the report", db_);
      id = sqlite3_last_insert_rowid(db_);
      return nullptr;
    });
    if (error) return error;
    return id;
  }

  StoreResult<std::vector<StoredEntry>> all() override {
    const std::lock_guard lock(mutex_);
    Statement rows(db_, "SELECT " + std::string(entryColumns) + " FROM entries ORDER BY id");
    std::vector<StoredEntry> entries;
    int result = SQLITE_ERROR;
    while ((result = rows.step()) == SQLITE_ROW) entries.push_back(entryFrom(rows));
    if (result != SQLITE_DONE) return storeError("cannot read its entries", db_);
    return entries;
  }

  StoreResult<std::optional<StoredEntry>> entry(std::int64_t id) override {
    const std::lock_guard lock(mutex_);
    Statement row(db_, "SELECT " + std::string(entryColumns) + " FROM entries WHERE id = ?1");
    row.bind(1, id);
    const int result = row.step();
    if (result == SQLITE_ROW) return std::optional<StoredEntry>(entryFrom(row));
    if (result == SQLITE_DONE) return std::optional<StoredEntry>();
    return storeError("cannot read an entry", db_);
  }

  StoreResult<bool> update(const StoredEntry& entry, StoredState expected,
                           const std::optional<StoredWait>& hold) override {
    const std::lock_guard lock(mutex_);
    bool changed = false;
    auto error = transaction([&]() -> std::shared_ptr<const Error> {
      Statement change(db_,
                       "UPDATE entries SET state = ?1, attempts = ?2, failures = ?3, wait_set_at = ?4, "
                       "wait_seconds = ?5, last_error = ?6, record = ?7, finished_at = ?8, "
                       "body = CASE WHEN ?1 = 'delivered' THEN '' ELSE body END WHERE id = ?9 AND state = ?10");
      change.bind(1, nameOf(entry.state)).bind(2, entry.attempts).bind(3, entry.failures);
      change.bind(4, entry.wait ? std::optional<double>(entry.wait->setAt) : std::nullopt);
      change.bind(5, entry.wait ? std::optional<double>(entry.wait->seconds) : std::nullopt);
      change.bind(6, entry.lastError ? std::optional<std::string>(archivedError(*entry.lastError)) : std::nullopt);
      change.bind(7, entry.record).bind(8, entry.finishedAt).bind(9, entry.id).bind(10, nameOf(expected));
      if (change.step() != SQLITE_DONE) return storeError("cannot change an entry", db_);
      changed = sqlite3_changes(db_) == 1;
      if (changed && hold) {
        if (auto failure = writeHold(*hold)) return failure;
      }
      if (changed && finished(entry.state)) {
        Statement drop(db_, pruneFinished);
        drop.bind(1, std::optional<double>()).bind(2, static_cast<std::int64_t>(kFinishedEntriesKept));
        if (drop.step() != SQLITE_DONE) return storeError("cannot prune old entries", db_);
      }
      return nullptr;
    });
    if (error) return error;
    return changed;
  }

  StoreResult<bool> remove(std::int64_t id) override {
    const std::lock_guard lock(mutex_);
    bool removed = false;
    auto error = transaction([&]() -> std::shared_ptr<const Error> {
      Statement drop(db_, "DELETE FROM entries WHERE id = ?1");
      drop.bind(1, id);
      if (drop.step() != SQLITE_DONE) return storeError("cannot remove an entry", db_);
      removed = sqlite3_changes(db_) == 1;
      return nullptr;
    });
    if (error) return error;
    return removed;
  }

  std::shared_ptr<const Error> prune(double before, std::size_t keep) override {
    const std::lock_guard lock(mutex_);
    return transaction([&]() -> std::shared_ptr<const Error> {
      Statement drop(db_, pruneFinished);
      drop.bind(1, std::optional<double>(before)).bind(2, static_cast<std::int64_t>(keep));
      if (drop.step() != SQLITE_DONE) return storeError("cannot prune old entries", db_);
      return nullptr;
    });
  }

  StoreResult<std::optional<StoredWait>> hold() override {
    const std::lock_guard lock(mutex_);
    Statement rows(db_, "SELECT name, value FROM settings WHERE name IN ('holdSetAt', 'holdSeconds')");
    std::optional<double> setAt;
    std::optional<double> seconds;
    int result = SQLITE_ERROR;
    while ((result = rows.step()) == SQLITE_ROW) {
      (rows.text(0) == "holdSetAt" ? setAt : seconds) = rows.real(1);
    }
    if (result != SQLITE_DONE) return storeError("cannot read its rate-limit hold", db_);
    if (!setAt || !seconds) return std::optional<StoredWait>();
    return std::optional<StoredWait>(StoredWait{*setAt, *seconds});
  }

  StoreResult<bool> claimDelivery(const std::shared_ptr<const Error>& interrupted) override {
    const std::lock_guard lock(mutex_);
    auto taken = claim_.take();
    if (auto* error = std::get_if<std::shared_ptr<const Error>>(&taken)) return *error;
    const auto state = std::get<DeliveryClaim::Taken>(taken);
    if (state != DeliveryClaim::Taken::newly) return state == DeliveryClaim::Taken::held;
    // Whoever marked these is gone: the lock was free.
    auto error = transaction([&]() -> std::shared_ptr<const Error> {
      Statement change(db_, "UPDATE entries SET state = 'unconfirmed', last_error = ?1 WHERE state = 'sending'");
      change.bind(1, interrupted ? std::optional<std::string>(archivedError(*interrupted)) : std::nullopt);
      if (change.step() != SQLITE_DONE) return storeError("cannot recover interrupted entries", db_);
      return nullptr;
    });
    if (error) {
      claim_.release();
      return error;
    }
    return true;
  }

  void releaseDelivery() override {
    const std::lock_guard lock(mutex_);
    claim_.release();
  }

  bool moved() override {
    const std::lock_guard lock(mutex_);
    int moved = 0;
    return sqlite3_file_control(db_, "main", SQLITE_FCNTL_HAS_MOVED, &moved) == SQLITE_OK && moved != 0;
  }

 private:
  // Within a transaction.
  std::shared_ptr<const Error> writeHold(const StoredWait& hold) {
    Statement change(db_,
                     "INSERT OR REPLACE INTO settings (name, value) VALUES ('holdSetAt', ?1), ('holdSeconds', ?2)");
    change.bind(1, std::optional<double>(hold.setAt)).bind(2, std::optional<double>(hold.seconds));
    if (change.step() != SQLITE_DONE) return storeError("cannot write its rate-limit hold", db_);
    return nullptr;
  }

  std::mutex mutex_;
  sqlite3* db_;
  DeliveryClaim claim_;
};

bool exec(sqlite3* db, const char* sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

// Another process switching a new store to WAL at the same moment makes the
// switch report "locked" at once, without the busy handler: try again.
bool useWriteAheadLog(sqlite3* db) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(busyTimeoutMilliseconds);
  do {
    Statement mode(db, "PRAGMA journal_mode = WAL");
    if (mode.step() == SQLITE_ROW) return mode.text(0) == "wal";
    const int failure = sqlite3_errcode(db);
    if (failure != SQLITE_BUSY && failure != SQLITE_LOCKED) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  } while (std::chrono::steady_clock::now() < deadline);
  return false;
}

}  // namespace

StoreResult<std::unique_ptr<OutboxStore>> OutboxStore::open(const std::string& path, StoreOpening opening) {
  const bool create = opening == StoreOpening::createIfMissing;
  auto file = prepareStoreFile(path, create);
  if (auto* error = std::get_if<std::shared_ptr<const Error>>(&file)) return *error;
  if (std::get<StoreFile>(file) == StoreFile::missing) return std::unique_ptr<OutboxStore>();

  sqlite3* db = nullptr;
  const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX | SQLITE_OPEN_NOFOLLOW;
  if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK) {
    auto error = storeError("cannot open " + path, db);
    sqlite3_close_v2(db);
    return error;
  }
  sqlite3_busy_timeout(db, busyTimeoutMilliseconds);
  const auto close = [db](std::shared_ptr<const Error> error) -> StoreResult<std::unique_ptr<OutboxStore>> {
    sqlite3_close_v2(db);
    return error;
  };
  auto schema = prepareSchema(db, create, Date::now().secondsSince1970);
  if (auto* error = std::get_if<std::shared_ptr<const Error>>(&schema)) return close(*error);
  if (std::get<Schema>(schema) == Schema::empty) {
    sqlite3_close_v2(db);
    return std::unique_ptr<OutboxStore>();
  }
  // Only now is the file known to be ours, and may be changed.
  if (!useWriteAheadLog(db) || !exec(db, "PRAGMA synchronous = FULL")) {
    return close(storeError("cannot set up its journal", db));
  }
  if (auto error = tightenStoreFiles(path)) return close(error);
  return std::unique_ptr<OutboxStore>(std::make_unique<SQLiteOutboxStore>(db, path));
}

}  // namespace orbisgrove::platform
