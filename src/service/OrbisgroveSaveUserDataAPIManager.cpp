#include <orbisgrove/service/OrbisgroveSaveUserDataAPIManager.hpp>

#include <orbisgrove/platform/JSONCoding.hpp>

#include <utility>

#include "model/OrbisgroveUserDataInfoResponse.hpp"
#include "platform/core/ApplicationIdentity.hpp"
#include "service/SaveUserDataForm.hpp"
#include "service/ServiceClient.hpp"
#include "service/ServiceEndpoint.hpp"

namespace orbisgrove {
namespace {

std::shared_ptr<OrbisgroveUserDataInfo> createdRecord(const platform::Decoder& reply) {
  return OrbisgroveUserDataInfoResponse(reply).dataInfo();
}

// What saveUserData hands its request hook as the handler of a success. The
// hook takes a success as its body; the client's own hook recognises this
// handler and gives it the reply the reply routine parsed instead, so that a
// reply is parsed once. A body reaches it only from an override of the hook.
struct SubmissionReply {
  ServiceReplyHandler handler;

  void operator()(const std::string& body) const {
    std::shared_ptr<const platform::JSONDocument> document;
    try {
      document = std::make_shared<const platform::JSONDocument>(body);
    } catch (const platform::CodingError& failure) {
      handler.failed(failure.error());
      return;
    }
    handler.accepted(ServiceReply{body, std::move(document)})();
  }
};

}  // namespace

OrbisgroveSaveUserDataAPIManager& OrbisgroveSaveUserDataAPIManager::shared() {
  static auto* manager = new OrbisgroveSaveUserDataAPIManager(std::nullopt);  // never destroyed
  return *manager;
}

OrbisgroveSaveUserDataAPIManager::OrbisgroveSaveUserDataAPIManager(const std::optional<std::string>& host)
    : apiEndpoint_(std::make_shared<const platform::URL>(serviceEndpoint(host))) {}

OrbisgroveSaveUserDataAPIManager::~OrbisgroveSaveUserDataAPIManager() = default;

platform::URL OrbisgroveSaveUserDataAPIManager::apiEndpoint() const { return *apiEndpoint_.load(); }

void OrbisgroveSaveUserDataAPIManager::setApiEndpoint(platform::URL apiEndpoint) {
  apiEndpoint_.store(std::make_shared<const platform::URL>(std::move(apiEndpoint)));
}

platform::URL OrbisgroveSaveUserDataAPIManager::urlForReportCategories() const { return serviceURL(apiEndpoint()); }

std::shared_ptr<platform::DataTask> OrbisgroveSaveUserDataAPIManager::saveUserData(
    const OrbisgroveSaveUserDataOptions& options, CompletionHandler completion) {
  // The record is decoded on the main queue, beside the caller's handler.
  ServiceReplyHandler handler = serviceReplyHandler<DecodeOn::mainQueue>(std::move(completion), createdRecord);
  auto failed = handler.failed;
  auto task =
      dataTaskWithURL(urlForReportCategories(), options, SubmissionReply{std::move(handler)}, std::move(failed));
  task->resume();
  return task;
}

std::shared_ptr<platform::DataTask> OrbisgroveSaveUserDataAPIManager::dataTaskWithURL(
    const platform::URL& url, const OrbisgroveSaveUserDataOptions& options,
    std::function<void(std::string body)> completionHandler,
    std::function<void(std::shared_ptr<const platform::Error> error)> errorHandler) {
  // Everything the request needs is read here, on the caller's thread.
  std::string body = saveUserDataFormBody(options, platform::mainBundleIdentifier());
  ServiceReplyHandler handler{nullptr, std::move(errorHandler)};
  if (auto* own = completionHandler.target<SubmissionReply>()) {
    handler.accepted = std::move(own->handler.accepted);
  } else {
    // The hook's contract for any other handler (saveUserData passes none).
    handler.accepted = [completionHandler = std::move(completionHandler)](ServiceReply reply) {
      return std::function<void()>(
          [completionHandler, body = std::move(reply.body)]() mutable { completionHandler(std::move(body)); });
    };
  }
  // A submission reaches the service at most once: the transport must fail
  // rather than send it again.
  return makeServiceDataTask(url, std::move(body), std::move(handler), ServiceResend::never);
}

}  // namespace orbisgrove
