// The outbox store on SQLite. Durability comes from SQLite itself: WAL with
// synchronous=FULL syncs the log at every commit, so a committed entry
// survives a crash of the process and of the machine. Each change is one
// transaction begun IMMEDIATE, so two processes on one file serialise their
// writes instead of failing half-way; busy_timeout lets the second wait.
#include "platform/store/OutboxStore.hpp"

#include "platform/store/ErrorArchive.hpp"

#include <sqlite3.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <array>
#include <mutex>
#include <utility>

namespace orbisgrove::platform {
namespace {

constexpr int busyTimeoutMilliseconds = 10 * 1000;
constexpr std::string_view kitDomain = "OrbisgroveFeedbackErrorDomain";

std::shared_ptr<const Error> storeError(const std::string& what, sqlite3* db = nullptr) {
  std::string reason = "The outbox store " + what;
  if (db != nullptr) reason += std::string(": ") + sqlite3_errmsg(db);
  return Error::make(std::string(kitDomain), -1, {{std::string(NSLocalizedFailureReasonErrorKey), reason}});
}

constexpr std::array<std::string_view, 5> stateNames{"queued", "sending", "delivered", "unconfirmed", "rejected"};

std::string_view nameOf(StoredState state) { return stateNames.at(static_cast<std::size_t>(state)); }
StoredState stateNamed(std::string_view name) {
  for (std::size_t i = 0; i < stateNames.size(); ++i) {
    if (stateNames.at(i) == name) return static_cast<StoredState>(i);
  }
  return StoredState::unconfirmed;  // an unknown mark is never sent on its own
}

class Statement {
 public:
  Statement(sqlite3* db, std::string_view sql) {
    if (sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &statement_, nullptr) != SQLITE_OK) {
      statement_ = nullptr;
    }
  }
  ~Statement() { sqlite3_finalize(statement_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  [[nodiscard]] bool ok() const { return statement_ != nullptr; }
  Statement& bind(int index, std::int64_t value) {
    sqlite3_bind_int64(statement_, index, value);
    return *this;
  }
  Statement& bind(int index, std::string_view text) {
    sqlite3_bind_text(statement_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    return *this;
  }
  Statement& bind(int index, const std::optional<double>& value) {
    if (value) {
      sqlite3_bind_double(statement_, index, *value);
    } else {
      sqlite3_bind_null(statement_, index);
    }
    return *this;
  }
  Statement& bind(int index, const std::optional<std::string>& text) {
    if (text) return bind(index, std::string_view(*text));
    sqlite3_bind_null(statement_, index);
    return *this;
  }
  /// SQLITE_ROW, SQLITE_DONE or an error code.
  int step() { return ok() ? sqlite3_step(statement_) : SQLITE_ERROR; }
  [[nodiscard]] std::int64_t integer(int column) const { return sqlite3_column_int64(statement_, column); }
  [[nodiscard]] std::optional<double> real(int column) const {
    if (sqlite3_column_type(statement_, column) == SQLITE_NULL) return std::nullopt;
    return sqlite3_column_double(statement_, column);
  }
  [[nodiscard]] std::optional<std::string> text(int column) const {
    const auto* bytes = sqlite3_column_text(statement_, column);
    if (bytes == nullptr) return std::nullopt;
    return std::string(reinterpret_cast<const char*>(bytes),
                       static_cast<std::size_t>(sqlite3_column_bytes(statement_, column)));
  }

 private:
  sqlite3_stmt* statement_ = nullptr;
};

constexpr std::string_view entryColumns =
    "id, body, state, attempts, failures, created_at, next_attempt_at, last_error, reply, finished_at";

StoredEntry entryFrom(const Statement& row) {
  StoredEntry entry;
  entry.id = row.integer(0);
  entry.body = row.text(1).value_or("");
  entry.state = stateNamed(row.text(2).value_or(""));
  entry.attempts = row.integer(3);
  entry.failures = row.integer(4);
  entry.createdAt = row.real(5).value_or(0);
  entry.nextAttemptAt = row.real(6);
  if (auto error = row.text(7)) entry.lastError = unarchivedError(*error);
  entry.reply = row.text(8);
  entry.finishedAt = row.real(9);
  return entry;
}

class SQLiteOutboxStore final : public OutboxStore {
 public:
  SQLiteOutboxStore(sqlite3* db, std::string lockPath) : db_(db), lockPath_(std::move(lockPath)) {}
  ~SQLiteOutboxStore() override {
    releaseDelivery();
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
        return Error::make(
            std::string(kitDomain), -1,
            {{std::string(NSLocalizedFailureReasonErrorKey),
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

  StoreResult<bool> update(const StoredEntry& entry, StoredState expected) override {
    const std::lock_guard lock(mutex_);
    bool changed = false;
    auto error = transaction([&]() -> std::shared_ptr<const Error> {
      Statement change(db_,
                       "UPDATE entries SET state = ?1, attempts = ?2, failures = ?3, next_attempt_at = ?4, "
                       "last_error = ?5, reply = ?6, finished_at = ?7 WHERE id = ?8 AND state = ?9");
      change.bind(1, nameOf(entry.state)).bind(2, entry.attempts).bind(3, entry.failures);
      change.bind(4, entry.nextAttemptAt);
      change.bind(5, entry.lastError ? std::optional<std::string>(archivedError(*entry.lastError)) : std::nullopt);
      change.bind(6, entry.reply).bind(7, entry.finishedAt).bind(8, entry.id).bind(9, nameOf(expected));
      if (change.step() != SQLITE_DONE) return storeError("cannot change an entry", db_);
      changed = sqlite3_changes(db_) == 1;
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

  std::shared_ptr<const Error> prune(double before) override {
    const std::lock_guard lock(mutex_);
    return transaction([&]() -> std::shared_ptr<const Error> {
      Statement drop(db_, "DELETE FROM entries WHERE state IN ('delivered','rejected') AND finished_at < ?1");
      drop.bind(1, std::optional<double>(before));
      if (drop.step() != SQLITE_DONE) return storeError("cannot prune old entries", db_);
      return nullptr;
    });
  }

  StoreResult<std::optional<double>> holdUntil() override {
    const std::lock_guard lock(mutex_);
    Statement row(db_, "SELECT value FROM settings WHERE name = 'holdUntil'");
    const int result = row.step();
    if (result == SQLITE_ROW) return row.real(0);
    if (result == SQLITE_DONE) return std::optional<double>();
    return storeError("cannot read its rate-limit hold", db_);
  }

  std::shared_ptr<const Error> setHoldUntil(std::optional<double> until) override {
    const std::lock_guard lock(mutex_);
    return transaction([&]() -> std::shared_ptr<const Error> {
      Statement change(db_, until ? "INSERT OR REPLACE INTO settings (name, value) VALUES ('holdUntil', ?1)"
                                  : "DELETE FROM settings WHERE name = 'holdUntil'");
      if (until) change.bind(1, until);
      if (change.step() != SQLITE_DONE) return storeError("cannot write its rate-limit hold", db_);
      return nullptr;
    });
  }

  StoreResult<bool> claimDelivery(const std::shared_ptr<const Error>& interrupted) override {
    const std::lock_guard lock(mutex_);
    if (lockFile_ < 0) {
      const int file = ::open(lockPath_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
      if (file < 0) return storeError("cannot open its lock file " + lockPath_);
      if (::flock(file, LOCK_EX | LOCK_NB) != 0) {
        ::close(file);
        return false;
      }
      lockFile_ = file;
      // Whoever marked these is gone: the lock was free.
      auto error = transaction([&]() -> std::shared_ptr<const Error> {
        Statement change(db_, "UPDATE entries SET state = 'unconfirmed', last_error = ?1 WHERE state = 'sending'");
        change.bind(1, interrupted ? std::optional<std::string>(archivedError(*interrupted)) : std::nullopt);
        if (change.step() != SQLITE_DONE) return storeError("cannot recover interrupted entries", db_);
        return nullptr;
      });
      if (error) {
        releaseLocked();
        return error;
      }
    }
    return true;
  }

  void releaseDelivery() override {
    const std::lock_guard lock(mutex_);
    releaseLocked();
  }

 private:
  void releaseLocked() {
    if (lockFile_ < 0) return;
    ::close(lockFile_);  // closing drops the lock
    lockFile_ = -1;
  }

  std::mutex mutex_;
  sqlite3* db_;
  std::string lockPath_;
  int lockFile_ = -1;
};

int pragmaInteger(sqlite3* db, const char* pragma, bool& ok) {
  Statement row(db, std::string("PRAGMA ") + pragma);
  ok = row.step() == SQLITE_ROW;
  return ok ? static_cast<int>(row.integer(0)) : 0;
}

bool exec(sqlite3* db, const std::string& sql) {
  return sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
}

// Version 1 held the entries without the failure count, and no settings.
constexpr std::string_view version1Schema =
    "CREATE TABLE entries (id INTEGER PRIMARY KEY AUTOINCREMENT, body TEXT NOT NULL, state TEXT NOT NULL, "
    "attempts INTEGER NOT NULL DEFAULT 0, created_at REAL NOT NULL, next_attempt_at REAL, last_error TEXT, "
    "reply TEXT, finished_at REAL);";
constexpr std::string_view version2Migration =
    "ALTER TABLE entries ADD COLUMN failures INTEGER NOT NULL DEFAULT 0;"
    "CREATE TABLE settings (name TEXT PRIMARY KEY, value);";

std::shared_ptr<const Error> prepareSchema(sqlite3* db) {
  bool ok = false;
  const int application = pragmaInteger(db, "application_id", ok);
  if (!ok) return storeError("file is damaged or is no database", db);
  const int version = pragmaInteger(db, "user_version", ok);
  bool counted = false;
  const int objects = [&] {
    Statement row(db, "SELECT count(*) FROM sqlite_schema");
    counted = row.step() == SQLITE_ROW;
    return counted ? static_cast<int>(row.integer(0)) : 0;
  }();
  if (!ok || !counted) return storeError("file is damaged or is no database", db);
  if (application == 0 && objects == 0) {
    // A new file: ours from now on.
  } else if (application != OutboxStore::kApplicationId) {
    return storeError("file belongs to another application; it is left as it is");
  } else if (version > OutboxStore::kSchemaVersion || version < 1) {
    return storeError("file has schema version " + std::to_string(version) + ", which this kit cannot read");
  }
  if (version == OutboxStore::kSchemaVersion) return nullptr;
  std::string steps = "BEGIN IMMEDIATE;";
  if (objects == 0) steps += "PRAGMA application_id = " + std::to_string(OutboxStore::kApplicationId) + ";";
  if (version < 1) steps += version1Schema;
  if (version < 2) steps += version2Migration;
  steps += "PRAGMA user_version = " + std::to_string(OutboxStore::kSchemaVersion) + "; COMMIT;";
  if (!exec(db, steps)) {
    auto error = storeError("cannot bring its schema up to date", db);
    exec(db, "ROLLBACK");
    return error;
  }
  return nullptr;
}

}  // namespace

StoreResult<std::unique_ptr<OutboxStore>> OutboxStore::open(const std::string& path) {
  sqlite3* db = nullptr;
  const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX | SQLITE_OPEN_NOFOLLOW;
  if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK) {
    auto error = storeError("cannot open " + path, db);
    sqlite3_close_v2(db);
    return error;
  }
  sqlite3_busy_timeout(db, busyTimeoutMilliseconds);
  auto error = prepareSchema(db);
  if (!error && !(exec(db, "PRAGMA journal_mode = WAL") && exec(db, "PRAGMA synchronous = FULL"))) {
    error = storeError("cannot set up its journal", db);
  }
  if (error) {
    sqlite3_close_v2(db);
    return error;
  }
  return std::unique_ptr<OutboxStore>(std::make_unique<SQLiteOutboxStore>(db, path + ".lock"));
}

}  // namespace orbisgrove::platform
