// orbisgrove-feedback as a person or a script drives it: a child process
// against the reference service, judged by its output and exit status.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <reference_service/ReferenceService.hpp>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

struct ToolRun {
  int status = -1;
  std::string out;
  std::string err;
};

class ToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    scratch_ = fs::temp_directory_path() / ("orbisgrove-tool-test-" + std::to_string(::getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(scratch_);
    fs::create_directories(scratch_);
  }
  void TearDown() override { fs::remove_all(scratch_); }

  void startService(std::size_t submissionsPerInterval = 30) {
    orbisgrove::tools::ReferenceServiceOptions options;
    options.submissionsPerInterval = submissionsPerInterval;
    options.rateInterval = std::chrono::hours(1);
    service_ = std::make_unique<orbisgrove::tools::ReferenceService>(options);
    service_->start();
  }

  std::vector<std::string> serviceArguments() const {
    return {"--host", service_->hostAndPort(), "--cacert", service_->caCertificateFile()};
  }

  // Runs the tool with TMPDIR pointing into this test's scratch directory.
  ToolRun run(const std::vector<std::string>& arguments) const {
    const auto quoted = [](const std::string& text) {
      std::string result = "'";
      for (const char c : text) result += c == '\'' ? std::string("'\\''") : std::string(1, c);
      return result + "'";
    };
    std::string command = "env TMPDIR=" + quoted(scratch_.string()) + " LC_ALL=C TZ=UTC " + quoted(ORBISGROVE_TOOL);
    for (const std::string& argument : arguments) command += " " + quoted(argument);
    command += " >" + quoted((scratch_ / "out").string()) + " 2>" + quoted((scratch_ / "err").string());
    const int status = std::system(command.c_str());
    const auto contents = [](const fs::path& path) {
      std::ostringstream text;
      text << std::ifstream(path).rdbuf();
      return text.str();
    };
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, contents(scratch_ / "out"), contents(scratch_ / "err")};
  }

  static nlohmann::json json(const ToolRun& run) {
    auto document = nlohmann::json::parse(run.out, nullptr, false);
    EXPECT_FALSE(document.is_discarded()) << "standard output is not one JSON document: " << run.out << "\n" << run.err;
    return document.is_discarded() ? nlohmann::json() : document;
  }

  std::vector<std::string> submitArguments(const std::string& parent, const std::string& child) const {
    auto arguments = serviceArguments();
    arguments.insert(arguments.begin(),
                     {"submit", "--lat", "52.52", "--lon", "13.405", "--parent", parent, "--child", child,
                      "--description", "Gate & barrier * closed", "--bundle-id", "com.example.maps", "--json"});
    return arguments;
  }

  fs::path scratch_;
  std::unique_ptr<orbisgrove::tools::ReferenceService> service_;
};

TEST_F(ToolTest, CategoriesComeFromTheServiceThenFromTheDeviceCache) {
  startService();
  auto arguments = serviceArguments();
  arguments.insert(arguments.begin(), "categories");
  arguments.push_back("--json");

  const ToolRun first = run(arguments);
  ASSERT_EQ(first.status, 0) << first.err;
  const auto fromService = json(first);
  EXPECT_EQ(fromService["source"], "service");
  ASSERT_GT(fromService["categories"].size(), 10u);
  EXPECT_EQ(fromService["categories"][0].size(), 4u);
  // The kit's console line (the cache path) goes to standard error only.
  EXPECT_NE(first.err.find("orbisgroveReportCategories.plist"), std::string::npos);

  const ToolRun second = run(arguments);
  ASSERT_EQ(second.status, 0) << second.err;
  const auto fromCache = json(second);
  EXPECT_EQ(fromCache["source"], "cache");
  EXPECT_EQ(fromCache["categories"], fromService["categories"]);

  const ToolRun forPeople = run({"categories"});
  EXPECT_EQ(forPeople.status, 0);
  EXPECT_NE(forPeople.out.find("device cache"), std::string::npos) << forPeople.out;
  EXPECT_NE(forPeople.out.find("└─"), std::string::npos) << forPeople.out;
}

TEST_F(ToolTest, SubmitCreatesAReportThenShowsTheRateLimitRefusal) {
  startService(1);
  const ToolRun saved = run(submitArguments("1", "101"));
  ASSERT_EQ(saved.status, 0) << saved.out << saved.err;
  const auto record = json(saved)["record"];
  EXPECT_TRUE(record.size() == 7 && record["dataCount"] == 1 && record["id"].is_string()) << record;
  ASSERT_EQ(service_->reportCount(), 1u);
  EXPECT_EQ(service_->reports()[0].submitted.description, "Gate & barrier * closed");

  const ToolRun refused = run(submitArguments("1", "101"));
  EXPECT_EQ(refused.status, 1);
  const auto error = json(refused)["error"];
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
  const ToolRun unknownCategory = run(submitArguments("1", "999"));
  EXPECT_EQ(unknownCategory.status, 2);
  EXPECT_NE(unknownCategory.err.find("999"), std::string::npos);
  EXPECT_TRUE(unknownCategory.out.empty());
}

}  // namespace
