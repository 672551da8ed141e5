// The tool's outbox commands as a script drives them: JSON shapes, states and
// exit statuses, against reference services that answer or drop the
// connection after storing.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <reference_service/ReferenceService.hpp>

#include <array>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <sys/wait.h>

#include "OutboxTestSupport.hpp"

namespace orbisgrove::testing {
namespace {

using tools::ReferenceService;
using tools::ReferenceServiceOptions;

struct ToolRun {
  int status = -1;
  nlohmann::json out;
};

class OutboxToolTest : public ::testing::Test {
 protected:
  const std::string scratch = freshDirectory();
  ~OutboxToolTest() override { std::filesystem::remove_all(scratch); }

  static std::unique_ptr<ReferenceService> service(ReferenceServiceOptions::AfterStore afterStore) {
    ReferenceServiceOptions options;
    options.afterStore = afterStore;
    auto made = std::make_unique<ReferenceService>(options);
    made->start();
    return made;
  }

  ToolRun run(const std::string& arguments) const {
    const std::string command = "env TMPDIR=" + scratch + " " + ORBISGROVE_TOOL + " " + arguments + " --data-dir " +
                                scratch + "/data --json 2>/dev/null";
    FILE* pipe = ::popen(command.c_str(), "r");
    std::string text;
    std::array<char, 4096> buffer{};
    while (pipe != nullptr && std::fgets(buffer.data(), buffer.size(), pipe) != nullptr) text += buffer.data();
    const int status = pipe != nullptr ? ::pclose(pipe) : -1;
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, nlohmann::json::parse(text, nullptr, false)};
  }

  static std::string submitTo(const ReferenceService& to) {
    return "submit --lat 52.5 --lon 13.4 --parent 1 --child 101 --description tool --queue --host " + to.hostAndPort() +
           " --cacert " + to.caCertificateFile();
  }
};

TEST_F(OutboxToolTest, QueuedSubmissionsListResendAndDiscard) {
  const auto answering = service(ReferenceServiceOptions::AfterStore::reply);
  const auto dropping = service(ReferenceServiceOptions::AfterStore::failConnection);

  const ToolRun delivered = run(submitTo(*answering));
  ASSERT_EQ(delivered.status, 0);
  EXPECT_EQ(delivered.out["outbox"]["state"], "delivered");
  EXPECT_EQ(delivered.out["outbox"]["attempts"], 1);
  EXPECT_TRUE(delivered.out["outbox"]["record"].is_object());

  const ToolRun dropped = run(submitTo(*dropping));
  ASSERT_EQ(dropped.status, 0) << "stored, whatever the attempt gave";
  EXPECT_EQ(dropped.out["outbox"]["state"], "unconfirmed");
  EXPECT_TRUE(dropped.out["outbox"]["lastError"].is_object());
  EXPECT_EQ(dropping->reportCount(), 1U);
  const std::string id = dropped.out["outbox"]["id"];

  // Never sent again on its own; sent once more when the host asks.
  const std::string answeringHost =
      " --host " + answering->hostAndPort() + " --cacert " + answering->caCertificateFile();
  EXPECT_EQ(run("outbox send" + answeringHost).out["entries"][1]["state"], "unconfirmed");
  EXPECT_EQ(run("outbox resend " + id).out["entries"][1]["state"], "queued");
  const ToolRun sent = run("outbox send" + answeringHost);
  ASSERT_EQ(sent.status, 0);
  EXPECT_EQ(sent.out["entries"][1]["state"], "delivered");
  EXPECT_EQ(sent.out["entries"][1]["attempts"], 2);
  EXPECT_EQ(answering->reportCount(), 2U);

  EXPECT_EQ(run("outbox discard " + id).out["entries"].size(), 1U);
  EXPECT_EQ(run("outbox discard " + id).status, 2) << "an unknown id is a usage error";
  EXPECT_EQ(run("outbox resend nonsense").status, 2);
  const ToolRun listed = run("outbox list");
  ASSERT_EQ(listed.out["entries"].size(), 1U);
  EXPECT_EQ(listed.out["entries"][0]["id"], delivered.out["outbox"]["id"]);
}

}  // namespace
}  // namespace orbisgrove::testing
