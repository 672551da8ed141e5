// Several processes on one outbox: two deliver one at a time; several open
// one new store at once; and short-lived processes of the tool, exiting
// normally, leave nothing unconfirmed and override no other report's waiting
// time.

#include "ChildProcesses.hpp"
#include "LocalHttpsService.hpp"
#include "OutboxStores.hpp"
#include "ScratchFiles.hpp"

namespace orbisgrove::testing {
namespace {

// A service that answers the categories at once and each submission as
// `submission` says (201 unless a test says otherwise), and a directory of the test's own.
class OutboxProcessesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    service.setHandler([this](const RecordedRequest& request) {
      if (request.body.find("q=712") != std::string::npos) {
        return Reply::json(R"({"response":"201","data":[{"reportId":"1","reportName":"Road","parentId":"0"},)"
                           R"({"reportId":"101","reportName":"Closed","parentId":"1"}]})");
      }
      return submission();
    });
  }

#ifdef ORBISGROVE_TOOL
  // Starts the tool with `arguments`, its cache in the test's directory.
  pid_t tool(std::vector<std::string> arguments) {
    std::vector<std::string> all{"/usr/bin/env", "TMPDIR=" + scratch.path(), ORBISGROVE_TOOL};
    all.insert(all.end(), arguments.begin(), arguments.end());
    all.insert(all.end(), {"--json", "--data-dir", scratch / "data", "--host", service.hostAndPort(), "--cacert",
                           service.caFile()});
    return spawn(std::move(all));
  }
  pid_t submitQueued(int n) {
    return tool({"submit", "--lat", "1", "--lon", "2", "--parent", "1", "--child", "101", "--description",
                 "report " + std::to_string(n), "--queue"});
  }
#endif

  std::map<std::string, int> submissionsSeen() {
    std::map<std::string, int> seen;
    for (const auto& request : service.requests()) {
      if (request.body.find("q=705") != std::string::npos) ++seen[request.body];
    }
    return seen;
  }

  LocalHttpsService service;
  std::function<Reply()> submission = [] { return Reply::json(R"({"response":"201"})"); };
  const ScratchDirectory scratch{"outbox-test"};
};

// Two processes of one app on one data directory, both told to deliver: each
// report reaches the service once.
TEST_F(OutboxProcessesTest, TwoDeliverOneAtATimeAndNothingGoesTwice) {
  const std::string directory = scratch.path();
  // Stored while the service is out of reach (nothing listens on port 9 here).
  ASSERT_EQ(statusOf(spawnChild({"fill", "20", directory, "127.0.0.1:9", service.caFile()})), 0);
  ASSERT_EQ(service.requestCount(), 0U);
  const pid_t first = spawnChild({"resume", "0", directory, service.hostAndPort(), service.caFile()});
  const pid_t second = spawnChild({"resume", "0", directory, service.hostAndPort(), service.caFile()});
  for (const pid_t child : {first, second}) EXPECT_EQ(statusOf(child), 0);
  EXPECT_EQ(service.requestCount(), 20U);
  std::set<std::string> bodies;
  for (const auto& request : service.requests()) bodies.insert(request.body);
  EXPECT_EQ(bodies.size(), 20U) << "a report went twice";
}

// Four processes enqueue into each of many brand-new data directories at the
// same moment: every enqueue succeeds and every report is stored.
TEST_F(OutboxProcessesTest, SeveralOpeningANewStoreTogetherAllStore) {
  for (int round = 0; round < 8; ++round) {
    const std::string directory = scratch / std::to_string(round);
    std::vector<pid_t> children;
    for (int child = 0; child < 4; ++child) {
      // Stored while the service is out of reach (nothing listens on port 9 here).
      children.push_back(spawnChild({"add", "3", directory, "127.0.0.1:9", "/dev/null"}));
    }
    for (const pid_t child : children) EXPECT_EQ(statusOf(child), 0) << "round " << round;
    EXPECT_EQ(storedEntries(directory + "/outbox.sqlite").size(), 12U) << "round " << round;
  }
}

#ifdef ORBISGROVE_TOOL
// Each process waits for its own report's attempt and exits normally; one
// that happens to deliver other reports too starts none once its exit began,
// and the one in flight gets its verdict: nothing ends unconfirmed, and every
// report reaches the service once (the last ones by a later "outbox send").
TEST_F(OutboxProcessesTest, ToolProcessesExitingLeaveNothingUnconfirmed) {
  submission = [] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    return Reply::json(R"({"response":"201"})");
  };
  std::vector<pid_t> children;
  for (int n = 0; n < 10; ++n) children.push_back(submitQueued(n));
  for (const pid_t child : children) EXPECT_EQ(statusOf(child), 0);
  auto entries = storedEntries(scratch / "data/outbox.sqlite");
  ASSERT_EQ(entries.size(), 10U);
  // One left marked "sending" by a process that is gone turns unconfirmed at the next claim.
  std::size_t unconfirmed = 0;
  std::size_t delivered = 0;
  for (const auto& entry : entries) {
    unconfirmed += entry.state == platform::StoredState::unconfirmed || entry.state == platform::StoredState::sending;
    delivered += entry.state == platform::StoredState::delivered;
  }
  EXPECT_EQ(unconfirmed, 0U);
  // Each process waited until its report was tried, by itself or by the one holding the claim.
  EXPECT_EQ(delivered, 10U);
  RecordProperty("unconfirmed", static_cast<int>(unconfirmed));

  EXPECT_EQ(statusOf(tool({"outbox", "send"})), 0);
  const auto seen = submissionsSeen();
  EXPECT_EQ(seen.size(), 10U);
  for (const auto& [body, times] : seen) EXPECT_EQ(times, 1) << body;
}

// Against a service that keeps refusing (503), four processes in turn each
// make their own report's attempt only: the earlier reports keep their back-off.
TEST_F(OutboxProcessesTest, EachToolProcessAttemptsItsOwnReportOnly) {
  submission = [] { return Reply::json(R"({"response":"503","data":[{"error":["Busy."]}]})", 503); };
  for (int n = 0; n < 4; ++n) EXPECT_EQ(statusOf(submitQueued(n)), 0);
  const auto seen = submissionsSeen();
  EXPECT_EQ(seen.size(), 4U);
  for (const auto& [body, times] : seen) EXPECT_EQ(times, 1) << body;
}
#endif
}  // namespace
}  // namespace orbisgrove::testing
