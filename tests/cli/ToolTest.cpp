// orbisgrove-feedback as a person or a script drives it: a child process
// against the reference service, judged by its output and exit status.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>
#include <reference_service/ReferenceService.hpp>

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

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

std::string contents(const fs::path& path) {
  std::ostringstream text;
  text << std::ifstream(path).rdbuf();
  return text.str();
}

std::string quoted(const std::string& text) {
  std::string result = "'";
  for (const char c : text) result += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return result + "'";
}

class ToolTest : public ::testing::Test {
 protected:
  void TearDown() override { fs::remove_all(scratch_); }

  void startService(std::size_t submissionsPerInterval = 30) {
    orbisgrove::tools::ReferenceServiceOptions options;
    options.submissionsPerInterval = submissionsPerInterval;
    options.rateInterval = std::chrono::hours(1);
    service_ = std::make_unique<orbisgrove::tools::ReferenceService>(options);
    service_->start();
  }

  // Runs the tool with TMPDIR in this test's scratch directory (so the device
  // cache is the test's own); `toService` adds the reference service's host
  // and CA.
  ToolRun run(std::vector<std::string> arguments, bool toService = false) const {
    if (toService) {
      arguments.insert(arguments.end(), {"--host", service_->hostAndPort(), "--cacert", service_->caCertificateFile()});
    }
    std::string command = "env TMPDIR=" + quoted(scratch_.string()) + " LC_ALL=C TZ=UTC " + quoted(ORBISGROVE_TOOL);
    for (const std::string& argument : arguments) command += " " + quoted(argument);
    command += " >" + quoted((scratch_ / "out").string()) + " 2>" + quoted((scratch_ / "err").string());
    const int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, contents(scratch_ / "out"), contents(scratch_ / "err")};
  }

  ToolRun submit(const std::string& parent, const std::string& child) const {
    return run({"submit", "--lat", "52.52", "--lon", "13.405", "--parent", parent, "--child", child, "--description",
                "Gate & barrier * closed", "--bundle-id", "com.example.maps", "--json"},
               true);
  }

  fs::path scratch_ = [] {
    std::string pattern = (fs::temp_directory_path() / "orbisgrove-tool-test-XXXXXX").string();
    return fs::path(mkdtemp(pattern.data()) ? pattern : throw std::runtime_error("mkdtemp failed"));
  }();
  std::unique_ptr<orbisgrove::tools::ReferenceService> service_;
};

TEST_F(ToolTest, CategoriesComeFromTheServiceThenFromTheDeviceCache) {
  startService();
  const ToolRun first = run({"categories", "--json"}, true);
  ASSERT_EQ(first.status, 0) << first.err;
  const Json fromService = first.json();
  EXPECT_EQ(fromService["source"], "service");
  ASSERT_GT(fromService["categories"].size(), 10u);
  EXPECT_EQ(fromService["categories"][0].size(), 4u);
  // The kit's console line (the cache path) goes to standard error only.
  EXPECT_NE(first.err.find("orbisgroveReportCategories.plist"), std::string::npos);

  const ToolRun second = run({"categories", "--json"}, true);
  ASSERT_EQ(second.status, 0) << second.err;
  EXPECT_EQ(second.json()["source"], "cache");
  EXPECT_EQ(second.json()["categories"], fromService["categories"]);

  const ToolRun forPeople = run({"categories"});
  EXPECT_EQ(forPeople.status, 0);
  EXPECT_NE(forPeople.out.find("device cache"), std::string::npos) << forPeople.out;
  EXPECT_NE(forPeople.out.find("└─"), std::string::npos) << forPeople.out;
}

TEST_F(ToolTest, SubmitCreatesAReportThenShowsTheRateLimitRefusal) {
  startService(1);
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
  const std::string reason = error["userInfo"]["NSLocalizedFailureReason"];
  EXPECT_EQ(reason.rfind("More than 1 requests have been made with this access token within a period of ", 0), 0u)
      << reason;
  const std::string suggestion = error["userInfo"]["NSLocalizedRecoverySuggestion"];
  EXPECT_EQ(suggestion.rfind("Wait until ", 0), 0u) << suggestion;
}

TEST_F(ToolTest, UsageErrorsExitWithTwo) {
  const std::vector<std::vector<std::string>> usageErrors = {
      {}, {"launch"}, {"categories", "--host"}, {"categories", "--host", "https://x"}, {"submit", "--lat", "north"}};
  for (const auto& arguments : usageErrors) EXPECT_EQ(run(arguments).status, 2) << arguments.size();
  startService();
  const ToolRun unknownCategory = submit("1", "999");
  EXPECT_EQ(unknownCategory.status, 2);
  EXPECT_NE(unknownCategory.err.find("999"), std::string::npos);
  EXPECT_TRUE(unknownCategory.out.empty());
}

}  // namespace
