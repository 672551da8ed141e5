// The store file's set-up: its mode, and its schema checked, created or
// migrated in one write transaction.
#pragma once

#include <orbisgrove/platform/Error.hpp>

#include <sqlite3.h>

#include <memory>
#include <string>
#include <variant>

namespace orbisgrove::platform {

/// What is at the store's path before SQLite opens it.
enum class StoreFile { present, missing, created };

/// Creates the file (mode 0600, whatever the umask allows of it) when it is
/// missing and `create` is set; refuses a path that is not a regular file of
/// this user.
std::variant<StoreFile, std::shared_ptr<const Error>> prepareStoreFile(const std::string& path, bool create);

/// Makes the store's files (database, log, shared memory, lock) private when
/// an earlier version left them readable by others. Call only for a file
/// known to be ours.
std::shared_ptr<const Error> tightenStoreFiles(const std::string& path);

/// What the schema check found.
enum class Schema { ready, empty };

/// Checks the schema inside one IMMEDIATE transaction (so that several
/// processes opening one new file take turns), then creates it (when
/// `create`) or migrates it to the current version. `empty` for a file
/// without a schema when creating is not allowed; an error for a damaged
/// file, another application's or a newer schema, which are left untouched.
/// `now` (seconds since 1970) turns due times of older schemas into waits.
std::variant<Schema, std::shared_ptr<const Error>> prepareSchema(sqlite3* db, bool create, double now);

/// The store's error value: "The outbox store <what>[: <SQLite's message>]".
std::shared_ptr<const Error> storeError(const std::string& what, sqlite3* db = nullptr);

}  // namespace orbisgrove::platform
