// The tools: the reference service's form checking, rate-limit windows, store
// file and serve arguments, then the service itself over verified HTTPS; and
// orbisgrove-feedback as a person or a script drives it, a child process
// against the reference service judged by its output and exit status. (Real
// runs of `orbisgrove-feedback serve`: examples/ and the consumers.)
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <array>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>
#include <reference_service/RateLimiter.hpp>
#include <reference_service/ReferenceService.hpp>
#include <reference_service/ReportForm.hpp>
#include <reference_service/ReportStore.hpp>
#include <reference_service/ServeCommand.hpp>

#include "ScratchFiles.hpp"

namespace orbisgrove::tools {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using Json = nlohmann::json;

// Form bodies as the kit builds them.
constexpr const char* kCategoriesBody =
    "q=712&layer=explore&client=104&key=tV3nQe8LpZk2RwXa0MfYc7HsJd9=&apptype=native&val=401*401*401";
constexpr const char* kFormContentType = "application/x-www-form-urlencoded";

/// The 15 fields of a save request's report text, valid as they stand; tests
/// change the one they are about (fields are numbered from 1).
struct ReportText {
  std::array<std::string, 15> fields = {
      "Point on Map",     "401",    "401", "28.5", "77.25", "Barrier across the road",  "401",
      "com.example.maps", "native", "11",  "1",    "1",     "Road closed or blocked-1", "Road closed permanently-101",
      "com.example.maps"};

  ReportText& set(std::size_t number, std::string value) {
    fields[number - 1] = std::move(value);
    return *this;
  }

  std::string joined() const {
    std::string text = fields[0];
    for (std::size_t i = 1; i < fields.size(); ++i) text += "*" + fields[i];
    return text;
  }
};

std::string saveBody(const std::string& val, const std::optional<std::string>& moduleId = std::nullopt,
                     const std::string& key = "tV3nQe8LpZk2RwXa0MfYc7HsJd9=") {
  std::string body = "q=705&layer=explore&client=104&key=" + key + "&apptype=native&val=" + val;
  if (moduleId) body += "&module_id=" + *moduleId;
  return body;
}

std::string saveBody(const ReportText& text = {}, const std::optional<std::string>& moduleId = std::nullopt) {
  return saveBody(text.joined(), moduleId);
}

TEST(ReportFormSplitting, ValRunsToTheLastModuleIdAndKeepsFormCharacters) {
  FormFields plain = splitForm(saveBody("a&key=b=c*d"));
  EXPECT_THAT(plain.problems, IsEmpty());
  EXPECT_EQ(plain.key, "tV3nQe8LpZk2RwXa0MfYc7HsJd9=");
  EXPECT_EQ(plain.val, "a&key=b=c*d");
  EXPECT_EQ(plain.moduleId, std::nullopt);
  // A "&module_id=" inside the description survives when the real one follows.
  FormFields both = splitForm(saveBody("x&module_id=inner*y", std::string("outer")));
  EXPECT_EQ(both.val, "x&module_id=inner*y");
  EXPECT_EQ(both.moduleId, "outer");
  EXPECT_EQ(splitForm(saveBody("v", std::string())).moduleId, "");
  // "val=" inside another field's value does not start val.
  FormFields shifted = splitForm("q=712&layer=val=x&client=104&key=k&apptype=native&val=1");
  EXPECT_THAT(shifted.problems, IsEmpty());
  EXPECT_EQ(shifted.layer, "val=x");
  EXPECT_EQ(shifted.val, "1");

  EXPECT_THAT(splitForm("q=712&client=104&key=k&apptype=native&colour=red&val=1").problems,
              ElementsAre("Unknown field \"colour\".", "Field layer is missing."));
  EXPECT_THAT(splitForm("q=712&q=705&layer=explore&client=104&key=k&apptype=native&val=1").problems,
              ElementsAre("Field q appears more than once."));
  EXPECT_THAT(splitForm("layer=explore&q=712&client=104&key=k&apptype=native&val=1").problems,
              ElementsAre("Fields must come in the order q, layer, client, key, apptype, val."));
  EXPECT_THAT(splitForm("q=712&layer&client=104&key=k&apptype=native&module_id=3&val=1").problems,
              ElementsAre("Form piece \"layer\" is not of the form name=value.", "Field module_id must come after val.",
                          "Field layer is missing."));
}

TEST(ReportFormSplitting, DescriptionComesFromTheMiddleAndCategoriesSplitAtTheLastDash) {
  ReportText text;
  text.set(6, "one * two ** three*");
  const auto fields = splitReportText(text.joined());
  ASSERT_TRUE(fields.has_value());
  EXPECT_EQ((*fields)[4], "77.25");
  EXPECT_EQ((*fields)[5], "one * two ** three*");
  EXPECT_EQ((*fields)[6], "401");
  EXPECT_FALSE(splitReportText("1*2*3*4*5*6*7*8*9*10*11*12*13*14").has_value());

  const auto hyphenated = splitCategoryField("Give-way sign-703");
  ASSERT_TRUE(hyphenated.has_value());
  EXPECT_EQ(hyphenated->name, "Give-way sign");
  EXPECT_EQ(hyphenated->id, "703");
  EXPECT_EQ(splitCategoryField("-")->name, "");
  EXPECT_FALSE(splitCategoryField("Road closed 1").has_value());
}

TEST(ReportFormChecking, ValidSubmissionYieldsItsReport) {
  ReportText text;
  text.set(4, "-33.8688").set(5, "1e-05").set(6, "Caf\xC3\xA9 \xF0\x9F\x9A\xA7").set(8, "org.x").set(15, "org.x");
  const FormVerdict verdict = checkForm(saveBody(text, std::string("m7")));
  ASSERT_EQ(verdict.status, 200) << ::testing::PrintToString(verdict.messages);
  ASSERT_TRUE(verdict.report.has_value());
  EXPECT_EQ(verdict.operation, Operation::saveReport);
  EXPECT_DOUBLE_EQ(verdict.report->latitude, -33.8688);
  EXPECT_DOUBLE_EQ(verdict.report->longitude, 1e-05);
  EXPECT_EQ(verdict.report->applicationId, "org.x");
  EXPECT_EQ(verdict.report->parentCategory.id, "1");
  EXPECT_EQ(verdict.report->childCategory.name, "Road closed permanently");
  EXPECT_EQ(verdict.report->moduleId, "m7");
  EXPECT_EQ(verdict.report->reportText, text.joined());
  for (const char* good : {"90", "-90.0", "0.0", "-1.5E+01"}) {
    EXPECT_EQ(checkForm(saveBody(ReportText().set(4, good))).status, 200) << good;
  }
}

// All of a verdict's messages, joined with " | ".
std::string messagesOf(const std::string& body) {
  const FormVerdict verdict = checkForm(body);
  std::string joined = std::to_string(verdict.status) + ":";
  for (const std::string& message : verdict.messages) joined += " " + message + " |";
  return joined;
}

TEST(ReportFormChecking, EachProblemIsNamedInTheOrderOfTheForm) {
  // The key is checked before anything else.
  EXPECT_EQ(messagesOf(saveBody("garbage", std::nullopt, "AAAA")), "401: The key is not valid. |");
  EXPECT_EQ(messagesOf("q=705&val=x"), "401: The key is missing. |");

  const std::string latitude = "400: Latitude must be a number between -90 and 90. |";
  const std::string utf8 = "400: The form must be UTF-8 text. |";
  const std::vector<std::tuple<std::size_t, std::string, std::string>> oneField = {
      {1, "Point on map", "400: Field 1 of val must be \"Point on Map\". |"},
      {4, "90.5", latitude},
      {4, "nan", latitude},
      {4, "12,5", latitude},
      {4, "+10", latitude},
      {5, "180.01", "400: Longitude must be a number between -180 and 180. |"},
      {6, "", "400: Field 6 of val (description) must not be empty. |"},
      {6, "caf\xC3", utf8},
      {6, "\xED\xA0\x80", utf8},  // a surrogate
      {6, "\xC0\xAF", utf8},      // overlong "/"
      {15, "com.other", "400: Fields 8 and 15 of val (application identifier) must be equal. |"},
      {13, "Nowhere-99", "400: Unknown parent category \"99\". |"},
      {14, "Nothing-9999", "400: Unknown child category \"9999\". |"},
      {13, "Road closed 1", "400: Field 13 of val (parent category) must have the form <name>-<id>. |"},
      {14, "Sign missing-701", "400: Category \"701\" is not a subcategory of \"1\". |"},
  };
  for (const auto& [field, value, expected] : oneField) {
    EXPECT_EQ(messagesOf(saveBody(ReportText().set(field, value))), expected) << field << ": " << value;
  }

  const std::string key = "&key=tV3nQe8LpZk2RwXa0MfYc7HsJd9=";
  const std::vector<std::pair<std::string, std::string>> whole = {
      {"q=799&layer=explore&client=104" + key + "&apptype=native&val=1", "400: Unknown operation \"799\". |"},
      {saveBody("1*2*3"), "400: Field val must have 15 fields separated by \"*\". |"},
      {saveBody(ReportText().set(13, "-").set(14, "-")),
       "400: Field 13 of val (parent category) names no category. | Field 14 of val (child category) names no "
       "category. |"},
      {saveBody(ReportText().set(13, "Sign missing-701").set(14, "Traffic signs-7")),
       "400: Category \"701\" is not a top-level category. | Category \"7\" is a top-level category, not a "
       "subcategory. |"},
      {"q=712&layer=satellite&client=105" + key + "&apptype=web&val=401*401*401",
       "400: Field layer must be \"explore\". | Field client must be \"104\". | Field apptype must be \"native\". |"},
      {"q=712&layer=explore&client=104" + key + "&apptype=native&val=401*401",
       "400: Field val must be \"401*401*401\". |"},
      {std::string(kCategoriesBody) + "&module_id=3", "400: Field module_id is not accepted by operation 712. |"},
      {saveBody(ReportText().set(2, "x").set(4, "-100").set(13, "P-55").set(8, "a")),
       "400: Field 2 of val must be \"401\". | Latitude must be a number between -90 and 90. | Unknown parent "
       "category \"55\". | Fields 8 and 15 of val (application identifier) must be equal. |"},
  };
  for (const auto& [body, expected] : whole) EXPECT_EQ(messagesOf(body), expected) << body;
}

TEST(RateLimiterWindows, AreAlignedToTheEpochAndCountedPerClient) {
  using std::chrono::seconds;
  const auto at = [](long long unixSeconds) { return std::chrono::system_clock::time_point(seconds(unixSeconds)); };
  FixedWindowRateLimiter limiter(2, seconds(60));
  EXPECT_EQ(limiter.windowEnd(at(119)), 120);
  EXPECT_EQ(limiter.windowEnd(at(120)), 180);

  limiter.record("a", at(125));
  EXPECT_TRUE(limiter.allows("a", at(126)));
  limiter.record("a", at(126));
  EXPECT_FALSE(limiter.allows("a", at(179)));
  EXPECT_TRUE(limiter.allows("b", at(179)));
  EXPECT_TRUE(limiter.allows("a", at(180)));
  EXPECT_THROW(FixedWindowRateLimiter(0, seconds(60)), std::invalid_argument);
  EXPECT_THROW(FixedWindowRateLimiter(1, seconds(0)), std::invalid_argument);
}

TEST(ReportStoreFile, ReadsBackAfterALostNewlineAndBadFilesStopTheStart) {
  const orbisgrove::testing::ScratchDirectory scratch("orbisgrove-store-test");
  const std::string file = scratch / "reports.jsonl";
  StoredReport report;
  report.submitted = *checkForm(saveBody(ReportText().set(6, "first & more"), std::string("m-1"))).report;
  EXPECT_EQ(ReportStore(file).add(report).id, "1");
  std::string content;
  std::getline(std::ifstream(file), content);
  std::ofstream(file, std::ios::trunc) << content;  // the same report, newline lost
  EXPECT_EQ(ReportStore(file).add(report).id, "2");
  const ReportStore reopened(file);
  ASSERT_EQ(reopened.size(), 2u);
  EXPECT_TRUE(reopened.find("2")->submitted.description == "first & more" &&
              reopened.find("2")->submitted.moduleId == "m-1");
  EXPECT_EQ(reopened.find("3"), nullptr);

  std::ofstream(file) << "{\"id\":\"1\"}\n";
  EXPECT_THROW(ReportStore store(file), std::runtime_error);
}

// Usage errors exit with 2 and show the usage; a service that cannot start
// exits with 1 and says why.
TEST(ServeCommandArguments, FailuresExitWithTheirStatusAndSayWhy) {
  const std::vector<std::tuple<std::vector<std::string>, int, std::string>> cases = {
      {{"--colour", "red"}, 2, "unknown argument \"--colour\""},
      {{"--port"}, 2, "--port needs a value"},
      {{"--port", "65536"}, 2, "--port needs a whole number from 0 to 65535, not \"65536\""},
      {{"--rate-interval", "1.5"}, 2, "--rate-interval needs a whole number from 1"},
      {{"--bind", ""}, 2, "--bind needs an address"},
      {{"--store", "/nonexistent-directory/reports.jsonl"}, 1, "/nonexistent-directory/reports.jsonl"},
      {{"--bind", "203.0.113.7"}, 1, "cannot listen on 203.0.113.7"},  // not an address of this machine
  };
  for (const auto& [arguments, status, message] : cases) {
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(runServeCommand(arguments, out, err), status) << message;
    EXPECT_THAT(err.str(), HasSubstr(message));
    EXPECT_EQ(err.str().find("usage: orbisgrove-feedback serve") != std::string::npos, status == 2) << err.str();
    EXPECT_THAT(out.str(), IsEmpty());
  }
  std::ostringstream help;
  std::ostringstream none;
  EXPECT_EQ(runServeCommand({"--help"}, help, none), 0);
  EXPECT_THAT(help.str(), HasSubstr("[--rate-interval SECONDS]"));
}

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

std::string quoted(const std::string& text) {
  std::string result = "'";
  for (const char c : text) result += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return result + "'";
}

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

class ToolTest : public ::testing::Test {
 protected:
  // Runs the tool with TMPDIR in this test's scratch directory (so the device
  // cache is the test's own); `extra` goes after the arguments.
  ToolRun run(std::vector<std::string> arguments, const std::vector<std::string>& extra = {}) const {
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    std::string command = "env TMPDIR=" + quoted(scratch_.path()) + " LC_ALL=C TZ=UTC " + quoted(ORBISGROVE_TOOL);
    for (const std::string& argument : arguments) command += " " + quoted(argument);
    command += " >" + quoted(scratch_ / "out") + " 2>" + quoted(scratch_ / "err");
    const int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, orbisgrove::testing::contentsOf(scratch_ / "out"),
            orbisgrove::testing::contentsOf(scratch_ / "err")};
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

TEST_F(ToolTest, CategoriesComeFromTheServiceThenFromTheDeviceCache) {
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

TEST_F(ToolTest, SubmitCreatesAReportThenShowsTheRateLimitRefusal) {
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

TEST_F(ToolTest, UsageErrorsExitWithTwo) {
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
TEST_F(ToolTest, OutboxQueuedSubmissionsListResendAndDiscard) {
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
TEST_F(ToolTest, OutboxNeverTakesOverTheDataDirectory) {
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
