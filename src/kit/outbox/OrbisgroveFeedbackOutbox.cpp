#include <orbisgrove/kit/OrbisgroveFeedbackOutbox.hpp>

#include <orbisgrove/platform/MainQueue.hpp>

#include <array>

#include "kit/outbox/OutboxEngine.hpp"

namespace orbisgrove {

std::string_view outboxEntryStateName(OrbisgroveOutboxEntryState state) {
  static constexpr std::array<std::string_view, 4> names{"queued", "delivered", "unconfirmed", "rejected"};
  return names.at(static_cast<std::size_t>(state));
}

OrbisgroveFeedbackOutbox& OrbisgroveFeedbackOutbox::shared() {
  static auto* outbox = new OrbisgroveFeedbackOutbox;  // never destroyed
  return *outbox;
}

const std::shared_ptr<OrbisgroveFeedbackOutbox::Engine>& OrbisgroveFeedbackOutbox::Engine::shared() {
  static const auto* const engine = new std::shared_ptr<Engine>(std::make_shared<Engine>());  // never destroyed
  return *engine;
}

OrbisgroveFeedbackOutbox::OrbisgroveFeedbackOutbox() : engine_(Engine::shared()) {}
OrbisgroveFeedbackOutbox::~OrbisgroveFeedbackOutbox() = default;

OrbisgroveOutboxEnqueueResult OrbisgroveFeedbackOutbox::enqueue(const OrbisgroveSaveUserDataOptions& options) {
  return engine_->enqueue(options);
}
void OrbisgroveFeedbackOutbox::enqueue(const OrbisgroveSaveUserDataOptions& options, EnqueueHandler completion) {
  auto done = std::make_shared<const Engine::StoredHandler>(
      [completion = std::move(completion)](const OrbisgroveOutboxEnqueueResult& result, const OrbisgroveOutboxEntry*) {
        if (completion) completion(result);
      });
  if (auto refused = engine_->enqueueLater(options, done)) {
    platform::MainQueue::shared().post([done, refused] { (*done)({std::nullopt, refused}, nullptr); });
  }
}
std::vector<OrbisgroveOutboxEntry> OrbisgroveFeedbackOutbox::entries(std::shared_ptr<const platform::Error>* error) {
  return engine_->entries(error);
}
void OrbisgroveFeedbackOutbox::deliverNow(DeliveryHandler done) { engine_->deliverNow(std::move(done)); }
std::shared_ptr<const platform::Error> OrbisgroveFeedbackOutbox::deliver(const std::string& id, DeliveryHandler done) {
  return engine_->deliver(id, std::move(done));
}
std::shared_ptr<const platform::Error> OrbisgroveFeedbackOutbox::resend(const std::string& id, bool startDelivery) {
  return engine_->resend(id, startDelivery);
}
std::shared_ptr<const platform::Error> OrbisgroveFeedbackOutbox::discard(const std::string& id) {
  return engine_->discard(id);
}
void OrbisgroveFeedbackOutbox::setChangeHandler(ChangeHandler handler) {
  engine_->setChangeHandler(std::move(handler));
}

}  // namespace orbisgrove
