#include "platform/http/Sessions.hpp"

#include "platform/http/SessionCore.hpp"

#include <utility>

namespace orbisgrove::platform::http {
namespace {

class Session final : public URLSession {
 public:
  explicit Session(std::shared_ptr<SessionCore> core) : core_(std::move(core)) {}
  ~Session() override { core_->close(); }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  std::shared_ptr<DataTask> dataTask(URLRequest request, CompletionHandler completion,
                                     RequestStartHook onRequestStart) override {
    return core_->makeTask(std::move(request), std::move(completion), std::move(onRequestStart));
  }
  void addTrustedCertificates(std::string pemFile) override { core_->addTrustedCertificates(pemFile); }
  void setProxy(std::optional<std::string> proxy) override { core_->setProxy(std::move(proxy)); }
  void setPinnedPublicKeys(std::vector<std::string> pins) override { core_->setPinnedPublicKeys(pins); }
  [[nodiscard]] bool isDeliveryThread() const override { return core_->isDeliveryThread(); }

  [[nodiscard]] SessionCore& core() const { return *core_; }

 private:
  const std::shared_ptr<SessionCore> core_;
};

}  // namespace

std::unique_ptr<URLSession> makeSession(std::unique_ptr<SessionBackend> backend,
                                        URLSessionConfiguration configuration) {
  return std::make_unique<Session>(std::make_shared<SessionCore>(std::move(backend), std::move(configuration)));
}

std::unique_ptr<URLSession> makeHostTransportSession(std::shared_ptr<const HTTPTransport> transport,
                                                     URLSessionConfiguration configuration) {
  return makeSession(makeHostTransportBackend(std::move(transport)), std::move(configuration));
}

SessionCore& coreOf(URLSession& session) { return dynamic_cast<Session&>(session).core(); }

}  // namespace orbisgrove::platform::http
