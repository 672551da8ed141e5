// The store on its own: it refuses files that are not its own, migrates older
// schemas, bounds what it keeps, syncs its log at every commit, and lets one
// holder of the delivery claim deliver at a time, whatever happens to the
// lock file.
#include <sqlite3.h>
#include <sys/stat.h>

#include "FaultyVfs.hpp"
#include "OutboxStores.hpp"
#include "ScratchFiles.hpp"
#include "platform/core/Date.hpp"

namespace orbisgrove::testing {
namespace {

using platform::OutboxStore;
using platform::StoredState;

void runSQL(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
  sqlite3_close(db);
}

class OutboxStoreTest : public ::testing::Test {
 protected:
  const ScratchDirectory directory{"outbox-test"};
  const std::string path = directory / "outbox.sqlite";
};

TEST_F(OutboxStoreTest, RefusesFilesThatAreNotOursAndLeavesThemAlone) {
  struct Case {
    const char* what;
    std::string plant;  // SQL, or raw bytes when it starts with '!'
  };
  const Case cases[] = {
      {"not a database", "!" + std::string(4096, 'x')},
      {"another program's database", "CREATE TABLE notes (text TEXT); INSERT INTO notes VALUES ('mine');"},
      {"another application id", "PRAGMA application_id = 7; CREATE TABLE t (x);"},
      {"a newer schema", "PRAGMA application_id = 1330071106; PRAGMA user_version = 99; CREATE TABLE t (x);"},
  };
  for (const auto& c : cases) {
    std::filesystem::remove(path);
    if (c.plant.starts_with('!')) {
      std::ofstream(path, std::ios::binary) << c.plant.substr(1);
    } else {
      runSQL(path, c.plant);
    }
    const std::string before = contentsOf(path);
    const auto mode = std::filesystem::status(path).permissions();
    auto opened = OutboxStore::open(path, platform::StoreOpening::createIfMissing);
    EXPECT_TRUE(std::holds_alternative<std::shared_ptr<const platform::Error>>(opened)) << c.what;
    EXPECT_EQ(contentsOf(path), before) << c.what << " was changed";
    EXPECT_EQ(std::filesystem::status(path).permissions(), mode) << c.what;
  }
}

// Older schemas keep their entries; due times (one decades ahead, as a
// hostile 429 could leave) become waits of at most a day, set now; replies
// shrink to their records, and delivered bodies go.
TEST_F(OutboxStoreTest, MigratesOlderSchemasKeepingTheirEntries) {
  const double now = platform::Date::now().secondsSince1970;
  const std::string version1 =
      "PRAGMA application_id = 1330071106; PRAGMA user_version = 1;"
      "CREATE TABLE entries (id INTEGER PRIMARY KEY AUTOINCREMENT, body TEXT NOT NULL, state TEXT NOT NULL,"
      " attempts INTEGER NOT NULL DEFAULT 0, created_at REAL NOT NULL, next_attempt_at REAL, last_error TEXT,"
      " reply TEXT, finished_at REAL);";
  const std::string version2 = version1 +
                               "ALTER TABLE entries ADD COLUMN failures INTEGER NOT NULL DEFAULT 0;"
                               "CREATE TABLE settings (name TEXT PRIMARY KEY, value); PRAGMA user_version = 2;"
                               "INSERT INTO settings VALUES ('holdUntil', 4102444800);";
  const auto row = [&](const char* body, const char* state, double due, const char* reply) {
    return "INSERT INTO entries (body, state, attempts, created_at, next_attempt_at, reply) VALUES ('" +
           std::string(body) + "', '" + state + "', 2, 5, " + std::to_string(due) + ", " + reply + ");";
  };
  for (const auto& schema : {version1, version2}) {
    std::filesystem::remove(path);
    runSQL(path, schema + row("waits", "queued", now + 90, "NULL") + row("far", "queued", 4102444800, "NULL") +
                     row("sent", "delivered", 0, R"('{"response":"201","data":{"id":"r-9"},"pad":"xxxxxxxx"}')") +
                     row("unsure", "unconfirmed", 0, "NULL"));
    auto store = openStore(path);
    ASSERT_TRUE(store);
    const auto all = entriesOf(*store);
    ASSERT_EQ(all.size(), 4U);
    EXPECT_EQ(all[0].body, "waits");
    ASSERT_TRUE(all[0].wait && all[1].wait);
    EXPECT_NEAR(all[0].wait->seconds, 90, 5);
    EXPECT_NEAR(all[0].wait->setAt, now, 5);
    EXPECT_EQ(all[1].wait->seconds, OutboxStore::kLongestWaitSeconds);
    EXPECT_EQ(all[2].body, "");
    EXPECT_EQ(all[2].record, R"({"id":"r-9"})");
    EXPECT_EQ(all[3].state, StoredState::unconfirmed);
    EXPECT_EQ(all[3].attempts, 2);
    const auto hold = std::get<std::optional<platform::StoredWait>>(store->hold());
    EXPECT_EQ(hold.has_value(), schema == version2);
    if (hold) {
      EXPECT_EQ(hold->seconds, OutboxStore::kLongestWaitSeconds);
    }
    store.reset();
    EXPECT_TRUE(openStore(path)) << "the migrated file opens again";
  }
}

TEST_F(OutboxStoreTest, BoundsWaitingReportsAndWhatFinishedOnesKeep) {
  auto store = openStore(path);
  ASSERT_TRUE(store);
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(std::holds_alternative<std::int64_t>(store->insert("r", 100, 4)));
  EXPECT_TRUE(std::holds_alternative<std::shared_ptr<const platform::Error>>(store->insert("over", 100, 4)));
  auto all = entriesOf(*store);
  ASSERT_EQ(all.size(), 4U) << "a refused report is not stored";

  // Finished entries make room; a delivered one drops its body; pruning
  // keeps the newest finished ones, by age and by count. Waiting ones stay.
  const std::pair<StoredState, double> finishes[] = {
      {StoredState::delivered, 10}, {StoredState::rejected, 1000}, {StoredState::delivered, 2000}};
  for (std::size_t i = 0; i < 3; ++i) {
    all[i].state = finishes[i].first;
    all[i].finishedAt = finishes[i].second;
    ASSERT_TRUE(std::get<bool>(store->update(all[i], StoredState::queued)));
  }
  EXPECT_FALSE(std::get<bool>(store->update(all[1], StoredState::queued))) << "no longer queued";
  EXPECT_EQ(entriesOf(*store)[0].body, "");
  EXPECT_EQ(entriesOf(*store)[1].body, "r") << "a rejected report keeps its words";
  EXPECT_TRUE(std::holds_alternative<std::int64_t>(store->insert("room", 100, 4)));
  EXPECT_FALSE(store->prune(500, 1));
  std::vector<std::int64_t> left;
  for (const auto& entry : entriesOf(*store)) left.push_back(entry.id);
  EXPECT_EQ(left, (std::vector<std::int64_t>{all[2].id, all[3].id, all[3].id + 1}));
}

// The store's files are private whatever the umask; an older store's looser
// files are made private when it is opened again.
TEST_F(OutboxStoreTest, FilesArePrivateWhateverTheUmask) {
  const mode_t umask = ::umask(022);
  const auto modes = [&] {
    std::vector<unsigned> found;
    for (const char* suffix : {"", "-wal", "-shm"}) {
      struct stat information {};
      found.push_back(::stat((path + suffix).c_str(), &information) == 0 ? information.st_mode & 0777 : 0U);
    }
    return found;
  };
  auto store = openStore(path);
  ASSERT_TRUE(store && std::holds_alternative<std::int64_t>(store->insert("r", 1, 10)));
  EXPECT_EQ(modes(), (std::vector<unsigned>{0600, 0600, 0600}));
  for (const char* suffix : {"", "-wal", "-shm"}) ::chmod((path + suffix).c_str(), 0644);
  auto again = openStore(path);
  EXPECT_EQ(modes(), (std::vector<unsigned>{0600, 0600, 0600}));
  ::umask(umask);
}

// synchronous=FULL: every commit syncs the log before it returns.
TEST_F(OutboxStoreTest, EveryCommitSyncsTheLog) {
  auto& vfs = FaultyVfs::install();
  auto store = openStore(path);
  ASSERT_TRUE(store);
  for (int i = 0; i < 3; ++i) {
    const int before = vfs.logSyncs();
    const auto id = store->insert("r", 1, 10);
    ASSERT_TRUE(std::holds_alternative<std::int64_t>(id));
    EXPECT_GE(vfs.logSyncs(), before + 1) << "insert " << i;
    platform::StoredEntry entry;
    entry.id = std::get<std::int64_t>(id);
    entry.state = StoredState::sending;
    const int marked = vfs.logSyncs();
    ASSERT_TRUE(std::get<bool>(store->update(entry, StoredState::queued)));
    EXPECT_GE(vfs.logSyncs(), marked + 1) << "update " << i;
  }
}

// Two stores on one file stand for two processes: one delivers at a time;
// what a holder left in flight turns unconfirmed only once its claim is gone;
// and a lock file removed or replaced under a holder does not let two hold it.
TEST_F(OutboxStoreTest, OneClaimAtATimeWhateverHappensToTheLockFile) {
  const std::string lock = path + ".lock";
  const std::pair<const char*, std::function<void()>> spoilers[] = {
      {"kept", [] {}},
      {"removed", [&] { std::filesystem::remove(lock); }},
      {"replaced",
       [&] {
         std::ofstream(directory / "other") << "x";
         std::filesystem::rename(directory / "other", lock);
       }},
  };
  for (const auto& [what, spoil] : spoilers) {
    auto first = openStore(path);
    auto second = openStore(path);
    ASSERT_TRUE(first && second);
    const auto id = std::get<std::int64_t>(first->insert("r", 1, 10));
    ASSERT_TRUE(std::get<bool>(first->claimDelivery(nullptr)));
    auto entry = *std::get<std::optional<platform::StoredEntry>>(first->entry(id));
    entry.state = StoredState::sending;
    ASSERT_TRUE(std::get<bool>(first->update(entry, StoredState::queued)));
    EXPECT_FALSE(std::get<bool>(second->claimDelivery(nullptr))) << what;

    spoil();
    const bool secondHolds = std::get<bool>(second->claimDelivery(nullptr));
    EXPECT_NE(std::get<bool>(first->claimDelivery(nullptr)), secondHolds) << what << ": one holder at a time";
    first.reset();  // the holder dies
    EXPECT_TRUE(std::get<bool>(second->claimDelivery(nullptr))) << what;
    EXPECT_EQ(std::get<std::optional<platform::StoredEntry>>(second->entry(id))->state, StoredState::unconfirmed);
    second.reset();
    std::filesystem::remove(path);
  }
}

}  // namespace
}  // namespace orbisgrove::testing
