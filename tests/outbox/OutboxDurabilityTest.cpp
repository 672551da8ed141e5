// What survives: the store refuses files that are not its own and migrates
// its first schema; a process killed at each step of storing and delivering a
// report, then the outbox reopened by another, neither loses the report nor
// sends one that may have reached the service again on its own; two
// processes deliver one at a time.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "../support/ScratchFiles.hpp"
#include "LocalHttpsService.hpp"
#include "kit/outbox/OutboxSteps.hpp"
#include "platform/store/OutboxStore.hpp"

extern char** environ;

namespace orbisgrove::testing {
namespace {

// Starts the crash child; its standard output goes to `output`.
pid_t spawnChild(std::vector<std::string> arguments, const std::string& output = "/dev/null") {
  std::string program = ORBISGROVE_OUTBOX_CRASH_CHILD;
  std::vector<char*> argv{program.data()};
  for (auto& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  pid_t pid = -1;
  const int failed = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return failed != 0 ? -1 : pid;
}

int statusOf(pid_t child) {
  int status = -1;
  if (child <= 0 || ::waitpid(child, &status, 0) != child) return -1;
  return status;
}

struct CrashCase {
  const char* name;
  int step;                        // the OutboxStep to die at; -1: killed while the request is out
  const char* stateAfterReopen;    // "<state> <attempts>\n" per entry
  std::size_t requestsSeen;        // before the reopened outbox's pass
  std::size_t requestsOfReopened;  // made by its pass
};

class OutboxCrashTest : public ::testing::TestWithParam<CrashCase> {};

TEST_P(OutboxCrashTest, ReopenedOutboxNeitherLosesNorRepeats) {
  const CrashCase& crash = GetParam();
  LocalHttpsService service;
  service.setDefaultReply(Reply::json(R"({"response":"201"})"));
  if (crash.step < 0) service.enqueue(Reply::json(R"({"response":"201"})").stalledUntilReleased());
  const ScratchDirectory directory("outbox-test");

  const pid_t child =
      spawnChild({"store", std::to_string(crash.step), directory.path(), service.hostAndPort(), service.caFile()});
  ASSERT_GT(child, 0);
  if (crash.step < 0) {
    ASSERT_TRUE(service.waitForStalled(1));
    ::kill(child, SIGKILL);
  }
  const int status = statusOf(child);
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "the child was to die at " << crash.name;
  service.releaseStalled();
  EXPECT_EQ(service.requestCount(), crash.requestsSeen);

  const std::string listing = directory / "listing";
  EXPECT_EQ(statusOf(spawnChild({"resume", directory.path(), service.hostAndPort(), service.caFile()}, listing)), 0);
  EXPECT_EQ(contentsOf(listing), crash.stateAfterReopen);
  EXPECT_EQ(service.requestCount(), crash.requestsSeen + crash.requestsOfReopened);
}

// A report whose enqueue never returned was never the caller's to lose.
using enum OutboxStep;
const CrashCase kCrashes[] = {
    {"beforeCommit", int(beforeCommit), "", 0, 0},
    {"afterCommit", int(afterCommit), "delivered 1\n", 0, 1},
    {"afterInFlightMark", int(afterInFlightMark), "unconfirmed 1\n", 0, 0},
    {"wire", -1, "unconfirmed 1\n", 1, 0},
    {"afterReply", int(afterReply), "unconfirmed 1\n", 1, 0},
    {"afterOutcomeMark", int(afterOutcomeMark), "delivered 1\n", 1, 0},
};
INSTANTIATE_TEST_SUITE_P(EveryStep, OutboxCrashTest, ::testing::ValuesIn(kCrashes),
                         [](const auto& param) { return std::string(param.param.name); });

// Two processes of one app on one data directory, both told to deliver: each
// report reaches the service once.
TEST(OutboxTwoProcessTest, OneDeliversAtATimeAndNothingGoesTwice) {
  LocalHttpsService service;
  service.setDefaultReply(Reply::json(R"({"response":"201"})"));
  const ScratchDirectory directory("outbox-test");
  // Stored while the service is out of reach (nothing listens on port 9 here).
  ASSERT_EQ(statusOf(spawnChild({"fill", "20", directory.path(), "127.0.0.1:9", service.caFile()})), 0);
  ASSERT_EQ(service.requestCount(), 0U);
  const pid_t first = spawnChild({"resume", directory.path(), service.hostAndPort(), service.caFile()});
  const pid_t second = spawnChild({"resume", directory.path(), service.hostAndPort(), service.caFile()});
  for (const pid_t child : {first, second}) EXPECT_EQ(statusOf(child), 0);
  EXPECT_EQ(service.requestCount(), 20U);
  std::set<std::string> bodies;
  for (const auto& request : service.requests()) bodies.insert(request.body);
  EXPECT_EQ(bodies.size(), 20U) << "a report went twice";
}

using platform::OutboxStore;
using platform::StoredState;

std::unique_ptr<OutboxStore> openStore(const std::string& path) {
  auto opened = OutboxStore::open(path);
  auto* store = std::get_if<std::unique_ptr<OutboxStore>>(&opened);
  return store != nullptr ? std::move(*store) : nullptr;
}

std::vector<platform::StoredEntry> entriesOf(OutboxStore& store) {
  auto all = store.all();
  auto* entries = std::get_if<std::vector<platform::StoredEntry>>(&all);
  return entries != nullptr ? std::move(*entries) : std::vector<platform::StoredEntry>{};
}

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
    auto opened = OutboxStore::open(path);
    EXPECT_TRUE(std::holds_alternative<std::shared_ptr<const platform::Error>>(opened)) << c.what;
    EXPECT_EQ(contentsOf(path), before) << c.what << " was changed";
  }
}

TEST_F(OutboxStoreTest, MigratesTheFirstSchemaKeepingItsEntries) {
  runSQL(path,
         "PRAGMA application_id = 1330071106; PRAGMA user_version = 1;"
         "CREATE TABLE entries (id INTEGER PRIMARY KEY AUTOINCREMENT, body TEXT NOT NULL, state TEXT NOT NULL,"
         " attempts INTEGER NOT NULL DEFAULT 0, created_at REAL NOT NULL, next_attempt_at REAL, last_error TEXT,"
         " reply TEXT, finished_at REAL);"
         "INSERT INTO entries (body, state, attempts, created_at) VALUES ('old report', 'unconfirmed', 2, 5);");
  auto store = openStore(path);
  ASSERT_TRUE(store);
  auto all = entriesOf(*store);
  ASSERT_EQ(all.size(), 1U);
  EXPECT_EQ(all[0].body, "old report");
  EXPECT_EQ(all[0].state, StoredState::unconfirmed);
  EXPECT_EQ(all[0].attempts, 2);
  EXPECT_FALSE(store->setHoldUntil(42.0));
  store.reset();
  EXPECT_TRUE(openStore(path)) << "the migrated file opens again";
}

TEST_F(OutboxStoreTest, BoundsWaitingReportsAndPrunesFinishedOnes) {
  auto store = openStore(path);
  ASSERT_TRUE(store);
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(std::holds_alternative<std::int64_t>(store->insert("r", 100, 3)));
  EXPECT_TRUE(std::holds_alternative<std::shared_ptr<const platform::Error>>(store->insert("over", 100, 3)));
  auto all = entriesOf(*store);
  ASSERT_EQ(all.size(), 3U) << "a refused report is not stored";

  // Finished entries make room and are pruned once old; waiting ones stay.
  all[0].state = StoredState::delivered;
  all[0].finishedAt = 10;
  all[1].state = StoredState::rejected;
  all[1].finishedAt = 1000;
  ASSERT_TRUE(std::get<bool>(store->update(all[0], StoredState::queued)));
  ASSERT_TRUE(std::get<bool>(store->update(all[1], StoredState::queued)));
  EXPECT_FALSE(std::get<bool>(store->update(all[1], StoredState::queued))) << "no longer queued";
  EXPECT_TRUE(std::holds_alternative<std::int64_t>(store->insert("room", 100, 3)));
  EXPECT_FALSE(store->prune(500));
  std::vector<std::int64_t> left;
  for (const auto& entry : entriesOf(*store)) left.push_back(entry.id);
  EXPECT_EQ(left, (std::vector<std::int64_t>{all[1].id, all[2].id, all[2].id + 1}));
}

// Two stores on one file stand for two processes: one delivers at a time, and
// what a holder left in flight turns unconfirmed only once its claim is gone.
TEST_F(OutboxStoreTest, OneClaimAtATimeAndInterruptedEntriesTurnUnconfirmed) {
  auto first = openStore(path);
  auto second = openStore(path);
  ASSERT_TRUE(first && second);
  const auto id = std::get<std::int64_t>(first->insert("r", 1, 10));
  ASSERT_TRUE(std::get<bool>(first->claimDelivery(nullptr)));
  auto entry = *std::get<std::optional<platform::StoredEntry>>(first->entry(id));
  entry.state = StoredState::sending;
  ASSERT_TRUE(std::get<bool>(first->update(entry, StoredState::queued)));

  EXPECT_FALSE(std::get<bool>(second->claimDelivery(nullptr)));
  EXPECT_EQ(std::get<std::optional<platform::StoredEntry>>(second->entry(id))->state, StoredState::sending);
  first.reset();  // the holder dies
  EXPECT_TRUE(std::get<bool>(second->claimDelivery(nullptr)));
  EXPECT_EQ(std::get<std::optional<platform::StoredEntry>>(second->entry(id))->state, StoredState::unconfirmed);
}

}  // namespace
}  // namespace orbisgrove::testing
