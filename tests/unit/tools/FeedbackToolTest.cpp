// orbisgrove-feedback as a person or a script drives it: a child process
// against the reference service, judged by its output and exit status.
#include "TestPrelude.hpp"

#include <sys/stat.h>

#include <nlohmann/json.hpp>
#include <reference_service/ReferenceService.hpp>

#include "ChildProcesses.hpp"
#include "ScratchFiles.hpp"

namespace orbisgrove::tools {
namespace {

using Json = nlohmann::json;

using AfterStore = ReferenceServiceOptions::AfterStore;

struct ToolRun {
  int status;
  std::string out;
  std::string err;

  // Standard output as one JSON document; null, and a failure, otherwise.
  Json json() const {
    Json document = Json::parse(out, nullptr, false);
    EXPECT_FALSE(document.is_discarded()) << "standard output is not one JSON document: " << out << "\n" << err;
    return document.is_discarded() ? Json() : document;
  }
};

std::unique_ptr<ReferenceService> startService(std::size_t submissionsPerInterval = 30,
                                               AfterStore afterStore = AfterStore::reply) {
  ReferenceServiceOptions options;
  options.submissionsPerInterval = submissionsPerInterval;
  options.rateInterval = std::chrono::hours(1);
  options.afterStore = afterStore;
  auto service = std::make_unique<ReferenceService>(options);
  service->start();
  return service;
}

std::vector<std::string> hostOf(const ReferenceService& service) {
  return {"--host", service.hostAndPort(), "--cacert", service.caCertificateFile()};
}

class FeedbackToolTest : public ::testing::Test {
 protected:
  // Runs the tool with TMPDIR in this test's scratch directory (so the device
  // cache is the test's own); `extra` goes after the arguments.
  ToolRun run(const std::vector<std::string>& arguments, const std::vector<std::string>& extra = {}) const {
    std::vector<std::string> all{"/usr/bin/env", "TMPDIR=" + scratch_.path(), "LC_ALL=C", "TZ=UTC", ORBISGROVE_TOOL};
    all.insert(all.end(), arguments.begin(), arguments.end());
    all.insert(all.end(), extra.begin(), extra.end());
    const int status = testing::statusOf(testing::spawn(all, scratch_ / "out", scratch_ / "err"));
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, testing::contentsOf(scratch_ / "out"),
            testing::contentsOf(scratch_ / "err")};
  }

  ToolRun submit(const std::string& parent, const std::string& child) const {
    return run({"submit", "--lat", "52.52", "--lon", "13.405", "--parent", parent, "--child", child, "--description",
                "Gate & barrier * closed", "--bundle-id", "com.example.maps", "--json"},
               hostOf(*service_));
  }

  // The outbox commands, on the test's own data directory.
  Json outbox(std::vector<std::string> arguments, const std::vector<std::string>& extra = {}, int status = 0) const {
    arguments.insert(arguments.end(), {"--data-dir", scratch_ / "data", "--json"});
    const ToolRun done = run(arguments, extra);
    EXPECT_EQ(done.status, status) << done.err;
    return status == 0 ? done.json() : Json();
  }

  orbisgrove::testing::ScratchDirectory scratch_{"orbisgrove-tool-test"};
  std::unique_ptr<ReferenceService> service_;
};

TEST_F(FeedbackToolTest, CategoriesComeFromTheServiceThenFromTheDeviceCache) {
  service_ = startService();
  const ToolRun first = run({"categories", "--json"}, hostOf(*service_));
  ASSERT_EQ(first.status, 0) << first.err;
  const Json fromService = first.json();
  EXPECT_EQ(fromService["source"], "service");
  ASSERT_GT(fromService["categories"].size(), 10u);
  EXPECT_EQ(fromService["categories"][0].size(), 4u);
  // The kit's console line (the cache path) goes to standard error only.
  EXPECT_NE(first.err.find("orbisgroveReportCategories.plist"), std::string::npos);

  const ToolRun second = run({"categories", "--json"}, hostOf(*service_));
  ASSERT_EQ(second.status, 0) << second.err;
  EXPECT_EQ(second.json()["source"], "cache");
  EXPECT_EQ(second.json()["categories"], fromService["categories"]);

  const ToolRun forPeople = run({"categories"});
  EXPECT_EQ(forPeople.status, 0);
  EXPECT_NE(forPeople.out.find("device cache"), std::string::npos) << forPeople.out;
  EXPECT_NE(forPeople.out.find("└─"), std::string::npos) << forPeople.out;
}

TEST_F(FeedbackToolTest, SubmitCreatesAReportThenShowsTheRateLimitRefusal) {
  service_ = startService(1);
  const ToolRun saved = submit("1", "101");
  ASSERT_EQ(saved.status, 0) << saved.out << saved.err;
  const Json record = saved.json()["record"];
  EXPECT_TRUE(record.size() == 7 && record["dataCount"] == 1 && record["id"].is_string()) << record;
  ASSERT_EQ(service_->reportCount(), 1u);
  EXPECT_EQ(service_->reports()[0].submitted.description, "Gate & barrier * closed");

  const ToolRun refused = submit("1", "101");
  EXPECT_EQ(refused.status, 1);
  const Json error = refused.json()["error"];
  EXPECT_EQ(error["domain"], "OrbisgroveFeedbackErrorDomain");
  EXPECT_EQ(error["code"], -1);
  EXPECT_EQ(error["httpStatus"], 429);
  EXPECT_FALSE(error["userInfo"].contains("httpStatus"));
  const std::string reason = error["userInfo"]["NSLocalizedFailureReason"];
  EXPECT_EQ(reason.rfind("More than 1 requests have been made with this access token within a period of ", 0), 0u)
      << reason;
  const std::string suggestion = error["userInfo"]["NSLocalizedRecoverySuggestion"];
  EXPECT_EQ(suggestion.rfind("Wait until ", 0), 0u) << suggestion;
}

TEST_F(FeedbackToolTest, UsageErrorsExitWithTwo) {
  const std::vector<std::vector<std::string>> usageErrors = {
      {}, {"launch"}, {"categories", "--host"}, {"categories", "--host", "https://x"}, {"submit", "--lat", "north"}};
  for (const auto& arguments : usageErrors) EXPECT_EQ(run(arguments).status, 2) << arguments.size();
  service_ = startService();
  const ToolRun unknownCategory = submit("1", "999");
  EXPECT_EQ(unknownCategory.status, 2);
  EXPECT_NE(unknownCategory.err.find("999"), std::string::npos);
  EXPECT_TRUE(unknownCategory.out.empty());
}

// Queued submissions against a service that answers and one that drops the
// connection after storing.
TEST_F(FeedbackToolTest, OutboxQueuedSubmissionsListResendAndDiscard) {
  const auto answering = startService();
  const auto dropping = startService(30, AfterStore::failConnection);
  const std::vector<std::string> submit = {"submit", "--lat",   "52.5", "--lon",         "13.4", "--parent",
                                           "1",      "--child", "101",  "--description", "tool", "--queue"};

  const Json delivered = outbox(submit, hostOf(*answering))["outbox"];
  EXPECT_EQ(delivered["state"], "delivered");
  EXPECT_EQ(delivered["attempts"], 1);
  EXPECT_TRUE(delivered["record"].is_object());

  const Json dropped = outbox(submit, hostOf(*dropping))["outbox"];  // stored, whatever the attempt gave
  EXPECT_EQ(dropped["state"], "unconfirmed");
  EXPECT_TRUE(dropped["lastError"].is_object());
  EXPECT_EQ(dropping->reportCount(), 1U);
  const std::string id = dropped["id"];

  // Never sent again on its own; sent once more when the host asks.
  EXPECT_EQ(outbox({"outbox", "send"}, hostOf(*answering))["entries"][1]["state"], "unconfirmed");
  EXPECT_EQ(outbox({"outbox", "resend", id})["entries"][1]["state"], "queued");
  const Json sent = outbox({"outbox", "send"}, hostOf(*answering))["entries"][1];
  EXPECT_EQ(sent["state"], "delivered");
  EXPECT_EQ(sent["attempts"], 2);
  EXPECT_EQ(answering->reportCount(), 2U);

  EXPECT_EQ(outbox({"outbox", "discard", id})["entries"].size(), 1U);
  outbox({"outbox", "discard", id}, {}, 2);  // an unknown id is a usage error
  outbox({"outbox", "resend", "nonsense"}, {}, 2);
  const Json listed = outbox({"outbox", "list"});
  ASSERT_EQ(listed["entries"].size(), 1U);
  EXPECT_EQ(listed["entries"][0]["id"], delivered["id"]);
}

// The data directory is the host's: one that others can enter is refused and
// left exactly as it is (even by a read-only command), and a missing one is
// not made by listing it.
TEST_F(FeedbackToolTest, OutboxNeverTakesOverTheDataDirectory) {
  const std::string open = scratch_ / "open";
  ASSERT_EQ(::mkdir(open.c_str(), 0700) | ::chmod(open.c_str(), 0755), 0);
  for (const char* action : {"list", "send"}) {
    const ToolRun refused = run({"outbox", action, "--data-dir", open, "--json"});
    EXPECT_EQ(refused.status, 1) << action;
    EXPECT_EQ(refused.json()["error"]["domain"], "OrbisgroveFeedbackErrorDomain") << action;
  }
  EXPECT_EQ(std::filesystem::status(open).permissions(), std::filesystem::perms{0755});
  EXPECT_TRUE(std::filesystem::is_empty(open));
  EXPECT_EQ(run({"outbox", "list", "--data-dir", scratch_ / "missing/data", "--json"}).json()["entries"],
            Json::array());
  EXPECT_FALSE(std::filesystem::exists(scratch_ / "missing"));
}

}  // namespace
}  // namespace orbisgrove::tools
