// What gateways in front of the service do to the kit's requests, with nginx
// from the system between the kit and the local test service: refused HTTP/2
// streams, redirects, gateway error pages, compressed replies, oversized
// heads; and proxies that refuse the tunnel. Lines starting "FIGURE" are the
// figures the notes quote.
#include <orbisgrove/service/OrbisgroveSubmissionFailure.hpp>

#include <NginxGateway.hpp>

#include <gmock/gmock.h>

#include <fstream>
#include <future>
#include <iostream>
#include <set>

#include "../service/KitServiceFixture.hpp"
#include "FaultyListener.hpp"
#include "platform/http/URLSession.hpp"

namespace orbisgrove {
namespace {

using platform::URLErrorCode;
using testing::Answer;
using testing::FaultyListener;
using testing::NginxGateway;
using testing::NginxGatewayOptions;
using testing::RecordedRequest;
using testing::Reply;
using enum OrbisgroveSubmissionFailure;
using namespace std::chrono_literals;

constexpr std::string_view kStored = R"({"response":"201","data":{"name":"kept"}})";

// A list of categories large enough for compression to matter.
std::string manyCategories() {
  std::string json = R"({"response":"201","data":[)";
  for (int i = 0; i < 200; ++i) {
    json += (i ? "," : "") + std::string(R"({"reportId":")") + std::to_string(100 + i) +
            R"(","reportName":"Road closed for works, section )" + std::to_string(i) +
            R"(","parentId":"1","created":1700000000})";
  }
  return json + "]}";
}

// The keys a body that is not JSON gives the JSON decoder's error.
std::set<std::string> jsonErrorKeys() {
  std::set<std::string> keys;
  try {
    platform::JSONDocument document("<html>");
  } catch (const platform::CodingError& failure) {
    for (const auto& [key, value] : failure.error()->userInfo()) keys.insert(key);
  }
  return keys;
}

class GatewayTest : public testing::KitServiceFixture {
 protected:
  void SetUp() override {
    KitServiceFixture::SetUp();
    service.setHandler([this](const RecordedRequest& request) {
      std::this_thread::sleep_for(upstreamDelay.load());
      if (request.method != "POST") return Reply::json(R"({"response":"400","data":[{"error":["No form."]}]})", 400);
      return request.body.starts_with("q=712") ? Reply::json(manyCategories()) : Reply::json(std::string(kStored));
    });
  }
  void TearDown() override {
    platform::setProxy(std::nullopt);
    KitServiceFixture::TearDown();
  }

  // Sends `count` saves at once, named `prefix` and a number; their answers.
  static std::vector<std::shared_ptr<Answer>> saves(const std::string& prefix, int count) {
    std::vector<std::shared_ptr<Answer>> answers;
    for (int i = 0; i < count; ++i) {
      answers.push_back(Answer::make());
      OrbisgroveSaveUserDataAPIManager::shared().saveUserData(*testing::someReport(prefix + std::to_string(i)),
                                                              answers.back()->saveHandler());
    }
    EXPECT_TRUE(testing::runMainQueueUntilAnswered(answers, 60s));
    return answers;
  }

  // How many saves named `prefix` and a number reached the service, and
  // whether any arrived twice.
  std::pair<int, bool> stored(const std::string& prefix, int count) const {
    int copies = 0;
    bool twice = false;
    const auto requests = service.requests();
    for (int i = 0; i < count; ++i) {
      const std::string name = "*" + prefix + std::to_string(i) + "*";
      const auto n = std::count_if(requests.begin(), requests.end(), [&](const RecordedRequest& request) {
        return request.method == "POST" && request.body.find(name) != std::string::npos;
      });
      copies += static_cast<int>(n);
      twice = twice || n > 1;
    }
    return {copies, twice};
  }

  std::atomic<std::chrono::milliseconds> upstreamDelay{0ms};
};

TEST_F(GatewayTest, SavesThroughGatewaysEndWithAVerdictWheneverTheGatewayGivesOne) {
  const std::string service_ = service.hostAndPort();
  std::string bigHead;
  for (int i = 0; i < 100; ++i)
    bigHead += "add_header X-Pad-" + std::to_string(i) + " " + std::string(3300, 'p') + " always;\n";
  const std::string resetAt = std::to_string(static_cast<long long>(platform::Date::now().secondsSince1970) + 60);
  struct Row {
    const char* name;
    NginxGatewayOptions nginx;
    std::chrono::milliseconds upstreamDelay = 0ms;
    int warmUp = 0;  // saves answered before the judged ones
    int saves = 1;   // judged, sent at once
    int delivered = 0;
    // Each judged save that is not delivered:
    std::string_view domain{};
    std::int64_t code = 0;
    OrbisgroveSubmissionFailure failure = noVerdict;
    std::optional<std::int64_t> httpStatus{};
    int stored = 0;  // copies of the judged saves the service received
  };
  const std::string_view json = platform::JSONCodingErrorDomain;
  const std::string_view url = platform::URLErrorDomain;
  const std::int64_t corrupted = static_cast<std::int64_t>(platform::JSONCodingErrorCode::dataCorrupted);
  const Row rows[] = {
      {"refused HTTP/2 streams",
       {service_, true, "", "keepalive_requests 2;"},
       300ms,
       0,
       12,
       12,
       {},
       0,
       noVerdict,
       {},
       12},
      {"307 of a save",
       {service_, false, "", "return 307 https://" + service_ + "$request_uri;"},
       0ms,
       0,
       10,
       10,
       {},
       0,
       noVerdict,
       {},
       10},
      {"308 of a save",
       {service_, true, "", "return 308 https://" + service_ + "$request_uri;"},
       0ms,
       0,
       2,
       2,
       {},
       0,
       noVerdict,
       {},
       2},
      // The save becomes a GET, as on the home platform: a deployment error the service refuses.
      {"303 of a save",
       {service_, false, "", "return 303 https://" + service_ + "$request_uri;"},
       0ms,
       0,
       1,
       0,
       OrbisgroveFeedbackErrorDomain,
       OrbisgroveFeedbackErrorCode,
       refusedByService,
       400,
       0},
      {"gateway 429 page",
       {service_, false, "limit_req_zone $binary_remote_addr zone=saves:1m rate=1r/m;",
        "limit_req zone=saves nodelay; limit_req_status 429; add_header X-Rate-Limit-Limit 1 always;"
        "add_header X-Rate-Limit-Interval 60 always; add_header X-Rate-Limit-Reset " +
            resetAt + " always;"},
       0ms,
       1,
       1,
       0,
       json,
       corrupted,
       rateLimited,
       429,
       0},
      {"gateway 503 page",
       {service_, false, "", "return 503;"},
       0ms,
       0,
       1,
       0,
       json,
       corrupted,
       serviceUnavailable,
       503,
       0},
      {"dead upstream: 502",
       {"127.0.0.1:" + std::to_string(testing::unusedLoopbackPort()), false, "", ""},
       0ms,
       0,
       1,
       0,
       json,
       corrupted,
       noVerdict,
       502,
       0},
      {"upstream timeout: 504",
       {service_, false, "", "proxy_read_timeout 1s;"},
       2500ms,
       0,
       1,
       0,
       json,
       corrupted,
       noVerdict,
       504,
       1},
      {"320 KB of reply headers",
       {service_, false, "", bigHead},
       0ms,
       0,
       1,
       0,
       url,
       testing::urlCode(URLErrorCode::badServerResponse),
       noVerdict,
       {},
       1},
  };
  const auto expectedKeys = jsonErrorKeys();
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    NginxGateway gateway(row.nginx);
    testing::pointSharedClientsAt(gateway.hostAndPort(), gateway.caFile());
    upstreamDelay = row.upstreamDelay;
    const std::string prefix = std::string("gw") + std::to_string(&row - rows) + "x";
    if (row.warmUp > 0) saves("warm" + prefix, row.warmUp);
    const auto answers = saves(prefix, row.saves);
    int delivered = 0;
    int neverSentCount = 0;
    int noVerdictCount = 0;
    for (const auto& answer : answers) {
      if (!answer->error()) {
        ++delivered;
        continue;
      }
      const auto& error = *answer->error();
      neverSentCount += classifySubmissionFailure(error) == neverSent ? 1 : 0;
      noVerdictCount += classifySubmissionFailure(error) == noVerdict ? 1 : 0;
      EXPECT_EQ(error.domain(), row.domain) << error.description();
      EXPECT_EQ(error.code(), row.code) << error.description();
      EXPECT_EQ(classifySubmissionFailure(error), row.failure) << error.description();
      EXPECT_EQ(error.deliveryFacts().httpStatusCode, row.httpStatus);
      if (error.domain() == json) {
        // The decoder's error keeps its shape: the status stands beside it.
        std::set<std::string> keys;
        for (const auto& [key, value] : error.userInfo()) keys.insert(key);
        EXPECT_EQ(keys, expectedKeys);
      }
    }
    const auto [copies, twice] = stored(prefix, row.saves);
    std::cout << "FIGURE " << row.name << ": " << row.saves << " saves, " << delivered << " succeeded, "
              << neverSentCount << " failed neverSent, " << noVerdictCount << " failed noVerdict, " << copies
              << " stored by the service\n";
    EXPECT_EQ(delivered, row.delivered);
    EXPECT_EQ(copies, row.stored);
    EXPECT_FALSE(twice) << "a save reached the service twice";
  }
  upstreamDelay = 0ms;
}

TEST_F(GatewayTest, CompressedRepliesAreDecodedAndTheLimitHoldsForTheDecodedSize) {
  const std::string categories = manyCategories();
  // POST to a static file is refused (405); the error page then serves the
  // file, as some deployments answer fixed data.
  const std::string staticFile =
      "location = /explore-api/v1.2/ { error_page 405 =200 /categories.json; return 405; }\n"
      "location = /categories.json { gzip_static always; }\n";
  // The test service compresses too when asked; here only nginx does.
  const std::string uncompressedUpstream = "proxy_set_header Accept-Encoding \"\";\n";
  const struct {
    const char* name;
    std::string http;
    std::string server;
    std::string staticBytes;  // "categories.json" before gzip; empty: none
    std::int64_t code;        // 0: the list arrives
  } rows[] = {
      {"without compression", "", uncompressedUpstream, "", 0},
      {"gzip on for proxied JSON",
       "gzip on; gzip_types application/json; gzip_proxied any; gzip_min_length 0; gzip_vary on;", uncompressedUpstream,
       "", 0},
      {"gzip_static always", "", staticFile, categories, 0},
      // 64 MiB of zeros in some 64 KiB of gzip.
      {"compression bomb", "", staticFile, std::string(64u << 20, '0'),
       testing::urlCode(URLErrorCode::dataLengthExceedsMaximum)},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    NginxGateway gateway({service.hostAndPort(), true, row.http, row.server});
    if (!row.staticBytes.empty()) {
      const std::string file = gateway.documentRoot() + "/categories.json";
      std::ofstream(file, std::ios::binary) << row.staticBytes;
      ASSERT_EQ(std::system(("gzip -9 '" + file + "'").c_str()), 0);
    }
    testing::pointSharedClientsAt(gateway.hostAndPort(), gateway.caFile());
    auto answer = Answer::make();
    OrbisgroveReportCategoriesAPIManager::shared().getReportCategories(answer->categoriesHandler());
    testing::expectAnsweredOnce(answer);
    const auto error = answer->error();
    if (row.code == 0) {
      ASSERT_FALSE(error) << error->description();
      EXPECT_EQ(answer->delivered(), 200u);
    } else {
      ASSERT_TRUE(error);
      EXPECT_EQ(error->domain(), platform::URLErrorDomain) << error->description();
      EXPECT_EQ(error->code(), row.code) << error->description();
    }
    const auto log = gateway.accessLog();
    ASSERT_EQ(log.size(), 1u);
    std::cout << "FIGURE categories reply, " << row.name << ": " << log[0].bytesSent << " bytes on the wire ("
              << log[0].bodyBytesSent << " of body, " << categories.size() << " decoded), Accept-Encoding \""
              << log[0].acceptEncoding << "\"\n";
    EXPECT_THAT(log[0].acceptEncoding, ::testing::HasSubstr("gzip"));
    if (row.code == 0 && &row != rows) {
      EXPECT_LT(log[0].bodyBytesSent, static_cast<long long>(categories.size()) / 4);
    }
  }
}

TEST_F(GatewayTest, AProxyThatRefusesTheTunnelIsNamedAndNothingWasSent) {
  for (const auto& [fault, status] : {std::pair{FaultyListener::Fault::proxyForbidsTunnel, "403"},
                                      std::pair{FaultyListener::Fault::proxyWantsCredentials, "407"}}) {
    SCOPED_TRACE(status);
    FaultyListener proxy(fault);
    platform::setProxy("http://user:secret@" + proxy.hostAndPort());
    const auto answers = saves(std::string("proxy") + status + "x", 1);
    const auto error = answers.at(0)->error();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain(), platform::URLErrorDomain);
    EXPECT_EQ(error->code(), testing::urlCode(URLErrorCode::cannotConnectToHost)) << error->description();
    EXPECT_EQ(classifySubmissionFailure(*error), neverSent);
    const std::string reason = error->localizedFailureReason().value_or("");
    EXPECT_THAT(reason, ::testing::HasSubstr("proxy " + proxy.hostAndPort()));
    EXPECT_THAT(reason, ::testing::HasSubstr(status));
    EXPECT_THAT(reason, ::testing::Not(::testing::HasSubstr("secret")));
  }
  EXPECT_EQ(service.requestCount(), 0u);
}

TEST_F(GatewayTest, ARequestWhoseConnectionBrokeBeforeItsWholeBodyWasTakenWasNeverSent) {
  FaultyListener listener(FaultyListener::Fault::resetAfterRequestHead);
  platform::URLSessionConfiguration configuration;
  configuration.additionalTrustedCertificateFiles = {listener.caFile()};
  auto session = platform::URLSession::make(configuration);
  platform::URLRequest request(*platform::URL::fromString("https://" + listener.hostAndPort() + "/"));
  request.httpMethod = "POST";
  request.httpBody = std::string(std::size_t{8} << 20, 'b');
  std::promise<std::shared_ptr<const platform::Error>> failed;
  session->dataTask(request, [&](auto, auto, auto error) { failed.set_value(error); })->resume();
  auto result = failed.get_future();
  ASSERT_EQ(result.wait_for(30s), std::future_status::ready);
  const auto error = result.get();
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code(), testing::urlCode(URLErrorCode::networkConnectionLost)) << error->description();
  EXPECT_EQ(classifySubmissionFailure(*error), neverSent) << error->description();
}

}  // namespace
}  // namespace orbisgrove
