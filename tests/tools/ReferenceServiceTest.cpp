// The reference service over real HTTPS, with certificate verification on.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>
#include <reference_service/ReferenceService.hpp>

#include "ReportBodies.hpp"

namespace orbisgrove::tools {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using testing::kCategoriesBody;
using testing::kFormContentType;
using testing::ReportText;
using testing::saveBody;
using Json = nlohmann::json;

constexpr const char* kPath = "/explore-api/v1.2/";
// 2023-11-14 22:13:20 UTC; with 60-second windows this one ends at ...40.
constexpr long long kStartTime = 1700000000;

class ReferenceServiceTest : public ::testing::Test {
 protected:
  void TearDown() override {
    client_.reset();
    service_.reset();
    if (!scratch_.empty()) std::filesystem::remove_all(scratch_);
  }

  void start(ReferenceServiceOptions options = {}) {
    options.clock = [now = now_] { return std::chrono::system_clock::time_point(std::chrono::seconds(now->load())); };
    service_ = std::make_unique<ReferenceService>(std::move(options));
    service_->start();
    client_ = makeClient();
  }

  std::unique_ptr<httplib::SSLClient> makeClient() const {
    auto client = std::make_unique<httplib::SSLClient>("127.0.0.1", service_->port());
    client->set_ca_cert_path(service_->caCertificateFile().c_str());
    client->enable_server_certificate_verification(true);
    client->set_connection_timeout(std::chrono::seconds(5));
    client->set_read_timeout(std::chrono::seconds(5));
    return client;
  }

  httplib::Result post(const std::string& body, const char* contentType = kFormContentType) {
    return client_->Post(kPath, body, contentType);
  }

  static Json json(const httplib::Result& result) { return Json::parse(result->body); }

  static std::vector<std::string> errorMessages(const httplib::Result& result) {
    const Json reply = json(result);
    return reply.at("data").at(0).at("error").get<std::vector<std::string>>();
  }

  std::string scratchFile(const std::string& name) {
    if (scratch_.empty()) {
      char pattern[] = "/tmp/orbisgrove-refsvc-test-XXXXXX";
      if (mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
      scratch_ = pattern;
    }
    return scratch_ + "/" + name;
  }

  std::shared_ptr<std::atomic<long long>> now_ = std::make_shared<std::atomic<long long>>(kStartTime);
  std::unique_ptr<ReferenceService> service_;
  std::unique_ptr<httplib::SSLClient> client_;
  std::string scratch_;
};

TEST_F(ReferenceServiceTest, CategoriesFormATwoLevelTree) {
  start();
  const auto result = post(kCategoriesBody);
  ASSERT_TRUE(result) << httplib::to_string(result.error());
  EXPECT_EQ(result->status, 200);
  EXPECT_THAT(result->get_header_value("Content-Type"), HasSubstr("application/json"));
  const Json reply = json(result);
  EXPECT_EQ(reply.at("response"), "201");
  const Json& data = reply.at("data");
  ASSERT_TRUE(data.is_array());

  std::map<std::string, int> childrenOf;
  std::set<std::string> ids;
  for (const Json& category : data) {
    ASSERT_EQ(category.size(), 4u) << category;
    ASSERT_TRUE(category.at("reportId").is_string() && category.at("reportName").is_string() &&
                category.at("parentId").is_string() && category.at("created").is_number_integer())
        << category;
    EXPECT_TRUE(ids.insert(category["reportId"].get<std::string>()).second) << "repeated id " << category;
    EXPECT_GT(category["created"].get<long long>(), 1600000000);
    if (category["parentId"] == "0") childrenOf.emplace(category["reportId"], 0);
  }
  for (const Json& category : data) {
    if (category["parentId"] == "0") continue;
    const auto parent = childrenOf.find(category["parentId"]);
    ASSERT_NE(parent, childrenOf.end()) << "no parent for " << category;
    ++parent->second;
  }
  EXPECT_GE(childrenOf.size(), 10u);
  for (const auto& [parent, count] : childrenOf) {
    EXPECT_GE(count, 2) << parent;
    EXPECT_LE(count, 5) << parent;
  }
  EXPECT_EQ(post(kCategoriesBody)->body, result->body);
}

TEST_F(ReferenceServiceTest, SaveRepliesWithTheRecordAndKeepsTheReport) {
  start();
  const auto first = post(saveBody(ReportText().set(6, "Gate locked since Monday")));
  ASSERT_TRUE(first);
  ASSERT_EQ(first->status, 200) << first->body;
  const Json reply = json(first);
  EXPECT_EQ(reply.at("response"), "201");
  const Json& data = reply.at("data");
  EXPECT_EQ(data.at("dataCount"), 1);
  EXPECT_EQ(data.at("name"), "Road closed permanently");
  EXPECT_EQ(data.at("exist"), 1);
  EXPECT_TRUE(data.at("listId").is_number_integer());
  EXPECT_EQ(data.at("listId"), 1);
  EXPECT_EQ(data.at("time"), "2023-11-14 22:13:20");
  const std::string id = data.at("id").get<std::string>();
  EXPECT_EQ(data.at("url"), "https://" + service_->hostAndPort() + "/explore-api/v1.2/reports/" + id);

  ReportText other;
  other.set(13, "Traffic signs-7").set(14, "Sign missing-701");
  const Json second = json(post(saveBody(other)));
  EXPECT_EQ(second["data"]["dataCount"], 2);
  EXPECT_EQ(second["data"]["listId"], 7);
  EXPECT_EQ(second["data"]["name"], "Sign missing");
  EXPECT_NE(second["data"]["id"], id);

  ASSERT_EQ(service_->reportCount(), 2u);
  const StoredReport stored = service_->reports().front();
  EXPECT_EQ(stored.id, id);
  EXPECT_EQ(stored.client, "127.0.0.1");
  EXPECT_EQ(stored.receivedAt, kStartTime);
  EXPECT_DOUBLE_EQ(stored.submitted.latitude, 28.5);
  EXPECT_DOUBLE_EQ(stored.submitted.longitude, 77.25);
  EXPECT_EQ(stored.submitted.description, "Gate locked since Monday");
  EXPECT_EQ(stored.submitted.applicationId, "com.example.maps");
  EXPECT_EQ(stored.submitted.parentCategory.name, "Road closed or blocked");
  EXPECT_EQ(stored.submitted.childCategory.id, "101");

  // The url of the record leads back to the report.
  const auto readBack = client_->Get(("/explore-api/v1.2/reports/" + id).c_str());
  ASSERT_TRUE(readBack);
  EXPECT_EQ(readBack->status, 200);
  EXPECT_EQ(json(readBack)["data"]["description"], "Gate locked since Monday");
  const auto missing = client_->Get("/explore-api/v1.2/reports/999");
  EXPECT_EQ(missing->status, 404);
  EXPECT_EQ(json(missing)["response"], "404");
}

TEST_F(ReferenceServiceTest, StoreFileGetsOneJsonLinePerReportAndCarriesOverRestarts) {
  ReferenceServiceOptions options;
  options.storeFile = scratchFile("reports.jsonl");
  start(options);
  ASSERT_EQ(post(saveBody(ReportText().set(6, "first")))->status, 200);
  // Written and flushed by the time the reply arrives.
  ASSERT_EQ(post(saveBody(ReportText().set(6, "second & more"), std::string("m-1")))->status, 200);

  std::vector<Json> lines;
  {
    std::ifstream in(options.storeFile);
    for (std::string line; std::getline(in, line);) lines.push_back(Json::parse(line));
  }
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0]["id"], "1");
  EXPECT_EQ(lines[0]["moduleId"], nullptr);
  EXPECT_EQ(lines[1]["description"], "second & more");
  EXPECT_EQ(lines[1]["moduleId"], "m-1");
  EXPECT_EQ(lines[1]["parentCategory"], (Json{{"name", "Road closed or blocked"}, {"id", "1"}}));
  EXPECT_EQ(lines[1]["reportText"], ReportText().set(6, "second & more").joined());
  for (const char* key :
       {"time", "receivedAt", "client", "categoryName", "latitude", "longitude", "applicationId", "childCategory"}) {
    EXPECT_TRUE(lines[1].contains(key)) << key;
  }

  client_.reset();
  service_.reset();
  start(options);
  EXPECT_EQ(service_->reportCount(), 2u);
  const Json third = json(post(saveBody()));
  EXPECT_EQ(third["data"]["dataCount"], 3);
  EXPECT_EQ(third["data"]["id"], "3");
}

TEST_F(ReferenceServiceTest, DescriptionAndModuleIdArriveUnchanged) {
  start();
  struct Case {
    std::string description;
    std::optional<std::string> moduleId;
  };
  const std::vector<Case> cases = {
      {"a & b = c * d", std::nullopt},
      {"key=x&apptype=web&val=1*2*3", std::string("module 9")},
      {"ends with&module_id=fake", std::string("real")},
      {"*leading and trailing*", std::string()},
  };
  for (const Case& c : cases) {
    const ReportText text = ReportText().set(6, c.description);
    const auto result = post(saveBody(text, c.moduleId));
    ASSERT_EQ(result->status, 200) << c.description << ": " << result->body;
    const StoredReport stored = service_->reports().back();
    EXPECT_EQ(stored.submitted.description, c.description);
    EXPECT_EQ(stored.submitted.moduleId, c.moduleId) << c.description;
    EXPECT_EQ(stored.submitted.reportText, text.joined());
  }
}

TEST_F(ReferenceServiceTest, MalformedFormsNameEachProblem) {
  start();
  struct Case {
    std::string body;
    std::vector<std::string> messages;
  };
  const std::string key = "&key=tV3nQe8LpZk2RwXa0MfYc7HsJd9=";
  const std::vector<Case> cases = {
      {saveBody("1*2*3"), {"Field val must have 15 fields separated by \"*\"."}},
      {saveBody(ReportText().set(1, "Point on map")), {"Field 1 of val must be \"Point on Map\"."}},
      {saveBody(ReportText().set(4, "91")), {"Latitude must be a number between -90 and 90."}},
      {saveBody(ReportText().set(6, "")), {"Field 6 of val (description) must not be empty."}},
      {saveBody(ReportText().set(15, "com.other")), {"Fields 8 and 15 of val (application identifier) must be equal."}},
      {saveBody(ReportText().set(13, "Nowhere-99")), {"Unknown parent category \"99\"."}},
      {saveBody(ReportText().set(14, "Nothing-9999")), {"Unknown child category \"9999\"."}},
      {saveBody(ReportText().set(13, "-").set(14, "-")),
       {"Field 13 of val (parent category) names no category.", "Field 14 of val (child category) names no category."}},
      {saveBody(ReportText().set(13, "Road closed or blocked 1")),
       {"Field 13 of val (parent category) must have the form <name>-<id>."}},
      {saveBody(ReportText().set(14, "Sign missing-701")), {"Category \"701\" is not a subcategory of \"1\"."}},
      {saveBody(ReportText().set(13, "Sign missing-701").set(14, "Traffic signs-7")),
       {"Category \"701\" is not a top-level category.", "Category \"7\" is a top-level category, not a subcategory."}},
      {"q=712&layer=satellite&client=105" + key + "&apptype=web&val=401*401*401",
       {"Field layer must be \"explore\".", "Field client must be \"104\".", "Field apptype must be \"native\"."}},
      {"q=712&layer=explore&client=104" + key + "&val=401*401*401", {"Field apptype is missing."}},
      {"q=712&layer=explore&client=104" + key + "&apptype=native&val=401*401", {"Field val must be \"401*401*401\"."}},
      {std::string(kCategoriesBody) + "&module_id=3", {"Field module_id is not accepted by operation 712."}},
      // Several problems at once, in the order of the form.
      {"q=705&layer=explore&client=104" + key +
           "&apptype=native&val=" + ReportText().set(2, "x").set(4, "-100").set(13, "P-55").set(8, "a").joined(),
       {"Field 2 of val must be \"401\".", "Latitude must be a number between -90 and 90.",
        "Unknown parent category \"55\".", "Fields 8 and 15 of val (application identifier) must be equal."}},
  };
  for (const Case& c : cases) {
    const auto result = post(c.body);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 400) << c.body;
    EXPECT_EQ(json(result)["response"], "400") << c.body;
    EXPECT_THAT(errorMessages(result), ElementsAreArray(c.messages)) << c.body;
  }
  EXPECT_EQ(service_->reportCount(), 0u);

  const auto wrongType = post(saveBody(), "text/plain");
  EXPECT_EQ(wrongType->status, 400);
  EXPECT_THAT(errorMessages(wrongType), ElementsAre("Content-Type must be application/x-www-form-urlencoded."));
  EXPECT_EQ(post(saveBody(), "Application/X-WWW-Form-Urlencoded; charset=utf-8")->status, 200);
}

TEST_F(ReferenceServiceTest, KeyOperationAndRoutingFailures) {
  start();
  const auto wrongKey = post(saveBody(ReportText().joined(), std::nullopt, "tV3nQe8LpZk2RwXa0MfYc7HsJd9x"));
  EXPECT_EQ(wrongKey->status, 401);
  EXPECT_EQ(json(wrongKey), (Json{{"response", "401"}, {"data", {{{"error", {"The key is not valid."}}}}}}));
  const auto noKey = post("q=712&layer=explore&client=104&apptype=native&val=401*401*401");
  EXPECT_EQ(noKey->status, 401);
  EXPECT_THAT(errorMessages(noKey), ElementsAre("The key is missing."));

  const auto unknownOperation =
      post("q=799&layer=explore&client=104&key=tV3nQe8LpZk2RwXa0MfYc7HsJd9=&apptype=native&val=1");
  EXPECT_EQ(unknownOperation->status, 400);
  EXPECT_THAT(errorMessages(unknownOperation), ElementsAre("Unknown operation \"799\"."));

  const auto otherPath = client_->Post("/explore-api/v1.3/", kCategoriesBody, kFormContentType);
  EXPECT_EQ(otherPath->status, 404);
  EXPECT_EQ(json(otherPath)["response"], "404");
  EXPECT_EQ(client_->Get("/")->status, 404);

  const auto get = client_->Get(kPath);
  EXPECT_EQ(get->status, 405);
  EXPECT_EQ(get->get_header_value("Allow"), "POST");
  EXPECT_EQ(json(get)["response"], "405");
  EXPECT_EQ(client_->Delete(kPath)->status, 405);
  EXPECT_EQ(client_->Put(kPath, kCategoriesBody, kFormContentType)->status, 405);

  // Errors the HTTP layer raises itself still come in the error envelope.
  const auto tooLarge = post(saveBody(ReportText().set(6, std::string(2 << 20, 'x'))));
  ASSERT_TRUE(tooLarge);
  EXPECT_EQ(tooLarge->status, 413);
  EXPECT_EQ(json(tooLarge)["response"], "413");
}

TEST_F(ReferenceServiceTest, ParallelSubmissionsGetDistinctIdsAndCounts) {
  ReferenceServiceOptions options;
  options.submissionsPerInterval = 1000;
  start(options);
  constexpr int kThreads = 4;
  constexpr int kEach = 6;
  std::vector<std::vector<Json>> replies(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      const auto client = makeClient();
      for (int i = 0; i < kEach; ++i) {
        const auto result = client->Post(kPath, saveBody(), kFormContentType);
        if (result && result->status == 200) replies[static_cast<std::size_t>(t)].push_back(json(result)["data"]);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();

  std::set<std::string> ids;
  std::set<long long> counts;
  for (const auto& perThread : replies) {
    EXPECT_EQ(perThread.size(), static_cast<std::size_t>(kEach));
    for (const Json& data : perThread) {
      ids.insert(data["id"].get<std::string>());
      counts.insert(data["dataCount"].get<long long>());
    }
  }
  EXPECT_EQ(ids.size(), static_cast<std::size_t>(kThreads * kEach));
  EXPECT_EQ(counts.size(), static_cast<std::size_t>(kThreads * kEach));
  EXPECT_EQ(*counts.rbegin(), kThreads * kEach);
  EXPECT_EQ(service_->reportCount(), static_cast<std::size_t>(kThreads * kEach));
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
  EXPECT_EQ(json(refused), (Json{{"response", "429"}, {"data", {{{"error", {"Too many requests."}}}}}}));
  EXPECT_EQ(refused->get_header_value("X-Rate-Limit-Limit"), "3");
  EXPECT_EQ(refused->get_header_value("X-Rate-Limit-Interval"), "60");
  EXPECT_EQ(refused->get_header_value("X-Rate-Limit-Reset"), std::to_string(kStartTime + 40));
  EXPECT_EQ(service_->reportCount(), 3u);
  // Only submissions are limited, and a refused one is not counted.
  EXPECT_EQ(post(kCategoriesBody)->status, 200);

  *now_ += 1;
  const auto accepted = post(saveBody());
  EXPECT_EQ(accepted->status, 200);
  EXPECT_FALSE(accepted->has_header("X-Rate-Limit-Limit"));
  EXPECT_EQ(json(accepted)["data"]["dataCount"], 4);
}

TEST_F(ReferenceServiceTest, LifecycleAndStartFailures) {
  start();
  const std::uint16_t port = service_->port();
  EXPECT_NE(port, 0);
  EXPECT_EQ(service_->hostAndPort(), "127.0.0.1:" + std::to_string(port));
  EXPECT_EQ(service_->serviceUrl(), "https://127.0.0.1:" + std::to_string(port) + "/explore-api/v1.2/");

  ReferenceServiceOptions samePort;
  samePort.port = port;
  ReferenceService second(samePort);
  try {
    second.start();
    ADD_FAILURE() << "a second service started on the same port";
  } catch (const std::runtime_error& e) {
    EXPECT_THAT(e.what(), HasSubstr("cannot listen on 127.0.0.1:" + std::to_string(port)));
  }
  EXPECT_FALSE(second.isRunning());

  ReferenceServiceOptions badStore;
  badStore.storeFile = scratchFile("missing-directory/reports.jsonl");
  EXPECT_THROW(ReferenceService(badStore).start(), std::runtime_error);
  ReferenceServiceOptions noLimit;
  noLimit.submissionsPerInterval = 0;
  EXPECT_THROW(ReferenceService(noLimit).start(), std::invalid_argument);

  // A client's kept-alive connection does not hold up stop(), and the
  // service can start again afterwards.
  ASSERT_EQ(post(kCategoriesBody)->status, 200);
  const auto before = std::chrono::steady_clock::now();
  service_->stop();
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(4));
  EXPECT_FALSE(service_->isRunning());
  EXPECT_NO_THROW(service_->stop());
}

TEST_F(ReferenceServiceTest, Ipv6AddressesAreBracketed) {
  ReferenceServiceOptions options;
  options.bindAddress = "::1";
  service_ = std::make_unique<ReferenceService>(options);
  try {
    service_->start();
  } catch (const std::runtime_error& e) {
    GTEST_SKIP() << "no IPv6 loopback here: " << e.what();
  }
  const std::string hostAndPort = "[::1]:" + std::to_string(service_->port());
  EXPECT_EQ(service_->hostAndPort(), hostAndPort);
  // By name: this client library's check of an IPv6 address against the
  // certificate reads past the certificate's IPv4 entries.
  httplib::SSLClient client("localhost", service_->port());
  client.set_hostname_addr_map({{"localhost", "::1"}});
  client.set_ca_cert_path(service_->caCertificateFile().c_str());
  client.enable_server_certificate_verification(true);
  const auto result = client.Post(kPath, saveBody(), kFormContentType);
  ASSERT_TRUE(result) << httplib::to_string(result.error());
  EXPECT_EQ(json(result)["data"]["url"], "https://" + hostAndPort + "/explore-api/v1.2/reports/1");
  EXPECT_EQ(service_->reports().at(0).client, "::1");
}

TEST_F(ReferenceServiceTest, PrivateCertificateDirectoryGoesWithTheService) {
  start();
  const std::filesystem::path ca = service_->caCertificateFile();
  ASSERT_TRUE(std::filesystem::exists(ca));
  EXPECT_EQ(std::filesystem::status(ca.parent_path()).permissions() & std::filesystem::perms::group_all,
            std::filesystem::perms::none);
  service_->stop();
  service_->start();
  client_ = makeClient();
  EXPECT_EQ(post(kCategoriesBody)->status, 200);
  client_.reset();
  service_.reset();
  EXPECT_FALSE(std::filesystem::exists(ca.parent_path()));
}

}  // namespace
}  // namespace orbisgrove::tools
