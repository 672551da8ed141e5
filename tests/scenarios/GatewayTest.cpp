// What gateways in front of the service do to the kit's requests, with nginx
// from the system between the kit and the local test service: refused HTTP/2
// streams, redirects, gateway error pages, compressed replies, oversized
// heads; and proxies that refuse the tunnel. Lines starting "FIGURE" are the
// figures the notes quote.
#include <orbisgrove/service/OrbisgroveSubmissionFailure.hpp>

#include <NginxGateway.hpp>

#include <iostream>

#include "FaultyListener.hpp"
#include "KitServiceFixture.hpp"
#include "SessionTestSupport.hpp"

namespace orbisgrove::testing {
namespace {

using platform::URLErrorCode;
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

// Brotli's simplest stream: one stored meta-block, then an empty last one.
std::string brotliStored(std::string_view bytes) {
  const std::uint32_t header = ((static_cast<std::uint32_t>(bytes.size()) - 1) << 4) | (1U << 20);
  return std::string{static_cast<char>(header & 0xFF), static_cast<char>((header >> 8) & 0xFF),
                     static_cast<char>(header >> 16)} +
         std::string(bytes) + '\x03';
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

  // Sends `count` saves at once, each described by `prefix` and its number.
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

  // The copies of those saves the service received; false when one came twice.
  std::pair<int, bool> stored(const std::string& prefix, int count) const {
    int copies = 0;
    bool once = true;
    const auto requests = service.requests();
    for (int i = 0; i < count; ++i) {
      const std::string description = "*" + prefix + std::to_string(i) + "*";
      const auto n = std::count_if(requests.begin(), requests.end(), [&](const RecordedRequest& request) {
        return request.method == "POST" && request.body.find(description) != std::string::npos;
      });
      copies += static_cast<int>(n);
      once = once && n <= 1;
    }
    return {copies, once};
  }

  std::atomic<std::chrono::milliseconds> upstreamDelay{0ms};
};

TEST_F(GatewayTest, SavesThroughGatewaysEndWithAVerdictWheneverTheGatewayGivesOne) {
  const std::string to = "https://" + service.hostAndPort() + "$request_uri;";
  const auto front = [this](std::string server, bool http2 = false, std::string http = "") {
    return NginxGatewayOptions{service.hostAndPort(), http2, std::move(http), std::move(server)};
  };
  std::string bigHead;
  for (int i = 0; i < 100; ++i)
    bigHead += "add_header X-Pad-" + std::to_string(i) + " " + std::string(3300, 'p') + " always;";
  const std::string rateLimited429 =
      "limit_req zone=saves nodelay; limit_req_status 429; add_header X-Rate-Limit-Limit 1 always; "
      "add_header X-Rate-Limit-Interval 60 always; add_header X-Rate-Limit-Reset " +
      std::to_string(static_cast<long long>(platform::Date::now().secondsSince1970) + 60) + " always;";
  const std::int64_t notJSON = 1;  // the JSON decoder's dataCorrupted
  const std::int64_t headTooLarge = testing::urlCode(URLErrorCode::badServerResponse);
  const NginxGatewayOptions deadUpstream{"127.0.0.1:" + std::to_string(testing::unusedLoopbackPort()), false, "", ""};
  struct Row {
    const char* name;
    NginxGatewayOptions nginx;
    std::chrono::milliseconds upstreamDelay;
    int saves;          // sent at once, after one that uses up the rate limit where there is one
    int delivered;      // each failed one with:
    std::int64_t code;  // -1: the service's refusal; 1: not JSON; else a URL-loading code
    OrbisgroveSubmissionFailure failure;
    std::optional<std::int64_t> httpStatus;
    int stored;  // copies the service received
    // Redirects, HTTP/2 and the limit on a reply's head: the kit's own
    // session's work, a host transport's otherwise.
    bool ownSession = false;
  };
  const Row rows[] = {
      {"refused HTTP/2 streams", front("keepalive_requests 2;", true), 300ms, 12, 12, 0, noVerdict, {}, 12, true},
      {"307 of a save", front("return 307 " + to), 0ms, 10, 10, 0, noVerdict, {}, 10, true},
      {"308 of a save", front("return 308 " + to, true), 0ms, 2, 2, 0, noVerdict, {}, 2, true},
      // The save becomes a GET, as on the home platform: a deployment error the service refuses.
      {"303 of a save", front("return 303 " + to), 0ms, 1, 0, -1, refusedByService, 400, 0, true},
      {"gateway 429 page", front(rateLimited429, false, "limit_req_zone $binary_remote_addr zone=saves:1m rate=1r/m;"),
       0ms, 1, 0, notJSON, rateLimited, 429, 0},
      {"gateway 503 page", front("return 503;"), 0ms, 1, 0, notJSON, serviceUnavailable, 503, 0},
      {"dead upstream: 502", deadUpstream, 0ms, 1, 0, notJSON, noVerdict, 502, 0},
      {"upstream timeout: 504", front("proxy_read_timeout 1s;"), 2500ms, 1, 0, notJSON, noVerdict, 504, 1},
      {"320 KB of reply headers", front(bigHead), 0ms, 1, 0, headTooLarge, noVerdict, {}, 1, true},
  };
  for (const Row& row : rows) {
    if (row.ownSession && !kKitsOwnSession) continue;
    SCOPED_TRACE(row.name);
    NginxGateway gateway(row.nginx);
    testing::pointSharedClientsAt(gateway.hostAndPort(), gateway.caFile());
    upstreamDelay = row.upstreamDelay;
    const std::string prefix = "gw" + std::to_string(&row - rows) + "x";
    if (!row.nginx.httpDirectives.empty()) saves("warm" + prefix, 1);
    int delivered = 0;
    std::map<OrbisgroveSubmissionFailure, int> failed;
    for (const auto& answer : saves(prefix, row.saves)) {
      if (!answer->error()) {
        ++delivered;
        continue;
      }
      const auto& error = *answer->error();
      ++failed[classifySubmissionFailure(error)];
      const std::string_view domain = row.code == -1        ? OrbisgroveFeedbackErrorDomain
                                      : row.code == notJSON ? platform::JSONCodingErrorDomain
                                                            : platform::URLErrorDomain;
      EXPECT_EQ(error.domain(), domain) << error.description();
      EXPECT_EQ(error.code(), row.code) << error.description();
      EXPECT_EQ(classifySubmissionFailure(error), row.failure) << error.description();
      EXPECT_EQ(error.deliveryFacts().httpStatusCode, row.httpStatus);
    }
    const auto [copies, once] = stored(prefix, row.saves);
    std::cout << "FIGURE " << row.name << ": " << row.saves << " saves, " << delivered << " succeeded, "
              << failed[neverSent] << " failed neverSent, " << failed[noVerdict] << " failed noVerdict, " << copies
              << " stored by the service\n";
    EXPECT_EQ(delivered, row.delivered);
    EXPECT_EQ(copies, row.stored);
    EXPECT_TRUE(once) << "a save reached the service twice";
  }
  upstreamDelay = 0ms;
}

TEST_F(GatewayTest, CompressedRepliesAreDecodedAndTheLimitHoldsForTheDecodedSize) {
  if (!kKitsOwnSession) GTEST_SKIP() << "decoding is the host transport's";
  const std::string categories = manyCategories();
  // Only nginx compresses (the test service would too when asked). A POST to
  // a static file is refused (405), and the error page then serves the file.
  const std::string proxied = "proxy_set_header Accept-Encoding \"\";";
  const auto file = [](const std::string& directives) {
    return "location = /explore-api/v1.2/ { error_page 405 =200 /categories.json; return 405; }\n"
           "location = /categories.json { " +
           directives + " }";
  };
  const struct {
    const char* name;
    std::string http, server;
    std::string fileBytes;  // of categories.json; gzipped for "gzip_static"
    std::int64_t code;      // 0: the list arrives
  } rows[] = {
      {"without compression", "", proxied, "", 0},
      {"gzip on for proxied JSON", "gzip on; gzip_types application/json; gzip_proxied any; gzip_min_length 0;",
       proxied, "", 0},
      {"gzip_static always", "", file("gzip_static always;"), categories, 0},
      {"Content-Encoding br", "", file("add_header Content-Encoding br;"), brotliStored(categories), 0},
      {"Content-Encoding x-squash", "", file("add_header Content-Encoding x-squash;"), categories,
       testing::urlCode(URLErrorCode::cannotDecodeContentData)},
      // 64 MiB of zeros in some 64 KiB of gzip.
      {"gzip_static compression bomb", "", file("gzip_static always;"), std::string(64U << 20, '0'),
       testing::urlCode(URLErrorCode::dataLengthExceedsMaximum)},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    NginxGateway gateway({service.hostAndPort(), true, row.http, row.server});
    const std::string path = gateway.documentRoot() + "/categories.json";
    std::ofstream(path, std::ios::binary) << row.fileBytes;
    if (row.server.find("gzip_static") != std::string::npos) {
      ASSERT_EQ(std::system(("gzip " + path).c_str()), 0);
    }
    testing::pointSharedClientsAt(gateway.hostAndPort(), gateway.caFile());
    auto answer = Answer::make();
    OrbisgroveReportCategoriesAPIManager::shared().getReportCategories(answer->categoriesHandler());
    testing::expectAnsweredOnce(answer);
    const auto error = answer->error();
    EXPECT_EQ(error ? error->domain() + " " + std::to_string(error->code()) : "",
              row.code ? std::string(platform::URLErrorDomain) + " " + std::to_string(row.code) : "")
        << (error ? error->description() : "");
    EXPECT_EQ(answer->delivered(), row.code ? std::nullopt : std::optional<std::size_t>(200));
    const auto log = gateway.accessLog();
    ASSERT_EQ(log.size(), 1u);
    std::cout << "FIGURE categories reply, " << row.name << ": " << log[0].bytesSent << " bytes on the wire ("
              << log[0].bodyBytesSent << " of body, " << categories.size() << " decoded), Accept-Encoding \""
              << log[0].acceptEncoding << "\"\n";
    EXPECT_THAT(log[0].acceptEncoding, ::testing::HasSubstr("gzip"));
    if (row.code == 0 && std::string_view(row.name).starts_with("gzip")) {
      EXPECT_LT(log[0].bodyBytesSent, static_cast<long long>(categories.size()) / 4);
    }
  }
}

TEST_F(GatewayTest, AProxyThatRefusesTheTunnelIsNamedAndNothingWasSent) {
  if (!kKitsOwnSession) GTEST_SKIP() << "proxies are the host transport's";
  for (const auto& [fault, status] : {std::pair{FaultyListener::Fault::proxyForbidsTunnel, "403"},
                                      std::pair{FaultyListener::Fault::proxyWantsCredentials, "407"}}) {
    SCOPED_TRACE(status);
    FaultyListener proxy(fault);
    platform::setProxy("http://user:secret@" + proxy.hostAndPort());
    const auto error = saves(std::string("proxy") + status + "x", 1).at(0)->error();
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
  if (!kKitsOwnSession) GTEST_SKIP() << "what left the device is the host transport's to tell";
  using namespace platform::testing;
  FaultyListener listener(FaultyListener::Fault::resetAfterRequestHead);
  const auto session = sessionTrusting(listener.caFile());
  const auto error = run(*session, requestFor("https://" + listener.hostAndPort() + "/", "POST",
                                              std::string(std::size_t{8} << 20, 'b')))
                         ->error();
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code(), testing::urlCode(URLErrorCode::networkConnectionLost)) << error->description();
  EXPECT_EQ(classifySubmissionFailure(*error), neverSent) << error->description();
}

}  // namespace
}  // namespace orbisgrove::testing
