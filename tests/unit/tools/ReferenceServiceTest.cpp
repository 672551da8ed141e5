// The reference service itself, over verified HTTPS: the categories, saved
// reports, refusals in the error envelope, the rate limit, and its life.
// (Real runs of `orbisgrove-feedback serve`: examples/ and the consumers.)
#include "TestPrelude.hpp"

#include <httplib.h>

#include <nlohmann/json.hpp>
#include <reference_service/ReferenceService.hpp>

#include "ReportForms.hpp"
#include "ScratchFiles.hpp"

namespace orbisgrove::tools {
namespace {

using Json = nlohmann::json;
using orbisgrove::testing::kCategoriesBody;
using orbisgrove::testing::kFormContentType;
using orbisgrove::testing::ReportText;
using orbisgrove::testing::saveBody;

constexpr const char* kPath = "/explore-api/v1.2/";
// 2023-11-14 22:13:20 UTC; with 60-second windows this one ends at ...40.
constexpr long long kStartTime = 1700000000;

Json envelope(const char* status, const char* message) {
  return {{"response", status}, {"data", {{{"error", {message}}}}}};
}

class ReferenceServiceTest : public ::testing::Test {
 protected:
  void start(ReferenceServiceOptions options = {}) {
    options.clock = [now = now_] { return std::chrono::system_clock::time_point(std::chrono::seconds(now->load())); };
    service_ = std::make_unique<ReferenceService>(std::move(options));
    service_->start();
    connect();
  }

  void connect() {
    client_ = std::make_unique<httplib::SSLClient>("127.0.0.1", service_->port());
    client_->set_ca_cert_path(service_->caCertificateFile().c_str());
    client_->enable_server_certificate_verification(true);
    client_->set_connection_timeout(std::chrono::seconds(5));
    client_->set_read_timeout(std::chrono::seconds(5));
  }

  httplib::Result post(const std::string& body, const char* contentType = kFormContentType) {
    return client_->Post(kPath, body, contentType);
  }

  static Json json(const httplib::Result& result) { return result ? Json::parse(result->body) : Json(); }

  // Destroyed in reverse: the client before the service.
  orbisgrove::testing::ScratchDirectory scratch_{"orbisgrove-refsvc-test"};
  std::shared_ptr<std::atomic<long long>> now_ = std::make_shared<std::atomic<long long>>(kStartTime);
  std::unique_ptr<ReferenceService> service_;
  std::unique_ptr<httplib::SSLClient> client_;
};

TEST_F(ReferenceServiceTest, CategoriesFormATwoLevelTree) {
  start();
  const auto result = post(kCategoriesBody);
  ASSERT_TRUE(result) << httplib::to_string(result.error());
  EXPECT_EQ(result->status, 200);
  EXPECT_NE(result->get_header_value("Content-Type").find("application/json"), std::string::npos);
  const Json reply = json(result);
  EXPECT_EQ(reply.at("response"), "201");
  std::set<std::string> ids;
  std::set<std::string> parents;
  // The record's fields and their types are the kit's to check (tests/cli);
  // the tree is the service's.
  for (const Json& category : reply.at("data")) {
    EXPECT_TRUE(ids.insert(category["reportId"].get<std::string>()).second) << "repeated id " << category;
    if (category["parentId"] == "0") parents.insert(category["reportId"].get<std::string>());
  }
  // Every other category is a sub-category of a top-level one.
  for (const Json& category : reply.at("data")) {
    EXPECT_TRUE(category["parentId"] == "0" || parents.count(category["parentId"]) == 1) << category;
  }
  EXPECT_GE(parents.size(), 10u);
  EXPECT_GT(ids.size(), 2 * parents.size());
  EXPECT_EQ(post(kCategoriesBody)->body, result->body);
}

TEST_F(ReferenceServiceTest, SaveRepliesWithTheRecordAndKeepsTheReportAcrossRestarts) {
  ReferenceServiceOptions options;
  options.storeFile = scratch_ / "reports.jsonl";
  start(options);
  const auto first = post(saveBody(ReportText().set(6, "Gate locked & chained"), std::string("m-1")));
  ASSERT_TRUE(first);
  ASSERT_EQ(first->status, 200) << first->body;
  const Json data = json(first).at("data");
  const std::string id = data.at("id").get<std::string>();
  EXPECT_EQ(data, (Json{{"dataCount", 1},
                        {"name", "Road closed permanently"},
                        {"exist", 1},
                        {"id", id},
                        {"listId", 1},
                        {"time", "2023-11-14 22:13:20"},
                        {"url", "https://" + service_->hostAndPort() + "/explore-api/v1.2/reports/" + id}}));
  // Written and flushed by the time the reply arrives.
  std::string line;
  std::getline(std::ifstream(options.storeFile), line);
  EXPECT_EQ(Json::parse(line)["description"], "Gate locked & chained");

  const Json second = json(post(saveBody(ReportText().set(13, "Traffic signs-7").set(14, "Sign missing-701"))));
  EXPECT_EQ(second["data"]["dataCount"], 2);
  EXPECT_EQ(second["data"]["listId"], 7);
  EXPECT_EQ(second["data"]["name"], "Sign missing");
  EXPECT_NE(second["data"]["id"], id);

  const StoredReport stored = service_->reports().front();
  EXPECT_EQ(stored.client, "127.0.0.1");
  EXPECT_EQ(stored.receivedAt, kStartTime);
  EXPECT_EQ(stored.submitted.moduleId, "m-1");
  // The url of the record leads back to the report.
  const auto readBack = client_->Get(("/explore-api/v1.2/reports/" + id).c_str());
  ASSERT_TRUE(readBack);
  EXPECT_EQ(readBack->status, 200);
  EXPECT_EQ(json(readBack)["data"]["description"], "Gate locked & chained");
  EXPECT_EQ(client_->Get("/explore-api/v1.2/reports/999")->status, 404);

  client_.reset();
  service_.reset();
  start(options);
  EXPECT_EQ(service_->reportCount(), 2u);
  EXPECT_EQ(json(post(saveBody()))["data"]["id"], "3");
}

TEST_F(ReferenceServiceTest, FailuresComeInTheErrorEnvelope) {
  start();
  EXPECT_EQ(json(post(saveBody(ReportText().joined(), std::nullopt, "tV3nQe8LpZk2RwXa0MfYc7HsJd9x"))),
            envelope("401", "The key is not valid."));
  EXPECT_EQ(json(post(saveBody(), "text/plain")),
            envelope("400", "Content-Type must be application/x-www-form-urlencoded."));
  EXPECT_EQ(service_->reportCount(), 0u);
  EXPECT_EQ(post(saveBody(), "Application/X-WWW-Form-Urlencoded; charset=utf-8")->status, 200);

  // Errors the HTTP layer raises itself come in the envelope too.
  const auto expectRefusal = [](const httplib::Result& result, int status) {
    ASSERT_TRUE(result) << status;
    EXPECT_EQ(result->status, status);
    EXPECT_EQ(json(result)["response"], std::to_string(status));
  };
  expectRefusal(client_->Post("/explore-api/v1.3/", kCategoriesBody, kFormContentType), 404);
  expectRefusal(client_->Put(kPath, kCategoriesBody, kFormContentType), 405);
  expectRefusal(post(saveBody(ReportText().set(6, std::string(2 << 20, 'x')))), 413);
  const auto get = client_->Get(kPath);
  expectRefusal(get, 405);
  EXPECT_EQ(get->get_header_value("Allow"), "POST");
}

TEST_F(ReferenceServiceTest, RateLimitRefusesExcessSubmissionsUntilTheWindowEnds) {
  ReferenceServiceOptions options;
  options.submissionsPerInterval = 3;
  options.rateInterval = std::chrono::seconds(60);
  start(options);
  for (int i = 0; i < 3; ++i) ASSERT_EQ(post(saveBody())->status, 200) << i;

  *now_ += 39;  // 22:13:59, still the window that ends at kStartTime + 40
  const auto refused = post(saveBody());
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->status, 429);
  EXPECT_EQ(json(refused), envelope("429", "Too many requests."));
  EXPECT_EQ(refused->get_header_value("X-Rate-Limit-Limit"), "3");
  EXPECT_EQ(refused->get_header_value("X-Rate-Limit-Interval"), "60");
  EXPECT_EQ(refused->get_header_value("X-Rate-Limit-Reset"), std::to_string(kStartTime + 40));
  // Only submissions are limited, and a refused one is not counted.
  EXPECT_EQ(post(kCategoriesBody)->status, 200);

  *now_ += 1;
  const auto accepted = post(saveBody());
  EXPECT_FALSE(accepted->has_header("X-Rate-Limit-Limit"));
  EXPECT_EQ(json(accepted)["data"]["dataCount"], 4);
}

TEST_F(ReferenceServiceTest, StopsPromptlyRestartsAndRemovesItsPrivateCertificateDirectory) {
  start();
  EXPECT_EQ(service_->serviceUrl(), "https://127.0.0.1:" + std::to_string(service_->port()) + "/explore-api/v1.2/");
  const std::filesystem::path ca = service_->caCertificateFile();
  EXPECT_EQ(std::filesystem::status(ca.parent_path()).permissions() & std::filesystem::perms::group_all,
            std::filesystem::perms::none);
  // A client's kept-alive connection does not hold up stop(), and the
  // service can start again afterwards.
  ASSERT_EQ(post(kCategoriesBody)->status, 200);
  const auto before = std::chrono::steady_clock::now();
  service_->stop();
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(4));
  EXPECT_FALSE(service_->isRunning());
  EXPECT_NO_THROW(service_->stop());
  service_->start();
  connect();
  EXPECT_EQ(post(kCategoriesBody)->status, 200);
  client_.reset();
  service_.reset();
  EXPECT_FALSE(std::filesystem::exists(ca.parent_path()));
}

}  // namespace
}  // namespace orbisgrove::tools
