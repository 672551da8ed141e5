// Several processes may open one brand-new store at the same moment, so the
// schema is read, created or migrated inside one IMMEDIATE transaction: the
// first to take the write lock creates it, and the others, who wait for the
// lock (busy_timeout), then find it made.
#include "platform/store/OutboxSchema.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/core/KitError.hpp"
#include "platform/store/OutboxStore.hpp"
#include "platform/store/SQLiteStatement.hpp"
#include "platform/store/StoredJSON.hpp"

namespace orbisgrove::platform {
namespace {

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
// Version 3 keeps waits as (when set, how long) and the created record
// instead of the reply; next_attempt_at and reply stay, unused, because the
// oldest SQLite the kit supports cannot drop a column.
constexpr std::string_view version3Migration =
    "ALTER TABLE entries ADD COLUMN wait_set_at REAL;"
    "ALTER TABLE entries ADD COLUMN wait_seconds REAL;"
    "ALTER TABLE entries ADD COLUMN record TEXT;";

// The "data" object of a stored "201" reply, when it is short enough to keep.
std::optional<std::string> recordOfReply(const std::string& reply) {
  simdjson::dom::parser parser;
  simdjson::dom::element document;
  simdjson::dom::object object;
  simdjson::dom::element data;
  if (parser.parse(reply).get(document) != simdjson::SUCCESS ||
      document.get_object().get(object) != simdjson::SUCCESS || !detail::lastMember(object, "data", data) ||
      !data.is_object()) {
    return std::nullopt;
  }
  std::string record;
  detail::appendStoredElement(record, data);
  if (record.size() > OutboxStore::kLongestRecordBytes) return std::nullopt;
  return record;
}

// Due times become waits set now, no longer than the longest wait (a reset
// of a hostile 429 may have stored one decades ahead, or not a number).
bool migrateToVersion3(sqlite3* db, double now) {
  if (!exec(db, std::string(version3Migration))) return false;
  Statement waits(db,
                  "UPDATE entries SET wait_set_at = ?1, wait_seconds = max(0, min(next_attempt_at - ?1, ?2)), "
                  "next_attempt_at = NULL WHERE next_attempt_at IS NOT NULL");
  waits.bind(1, std::optional<double>(now)).bind(2, std::optional<double>(OutboxStore::kLongestWaitSeconds));
  if (waits.step() != SQLITE_DONE) return false;
  Statement hold(db,
                 "INSERT INTO settings (name, value) SELECT 'holdSetAt', ?1 FROM settings "
                 "WHERE name = 'holdUntil' AND value > ?1 UNION ALL "
                 "SELECT 'holdSeconds', min(value - ?1, ?2) FROM settings WHERE name = 'holdUntil' AND value > ?1");
  hold.bind(1, std::optional<double>(now)).bind(2, std::optional<double>(OutboxStore::kLongestWaitSeconds));
  if (hold.step() != SQLITE_DONE || !exec(db, "DELETE FROM settings WHERE name = 'holdUntil'")) return false;

  std::vector<std::pair<std::int64_t, std::optional<std::string>>> records;
  {
    Statement replies(db, "SELECT id, reply FROM entries WHERE reply IS NOT NULL");
    int result = SQLITE_ERROR;
    while ((result = replies.step()) == SQLITE_ROW) {
      records.emplace_back(replies.integer(0), recordOfReply(replies.text(1).value_or("")));
    }
    if (result != SQLITE_DONE) return false;
  }
  for (const auto& [id, record] : records) {
    Statement change(db, "UPDATE entries SET record = ?1, reply = NULL WHERE id = ?2");
    change.bind(1, record).bind(2, id);
    if (change.step() != SQLITE_DONE) return false;
  }
  return exec(db, "UPDATE entries SET body = '' WHERE state = 'delivered'");
}

int pragmaInteger(sqlite3* db, const char* pragma, bool& ok) {
  Statement row(db, std::string("PRAGMA ") + pragma);
  ok = row.step() == SQLITE_ROW;
  return ok ? static_cast<int>(row.integer(0)) : 0;
}

bool looser(const struct stat& information) { return (information.st_mode & 0077) != 0; }

}  // namespace

std::shared_ptr<const Error> storeError(const std::string& what, sqlite3* db) {
  std::string reason = "The outbox store " + what;
  if (db != nullptr) reason += std::string(": ") + sqlite3_errmsg(db);
  return kitError(std::move(reason));
}

std::variant<StoreFile, std::shared_ptr<const Error>> prepareStoreFile(const std::string& path, bool create) {
  struct stat information {};
  if (::lstat(path.c_str(), &information) == 0) {
    if (!S_ISREG(information.st_mode) || information.st_uid != ::geteuid()) {
      return storeError("file " + path + " is not a regular file of this user; it is left as it is");
    }
    return StoreFile::present;
  }
  if (errno != ENOENT) return storeError("file " + path + " cannot be examined");
  if (!create) return StoreFile::missing;
  // Made here, private, because SQLite gives its log and shared-memory files
  // the database file's mode; the umask can only take bits away from 0600.
  const int file = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (file < 0) {
    if (errno == EEXIST) return prepareStoreFile(path, false);  // another process made it first
    return storeError("file " + path + " cannot be created");
  }
  ::close(file);
  return StoreFile::created;
}

std::shared_ptr<const Error> tightenStoreFiles(const std::string& path) {
  for (const char* suffix : {"", "-wal", "-shm", ".lock"}) {
    const std::string file = path + suffix;
    struct stat information {};
    if (::lstat(file.c_str(), &information) != 0 || !S_ISREG(information.st_mode) || !looser(information)) continue;
    // The directory is private and ours, so the name cannot be swapped
    // between the check and the change.
    if (::chmod(file.c_str(), information.st_mode & 0700) != 0 && *suffix == '\0') {
      return storeError("file " + file + " cannot be made private");
    }
  }
  return nullptr;
}

std::variant<Schema, std::shared_ptr<const Error>> prepareSchema(sqlite3* db, bool create, double now) {
  if (!exec(db, "BEGIN IMMEDIATE")) return storeError("file is damaged, is no database or cannot be locked", db);
  const auto fail = [db](std::shared_ptr<const Error> error) -> std::variant<Schema, std::shared_ptr<const Error>> {
    exec(db, "ROLLBACK");
    return error;
  };
  bool ok = false;
  const int application = pragmaInteger(db, "application_id", ok);
  if (!ok) return fail(storeError("file is damaged or is no database", db));
  const int version = pragmaInteger(db, "user_version", ok);
  bool counted = false;
  const int objects = [&] {
    Statement row(db, "SELECT count(*) FROM sqlite_schema");
    counted = row.step() == SQLITE_ROW;
    return counted ? static_cast<int>(row.integer(0)) : 0;
  }();
  if (!ok || !counted) return fail(storeError("file is damaged or is no database", db));
  const bool fresh = application == 0 && objects == 0;
  if (fresh && !create) {
    exec(db, "ROLLBACK");
    return Schema::empty;
  }
  if (!fresh && application != OutboxStore::kApplicationId) {
    return fail(storeError("file belongs to another application; it is left as it is"));
  }
  if (!fresh && (version > OutboxStore::kSchemaVersion || version < 1)) {
    return fail(storeError("file has schema version " + std::to_string(version) + ", which this kit cannot read"));
  }
  if (version == OutboxStore::kSchemaVersion) {
    exec(db, "ROLLBACK");  // nothing to write
    return Schema::ready;
  }
  std::string steps;
  if (fresh) steps += "PRAGMA application_id = " + std::to_string(OutboxStore::kApplicationId) + ";";
  if (version < 1) steps += version1Schema;
  if (version < 2) steps += version2Migration;
  bool migrated = exec(db, steps);
  if (migrated && version < 3) migrated = migrateToVersion3(db, now);
  if (!migrated || !exec(db, "PRAGMA user_version = " + std::to_string(OutboxStore::kSchemaVersion)) ||
      !exec(db, "COMMIT")) {
    return fail(storeError("cannot bring its schema up to date", db));
  }
  // Dropped replies and bodies leave free pages; give them back once.
  if (!fresh) exec(db, "VACUUM");
  return Schema::ready;
}

}  // namespace orbisgrove::platform
