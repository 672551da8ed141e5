// Random schedules of what the network and the service do to the outbox's
// requests, each checked against a model of the states: every stored report
// is still there, none was stored twice, and the service holds exactly the
// delivered ones plus at most the unconfirmed ones.

#include <random>

#include "FaultyListener.hpp"
#include "LocalHttpsService.hpp"
#include "OutboxStores.hpp"
#include "Reports.hpp"
#include "ScratchFiles.hpp"
#include "TestSeams.hpp"
#include "platform/core/Date.hpp"
#include "platform/http/DeliveryTimers.hpp"
#include "platform/http/URLSession.hpp"

namespace orbisgrove::testing {
namespace {

enum class Verdict { created, rateLimitedUntil, rateLimited, unavailable, refused, garbage, dropAfterRead, stall };

// The service side of a schedule: what each request gets, and what it stored.
struct ScriptedService {
  std::mutex mutex;
  std::mt19937 random;
  bool faults = true;
  std::map<std::string, int> stored;  // report text -> times stored
  int resends = 0;                    // a body again after it was dropped: the transport's doing
  std::map<std::string, bool> dropped;

  Reply answer(const RecordedRequest& request) {
    const std::lock_guard lock(mutex);
    if (dropped[request.body]) {
      // Nothing but the host's resend() may send a dropped report again, and
      // no schedule calls it: this is the transport repeating the request.
      ++resends;
      return Reply::closeConnection();
    }
    const auto verdict =
        faults ? static_cast<Verdict>(std::uniform_int_distribution<int>(0, 7)(random)) : Verdict::created;
    const auto envelope = [](int code) {
      return Reply::json(R"({"response":")" + std::to_string(code) + R"(","data":[{"error":["no"]}]})", code);
    };
    switch (verdict) {
      case Verdict::created:
        ++stored[request.body];
        return Reply::json(R"({"response":"201"})");
      case Verdict::rateLimitedUntil:
        return envelope(429).withHeader("X-Rate-Limit-Reset",
                                        std::to_string(platform::Date::now().secondsSince1970 + 0.2));
      case Verdict::rateLimited:
        return envelope(429);
      case Verdict::unavailable:
        return envelope(503);
      case Verdict::refused:
        return envelope(400);
      case Verdict::garbage:
        ++stored[request.body];
        return Reply::text("<html>stored</html>");
      case Verdict::dropAfterRead:
        if (random() % 2 == 0) ++stored[request.body];
        dropped[request.body] = true;
        return Reply::closeConnection();
      case Verdict::stall:
        ++stored[request.body];
        dropped[request.body] = true;
        return Reply::stalled();
    }
    return Reply::json(R"({"response":"201"})");
  }
};

class OutboxFaultScheduleTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    platform::setDataDirectory(freshDirectory());
    setRequestTimeoutCap(0.3);
  }
  static void TearDownTestSuite() { setRequestTimeoutCap(std::nullopt); }
};

TEST_F(OutboxFaultScheduleTest, EveryScheduleKeepsTheModel) {
  const char* wanted = std::getenv("ORBISGROVE_OUTBOX_SCHEDULES");
  const int schedules = wanted != nullptr ? std::atoi(wanted) : 250;
  LocalHttpsService service;
  FaultyListener resetting(FaultyListener::Fault::resetBeforeStatusLine);
  platform::addTrustedCertificates(service.caFile());
  platform::addTrustedCertificates(resetting.caFile());
  ScriptedService script;
  service.setHandler([&](const RecordedRequest& request) { return script.answer(request); });
  // Answering, refusing (a port with no listener any more), resetting.
  const std::string hosts[] = {service.hostAndPort(), LocalHttpsService().hostAndPort(), resetting.hostAndPort()};
  auto& outbox = OrbisgroveFeedbackOutbox::shared();

  for (int schedule = 0; schedule < schedules; ++schedule) {
    std::mt19937 random(static_cast<unsigned>(schedule));
    {
      const std::lock_guard lock(script.mutex);
      script.random.seed(static_cast<unsigned>(schedule) * 7919U);
      script.faults = true;
      script.stored.clear();
      script.dropped.clear();
    }
    setServiceHost(hosts[random() % 3]);
    const int reports = 1 + static_cast<int>(random() % 3);
    for (int report = 0; report < reports; ++report) {
      ASSERT_TRUE(outbox.enqueue(*someReport("s" + std::to_string(schedule) + "r" + std::to_string(report))).id);
    }
    for (int round = static_cast<int>(random() % 3); round >= 0; --round) {
      deliverAndWait();
      service.releaseStalled();
      setServiceHost(hosts[random() % 3]);
    }
    // The network comes back and the service behaves: everything queued goes.
    setServiceHost(hosts[0]);
    {
      const std::lock_guard lock(script.mutex);
      script.faults = false;
    }
    for (int round = 0; round < 20; ++round) {
      const auto entries = outbox.entries();
      if (std::none_of(entries.begin(), entries.end(),
                       [](const auto& e) { return e.state == OrbisgroveOutboxEntryState::queued; })) {
        break;
      }
      deliverAndWait();
      std::this_thread::sleep_for(std::chrono::milliseconds(50));  // a 429 hold of 0.2 s runs out
    }

    const auto entries = outbox.entries();
    ASSERT_EQ(entries.size(), static_cast<std::size_t>(reports)) << "schedule " << schedule << " lost a report";
    std::size_t delivered = 0;
    std::size_t unconfirmed = 0;
    for (const auto& entry : entries) {
      EXPECT_NE(entry.state, OrbisgroveOutboxEntryState::queued) << "schedule " << schedule;
      delivered += entry.state == OrbisgroveOutboxEntryState::delivered ? 1 : 0;
      unconfirmed += entry.state == OrbisgroveOutboxEntryState::unconfirmed ? 1 : 0;
      ASSERT_FALSE(outbox.discard(entry.id));
    }
    const std::lock_guard lock(script.mutex);
    for (const auto& [body, times] : script.stored) EXPECT_EQ(times, 1) << "schedule " << schedule << ": " << body;
    EXPECT_GE(script.stored.size(), delivered) << "schedule " << schedule;
    EXPECT_LE(script.stored.size(), delivered + unconfirmed) << "schedule " << schedule;
  }
  EXPECT_EQ(script.resends, 0) << "requests the transport sent again after the service dropped them";
  RecordProperty("schedules", schedules);
}

}  // namespace
}  // namespace orbisgrove::testing
