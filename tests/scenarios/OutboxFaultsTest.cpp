// The outbox in one process against what the service, the clock and the disk
// may do: hostile rate-limit resets, a wall clock that jumps, writes and syncs
// that fail, a store file removed or replaced while open, and replies far
// larger than what is worth keeping.
#include <sqlite3.h>

#include <sys/stat.h>

#include "FaultyVfs.hpp"
#include "LocalHttpsService.hpp"
#include "OutboxStores.hpp"
#include "Reports.hpp"
#include "ScratchFiles.hpp"
#include "TestSeams.hpp"
#include "kit/outbox/OutboxSteps.hpp"
#include "platform/core/Date.hpp"

namespace orbisgrove::testing {
namespace {

using State = OrbisgroveOutboxEntryState;

std::function<void(OutboxStep)> onStep;
void reachStep(OutboxStep step) {
  if (onStep) onStep(step);
}

double secondsSince1970(std::chrono::system_clock::time_point time) {
  return std::chrono::duration<double>(time.time_since_epoch()).count();
}

Reply envelope(int code) {
  return Reply::json(R"({"response":")" + std::to_string(code) + R"(","data":[{"error":["No."]}]})", code);
}

class OutboxFaultsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FaultyVfs::install();
    platform::setDataDirectory(directory.path());
    platform::addTrustedCertificates(service.caFile());
    setServiceHost(service.hostAndPort());
    service.setDefaultReply(Reply::json(R"({"response":"201","data":{"id":"r-1"}})"));
    setOutboxStepHook(reachStep);
    outbox.setChangeHandler([this](const OrbisgroveOutboxEntry& entry) { changes.push_back(entry); });
  }
  void TearDown() override {
    outbox.setChangeHandler(nullptr);
    setOutboxStepHook(nullptr);
    onStep = nullptr;
    FaultyVfs::install().failWrites(0);
    FaultyVfs::install().failSyncs(0);
    setWallClockOffset(0);
    platform::MainQueue::shared().drain();
  }

  // A fresh store (whose ids start again at 1), and no changes seen yet.
  void useFreshStore() {
    platform::setDataDirectory(directory / std::to_string(++stores));  // the outbox makes it
    changes.clear();
  }
  std::string enqueue(const std::string& words = "Road closed") {
    auto stored = outbox.enqueue(*someReport(words));
    EXPECT_TRUE(stored.id) << (stored.error ? stored.error->description() : "");
    return stored.id.value_or("");
  }
  bool announced(const std::string& id, State state, std::chrono::seconds patience = std::chrono::seconds(20)) {
    return platform::MainQueue::shared().runUntil(
        [&] {
          return std::any_of(changes.begin(), changes.end(),
                             [&](const auto& entry) { return entry.id == id && entry.state == state; });
        },
        patience);
  }
  OrbisgroveOutboxEntry entry(const std::string& id) {
    for (auto& listed : outbox.entries()) {
      if (listed.id == id) return listed;
    }
    ADD_FAILURE() << "no entry " << id;
    return {};
  }

  OrbisgroveFeedbackOutbox& outbox = OrbisgroveFeedbackOutbox::shared();
  LocalHttpsService service;
  const ScratchDirectory directory{"outbox-test"};
  std::vector<OrbisgroveOutboxEntry> changes;
  int stores = 0;
};

// What one refused attempt leaves: the first back-off (30 s, +-25 %), or a
// hold of the whole outbox until the service's reset, never beyond a day. A
// reset that is not ahead, not finite or not a number counts as none.
TEST_F(OutboxFaultsTest, ARefusedAttemptWaitsTheBackOffOrTheResetAtMostADay) {
  const double now = platform::Date::now().secondsSince1970;
  const auto resetIn = [&](double seconds) { return std::to_string(static_cast<long long>(now + seconds)); };
  struct Case {
    const char* what;
    Reply reply;
    double shortest;  // seconds from now
    double longest;
    bool holds;
  };
  const Case cases[] = {
      {"503", envelope(503), 22.5, 37.5, false},
      {"429 without a reset", envelope(429), 22.5, 37.5, false},
      {"reset inf", envelope(429).withHeader("X-Rate-Limit-Reset", "inf"), 22.5, 37.5, false},
      {"reset nan", envelope(429).withHeader("X-Rate-Limit-Reset", "nan"), 22.5, 37.5, false},
      {"reset negative", envelope(429).withHeader("X-Rate-Limit-Reset", "-5"), 22.5, 37.5, false},
      {"reset past", envelope(429).withHeader("X-Rate-Limit-Reset", resetIn(-100)), 22.5, 37.5, false},
      {"reset unreadable", envelope(429).withHeader("X-Rate-Limit-Reset", "soon"), 22.5, 37.5, false},
      {"reset ahead", envelope(429).withHeader("X-Rate-Limit-Reset", resetIn(120)), 100, 121, true},
      {"lower-case name", envelope(429).withHeader("x-rate-limit-reset", resetIn(120)), 100, 121, true},
      {"reset 1e300", envelope(429).withHeader("X-Rate-Limit-Reset", "1e300"), 86300, 86400, true},
      {"reset in 2100", envelope(429).withHeader("X-Rate-Limit-Reset", "4102444800"), 86300, 86400, true},
  };
  for (const auto& c : cases) {
    useFreshStore();
    const std::size_t before = service.requestCount();
    service.enqueue(c.reply);
    const std::string id = enqueue();
    ASSERT_TRUE(announced(id, State::queued)) << c.what;
    const auto refused = entry(id);
    ASSERT_TRUE(refused.nextAttemptAt) << c.what;
    const double wait = secondsSince1970(*refused.nextAttemptAt) - platform::Date::now().secondsSince1970;
    EXPECT_GE(wait, c.shortest) << c.what;
    EXPECT_LE(wait, c.longest) << c.what;
    // A hold pauses everything, a pass of deliverNow() too; a back-off only
    // its own entry, which such a pass tries at once.
    enqueue("another");
    deliverAndWait();
    EXPECT_EQ(service.requestCount() - before, c.holds ? 1U : 3U) << c.what;
  }
}

// Within a process a wait follows the monotonic clock; a wait read from the
// store, set at a moment the wall clock has not reached again, counts from now.
TEST_F(OutboxFaultsTest, AWallClockThatJumpsNeitherStretchesNorCutsAWait) {
  setServiceHost("127.0.0.1:9");  // nothing listens: a failure that never reached the service
  for (const double jump : {-3600.0, 3600.0}) {
    useFreshStore();
    const std::string id = enqueue();
    ASSERT_TRUE(announced(id, State::queued));
    setWallClockOffset(jump);
    const auto next = entry(id).nextAttemptAt;
    ASSERT_TRUE(next);
    const double wait = secondsSince1970(*next) - platform::Date::now().secondsSince1970;
    EXPECT_GE(wait, 20) << jump;
    EXPECT_LE(wait, 37.5) << jump;
    setWallClockOffset(0);
  }
  const std::string planted = directory / "planted";
  ASSERT_EQ(::mkdir(planted.c_str(), 0700), 0);
  {
    const auto store = openStore(planted + "/outbox.sqlite");
    platform::StoredEntry stored;
    stored.id = std::get<std::int64_t>(store->insert("r", 1, 10));
    stored.wait = platform::StoredWait{platform::Date::now().secondsSince1970 + 3600, 30};
    ASSERT_TRUE(std::get<bool>(store->update(stored, platform::StoredState::queued)));
  }
  platform::setDataDirectory(planted);
  const auto listed = outbox.entries();
  ASSERT_EQ(listed.size(), 1U);
  EXPECT_NEAR(secondsSince1970(*listed[0].nextAttemptAt) - platform::Date::now().secondsSince1970, 30, 1);
}

// A full disk or a failing write or sync, at each write of a report's way:
// enqueue stores nothing and says so; a mark that cannot be written keeps
// the request from going out; a verdict that cannot be written is kept and
// written later, and announced only then.
TEST_F(OutboxFaultsTest, IOFaultsLoseNothingAndAnnounceOnlyWhatIsStored) {
  auto& vfs = FaultyVfs::install();
  const std::pair<const char*, std::function<void(int)>> faults[] = {
      {"full disk", [&](int on) { vfs.failWrites(on != 0 ? SQLITE_FULL : 0); }},
      {"write error", [&](int on) { vfs.failWrites(on != 0 ? SQLITE_IOERR_WRITE : 0); }},
      {"sync error", [&](int on) { vfs.failSyncs(on != 0 ? SQLITE_IOERR_FSYNC : 0); }},
  };
  for (const auto& row : faults) {
    SCOPED_TRACE(row.first);
    const auto& fault = row.second;
    useFreshStore();
    fault(1);
    EXPECT_TRUE(outbox.enqueue(*someReport()).error);
    fault(0);
    EXPECT_TRUE(outbox.entries().empty());

    const std::size_t before = service.requestCount();
    onStep = [&](OutboxStep step) {
      if (step == OutboxStep::beforeStartMark) fault(1);
      if (step == OutboxStep::afterReply) fault(0);
    };
    const std::string held = enqueue("held back");
    ASSERT_TRUE(announced(held, State::queued));
    EXPECT_EQ(service.requestCount(), before) << "a request went out without its mark";
    EXPECT_EQ(entry(held).attempts, 0);

    onStep = [&](OutboxStep step) {
      if (step == OutboxStep::afterReply) fault(1);
    };
    deliverAndWait();  // does not wait for the verdict to be stored
    const auto pending = entry(held);
    EXPECT_TRUE(pending.state == State::queued && pending.sending);
    EXPECT_FALSE(announced(held, State::delivered, std::chrono::seconds(0)));
    onStep = nullptr;
    fault(0);
    ASSERT_TRUE(announced(held, State::delivered));
    EXPECT_EQ(entry(held).state, State::delivered);
    EXPECT_EQ(service.requestCount(), before + 1);
  }
}

// An entry whose request is out cannot be discarded; it shows as being sent.
TEST_F(OutboxFaultsTest, AnEntryBeingSentCannotBeDiscarded) {
  service.enqueue(Reply::json(R"({"response":"201"})").stalledUntilReleased());
  const std::string id = enqueue();
  ASSERT_TRUE(service.waitForStalled(1));
  EXPECT_TRUE(outbox.discard(id));
  const auto sending = entry(id);
  EXPECT_TRUE(sending.sending && sending.attempts == 1);
  service.releaseStalled();
  EXPECT_TRUE(announced(id, State::delivered));
}

// The store's file removed, or replaced by another store, while open: a new
// report goes into the file at the path, or gets no id.
TEST_F(OutboxFaultsTest, AStoreRemovedOrReplacedIsOpenedAnew) {
  const std::string path = directory / "outbox.sqlite";
  for (const bool replace : {false, true}) {
    const std::string first = enqueue("first");
    ASSERT_TRUE(announced(first, State::delivered));
    for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(path + suffix);
    if (replace) {
      openStore(directory / "other")->insert("planted", 1, 10);  // closed at once: its log folded into the file
      std::filesystem::rename(directory / "other", path);
    }
    const std::string second = enqueue("second");
    std::vector<std::string> atPath;
    for (const auto& stored : storedEntries(path)) atPath.push_back(std::to_string(stored.id));
    std::vector<std::string> listed;
    for (const auto& shown : outbox.entries()) listed.push_back(shown.id);
    EXPECT_EQ(listed, atPath) << "replaced: " << replace;
    EXPECT_EQ(atPath.size(), replace ? 2U : 1U);
    EXPECT_EQ(atPath.back(), second) << "replaced: " << replace;
    ASSERT_TRUE(announced(second, State::delivered));
    for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(path + suffix);
  }
}

// The asynchronous enqueue returns while its commit is held on the
// store-writes thread (where entries() does not wait for it), and its id, or
// why nothing was stored, arrives once on the main queue after the release.
TEST_F(OutboxFaultsTest, AnAsynchronousEnqueueAnswersOnTheMainQueueOnceCommitted) {
  const auto others = directory / "others-may-enter";
  std::filesystem::create_directory(others);
  std::filesystem::permissions(others, std::filesystem::perms::all);
  const struct {
    const char* what;
    std::function<void()> setUp;
    const char* reason;  // of the error; none: stored
  } cases[] = {
      {"stored", [] {}, nullptr},
      {"store cannot be opened", [&] { platform::setDataDirectory(others); }, "The data directory"},
      {"1,000 waiting",
       [&] {
         // Refused, the planted reports stay waiting while the commit is held.
         service.setDefaultReply(Reply::withStatus(503));
         const auto path = directory / std::to_string(stores);
         std::filesystem::create_directory(path);
         std::filesystem::permissions(path, std::filesystem::perms::owner_all);
         auto store = openStore(path + "/outbox.sqlite");
         for (int i = 0; store && i < 1000; ++i) store->insert("waiting", 1, 1000);
       },
       "The outbox is full"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    useFreshStore();
    ASSERT_TRUE(outbox.entries().empty());
    c.setUp();
    std::atomic<int> phase{0};  // 1: the commit is held; 2: let it go
    onStep = [&](OutboxStep step) {
      if (step != OutboxStep::beforeQueuedCommit) return;
      phase.store(1);
      phase.notify_all();
      phase.wait(1);
    };
    std::vector<OrbisgroveOutboxEnqueueResult> answers;
    bool onMainThread = false;
    outbox.enqueue(*someReport(c.what), [&](OrbisgroveOutboxEnqueueResult result) {
      onMainThread = platform::MainQueue::shared().isMainThread();
      answers.push_back(std::move(result));
    });
    phase.wait(0);
    platform::MainQueue::shared().drain();
    EXPECT_TRUE(answers.empty());
    const std::size_t before = outbox.entries().size();
    phase.store(2);
    phase.notify_all();
    ASSERT_TRUE(platform::MainQueue::shared().runUntil([&] { return !answers.empty(); }, std::chrono::seconds(20)));
    onStep = nullptr;
    platform::MainQueue::shared().drain();
    ASSERT_EQ(answers.size(), 1U);
    EXPECT_TRUE(onMainThread);
    const auto& [id, error] = answers[0];
    EXPECT_EQ(id.has_value(), c.reason == nullptr);
    EXPECT_EQ(error == nullptr, c.reason == nullptr);
    EXPECT_THAT(error ? error->description() : "", ::testing::HasSubstr(c.reason ? c.reason : ""));
    if (id) {
      EXPECT_EQ(before, 0U);
      EXPECT_TRUE(announced(*id, State::delivered));
    }
  }
}

// Delivered entries keep the created record, not the reply or the request.
TEST_F(OutboxFaultsTest, LargeRepliesLeaveOnlyTheirRecords) {
  service.setDefaultReply(Reply::json(R"({"response":"201","data":{"id":"r-1"},"padding":")" +
                                      std::string(std::size_t{12} << 20, 'x') + "\"}"));
  std::vector<std::string> ids;
  for (int i = 0; i < 4; ++i) ids.push_back(enqueue());
  for (const auto& id : ids) ASSERT_TRUE(announced(id, State::delivered, std::chrono::seconds(60)));
  std::uintmax_t bytes = 0;
  for (const char* suffix : {"", "-wal"}) bytes += std::filesystem::file_size(directory / "outbox.sqlite" + suffix);
  EXPECT_LT(bytes, std::uintmax_t{1} << 20);
  RecordProperty("storeBytes", std::to_string(bytes));
  for (const auto& listed : outbox.entries()) {
    ASSERT_TRUE(listed.record);
    EXPECT_EQ(listed.record->id(), "r-1");
  }
  for (const auto& stored : storedEntries(directory / "outbox.sqlite")) {
    EXPECT_EQ(stored.body, "") << "a delivered report's words leave the device with it";
  }
}

}  // namespace
}  // namespace orbisgrove::testing
