// Children made by fork(): a session's requests fail at once on every
// backend, and while the delivery thread holds the outbox's lock (stopped
// there by the step seam) each outbox call returns at once with an error
// value, bounded by an alarm, and the parent's claim to deliver stays with
// the parent. Not for ThreadSanitizer, which kills such a child.

#include <sys/wait.h>
#include <unistd.h>

#include "LocalHttpsService.hpp"
#include "Reports.hpp"
#include "ScratchFiles.hpp"
#include "SessionTestSupport.hpp"
#include "TestSeams.hpp"
#include "kit/outbox/OutboxSteps.hpp"
#include "platform/store/DeliveryClaim.hpp"

namespace orbisgrove::testing {
namespace {

// 1: the delivery thread waits at the step, under the lock; 2: let it go.
std::atomic<int> phase{0};

void holdUnderTheLock(OutboxStep step) {
  if (step != OutboxStep::afterOutcomeMark || phase.load() != 0) return;
  phase.store(1);
  phase.notify_all();
  phase.wait(1);
}

TEST(ForkTest, SessionRequestsOfAForkedChildFailAtOnceOnEveryBackend) {
  using namespace platform::testing;
  for (const std::string_view backend : kBackends) {
    SCOPED_TRACE(backend);
    LocalHttpsService service;
    const auto session = sessionOn(backend, service.caFile());
    ASSERT_EQ(run(*session, requestFor(service.url("/")))->error(), nullptr);  // the delivery thread runs
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      auto done = Completion::make();
      session->dataTask(requestFor(service.url("/child")), done->handler())->resume();
      const bool failed = done->wait(std::chrono::seconds(5)) &&
                          done->urlErrorCode() == code(platform::URLErrorCode::cannotLoadFromNetwork) &&
                          done->error()->deliveryFacts().requestMayHaveReachedServer == false;
      ::_exit(failed ? 0 : 1);
    }
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child's request did not fail at once";
    EXPECT_EQ(service.requestCount(), 1U);
  }
}

TEST(ForkTest, EveryOutboxCallOfAForkedChildFailsAtOnce) {
  LocalHttpsService service;
  service.setDefaultReply(Reply::json(R"({"response":"201"})"));
  const ScratchDirectory directory("outbox-test");
  platform::setDataDirectory(directory.path());
  platform::addTrustedCertificates(service.caFile());
  setServiceHost(service.hostAndPort());
  auto& outbox = OrbisgroveFeedbackOutbox::shared();
  const std::string id = *outbox.enqueue(*someReport()).id;

  using Call = std::function<bool()>;  // true: the call came back with an error value (or its handler)
  const std::pair<const char*, Call> calls[] = {
      {"enqueue", [&] { return outbox.enqueue(*someReport()).error != nullptr; }},
      {"enqueue, answered later",
       [&] {
         std::optional<OrbisgroveOutboxEnqueueResult> got;
         outbox.enqueue(*someReport(), [&](OrbisgroveOutboxEnqueueResult result) { got = std::move(result); });
         return platform::MainQueue::shared().runUntil([&] { return got.has_value(); }, std::chrono::seconds(1)) &&
                got->error && !got->id;
       }},
      {"entries",
       [&] {
         std::shared_ptr<const platform::Error> error;
         return outbox.entries(&error).empty() && error;
       }},
      {"deliverNow",
       [&] {
         bool done = false;
         outbox.deliverNow([&] { done = true; });
         return platform::MainQueue::shared().runUntil([&] { return done; }, std::chrono::seconds(1));
       }},
      {"deliver", [&] { return outbox.deliver(id) != nullptr; }},
      {"resend", [&] { return outbox.resend(id) != nullptr; }},
      {"discard", [&] { return outbox.discard(id) != nullptr; }},
      {"setChangeHandler",
       [&] {
         outbox.setChangeHandler(nullptr);
         return true;
       }},
  };
  for (const auto& [what, call] : calls) {
    phase.store(0);
    setOutboxStepHook(holdUnderTheLock);
    ASSERT_TRUE(outbox.enqueue(*someReport(what)).id);
    phase.wait(0);
    const pid_t child = ::fork();
    if (child == 0) {
      ::alarm(5);
      const bool answered = call();
      // The parent still holds its claim: the child only closed its copy.
      platform::DeliveryClaim claim(directory / "outbox.sqlite.lock");
      const auto taken = claim.take();
      const bool parentsClaim = std::holds_alternative<platform::DeliveryClaim::Taken>(taken) &&
                                std::get<platform::DeliveryClaim::Taken>(taken) == platform::DeliveryClaim::Taken::no;
      ::_exit(answered && parentsClaim ? 0 : 1);
    }
    // The delivery thread stays under the lock, holding its claim, until the
    // child is done (or killed by its alarm).
    int status = -1;
    const pid_t waited = ::waitpid(child, &status, 0);
    phase.store(2);
    phase.notify_all();
    setOutboxStepHook(nullptr);
    ASSERT_EQ(waited, child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << what << (WIFSIGNALED(status) ? ": hung (killed by its alarm)" : ": no error value, or the claim was lost");
  }
}

}  // namespace
}  // namespace orbisgrove::testing
