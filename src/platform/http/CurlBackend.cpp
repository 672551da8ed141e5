// The session backend on libcurl's multi interface. The delivery thread owns
// the multi handle and every easy handle: it waits in curl_multi_poll, which
// curl_multi_wakeup ends when work comes in from other threads.
#include "platform/core/ProcessLifecycle.hpp"
#include "platform/http/CurlGlobal.hpp"
#include "platform/http/CurlTransfer.hpp"
#include "platform/http/SessionBackend.hpp"
#include "platform/http/SessionCore.hpp"

#include <curl/curl.h>

#include <algorithm>
#include <mutex>
#include <unordered_map>
#include <utility>
#include <vector>

#include <pthread.h>
#include <signal.h>

namespace orbisgrove::platform::http {
namespace {

// Beyond this, transfers to one host wait for a connection to come free
// instead of each opening its own TLS connection.
constexpr long connectionsPerHost = 6;
// Idle connections kept for reuse. Without a limit of its own libcurl keeps
// four per transfer still attached, so as a burst of requests drains it closes
// the connections the next burst would reuse, which then pays new handshakes.
constexpr long cachedConnections = 2 * connectionsPerHost;
// Finished transfers leave their easy handles for the next ones: setting one
// up afresh costs more than resetting it.
constexpr std::size_t idleHandleLimit = 16;
// The loop sleeps at most this long when no transfer runs; curl_multi_wakeup
// ends the wait sooner.
constexpr auto idleWait = std::chrono::seconds(60);
// While transfers run, libcurl may hold some without a timer of its own (a
// transfer waiting for a free connection to its host is one); it asks not to
// be left alone for long then.
constexpr auto busyWait = std::chrono::milliseconds(200);
// Transfers handed to libcurl per origin; more wait in the session's own line.
// libcurl would hold every one of hundreds of requests as a transfer with its
// buffers and walk them all whenever a connection comes free; a few beyond
// the connections keep each connection busy, and HTTP/2 several streams.
constexpr std::size_t admittedTransfersPerOrigin = 4 * connectionsPerHost;

class CurlBackend final : public SessionBackend {
 public:
  explicit CurlBackend(const URLSessionConfiguration& configuration) {
    // libcurl first: its initialisation registers the exit hook in its place.
    ensureCurlGlobalInit();
    for (const auto& file : configuration.additionalTrustedCertificateFiles) {
      trust_ = TrustedCertificates::adding(trust_, file);
    }
    setProxy(configuration.proxy);
    setPinnedPublicKeys(configuration.pinnedPublicKeys);
  }

  const std::string* unusable() override { return curlSetUpProblem(); }
  [[nodiscard]] std::size_t admittedPerOrigin() const override { return admittedTransfersPerOrigin; }

  void addTrustedCertificates(const std::string& pemFile) override {
    // Read outside the lock: it touches the file system.
    std::shared_ptr<const TrustedCertificates> current;
    {
      const std::lock_guard lock(settingsMutex_);
      current = trust_;
    }
    auto extended = TrustedCertificates::adding(current, pemFile);
    const std::lock_guard lock(settingsMutex_);
    // Another thread may have added a file meanwhile: add this one to theirs.
    trust_ = current == trust_ ? std::move(extended) : TrustedCertificates::adding(trust_, pemFile);
  }

  void setProxy(std::optional<std::string> proxy) override {
    const std::lock_guard lock(settingsMutex_);
    proxy_ = std::move(proxy);
  }

  // libcurl takes several pins as one text, separated by ";".
  void setPinnedPublicKeys(const std::vector<std::string>& pins) override {
    std::string joined;
    for (const auto& pin : pins) joined += (joined.empty() ? "" : ";") + pin;
    const std::lock_guard lock(settingsMutex_);
    pins_ = std::move(joined);
  }

  bool open() override {
    multi_ = curl_multi_init();
    if (multi_ == nullptr) return false;
    curl_multi_setopt(multi_, CURLMOPT_PIPELINING, static_cast<long>(CURLPIPE_MULTIPLEX));
    curl_multi_setopt(multi_, CURLMOPT_MAX_HOST_CONNECTIONS, connectionsPerHost);
    curl_multi_setopt(multi_, CURLMOPT_MAXCONNECTS, cachedConnections);
    return true;
  }

  void wake() override { curl_multi_wakeup(multi_); }

  void release() override {
    for (CURL* easy : idleHandles_) curl_easy_cleanup(easy);
    idleHandles_.clear();
    curl_multi_cleanup(std::exchange(multi_, nullptr));
  }

  // A peer that closes while libcurl writes must not kill the process; the
  // signal is blocked on this thread only, where libcurl does all its I/O.
  void threadStarted() override {
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
  }

  void wait(Clock::time_point until) override {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now()).count();
    const auto milliseconds = std::clamp<std::chrono::milliseconds::rep>(left, 0, idleWait.count());
    curl_multi_poll(multi_, nullptr, 0, static_cast<int>(milliseconds), nullptr);
  }

  bool start(const std::shared_ptr<SessionDataTask>& task) override;

  void cancel(const std::shared_ptr<SessionDataTask>& task) override {
    const auto found = running_.find(task->taskIdentifier());
    if (found == running_.end()) return;
    auto transfer = std::move(found->second);
    running_.erase(found);
    curl_multi_remove_handle(multi_, transfer->easy);
    const bool reached = transfer->mayHaveReachedServer();
    finish(std::move(transfer), failedOutcome(task->request(), URLErrorCode::cancelled, {}, reached));
  }

  Clock::time_point perform() override {
    int stillRunning = 0;
    curl_multi_perform(multi_, &stillRunning);
    // A finished transfer frees its connection for one that waits: let
    // libcurl start it at once instead of after the next event.
    const auto now = Clock::now();
    if (collectFinishedTransfers() > 0) return now;
    return now + (running_.empty() ? Clock::duration(idleWait) : Clock::duration(busyWait));
  }

  // Whatever a transfer that has not begun to go out still waits for (a
  // name, a connection, a handshake) could take the whole exit budget; it
  // ends now, as never sent. The others run on to their ends.
  void beginDrain() override {
    std::vector<std::uint64_t> unsent;
    for (const auto& [identifier, transfer] : running_) {
      if (!transfer->mayHaveReachedServer()) unsent.push_back(identifier);
    }
    for (const auto identifier : unsent) {
      if (core().leftAtExit()) return;
      const auto found = running_.find(identifier);
      auto transfer = std::move(found->second);
      running_.erase(found);
      curl_multi_remove_handle(multi_, transfer->easy);
      const URLRequest& request = transfer->task->request();
      finish(std::move(transfer),
             failedOutcome(request, URLErrorCode::cannotLoadFromNetwork, kProcessExitingBeforeSend, false));
    }
  }

 private:
  // Ends the task of a transfer libcurl no longer has. `reusable`: the
  // transfer ended cleanly, so its easy handle may serve the next one (a
  // handle that failed can keep state that refuses options).
  void finish(std::unique_ptr<Transfer> transfer, Outcome outcome, bool reusable = false) {
    if (core().leftAtExit()) {
      // Kept, untouched: cleaning the handle up is a libcurl call.
      abandoned_.push_back(std::move(transfer));
      return;
    }
    const bool reached = transfer->mayHaveReachedServer();
    if (reusable && transfer->easy != nullptr && idleHandles_.size() < idleHandleLimit) {
      curl_easy_reset(transfer->easy);
      idleHandles_.push_back(std::exchange(transfer->easy, nullptr));
    }
    const std::shared_ptr<SessionDataTask> task = transfer->task;
    transfer.reset();
    core().end(task, std::move(outcome), reached);
  }

  // Returns how many transfers ended.
  std::size_t collectFinishedTransfers() {
    std::size_t finished = 0;
    int queued = 0;
    while (CURLMsg* message = core().leftAtExit() ? nullptr : curl_multi_info_read(multi_, &queued)) {
      if (message->msg != CURLMSG_DONE) continue;
      CURL* easy = message->easy_handle;
      const CURLcode result = message->data.result;
      void* context = nullptr;
      curl_easy_getinfo(easy, CURLINFO_PRIVATE, &context);
      const auto* known = static_cast<const Transfer*>(context);
      const auto found = known == nullptr ? running_.end() : running_.find(known->task->taskIdentifier());
      if (found == running_.end()) continue;
      auto transfer = std::move(found->second);
      running_.erase(found);
      curl_multi_remove_handle(multi_, easy);
      Outcome outcome = transfer->outcome(result);
      finish(std::move(transfer), std::move(outcome), result == CURLE_OK);
      ++finished;
    }
    return finished;
  }

  std::mutex settingsMutex_;
  std::shared_ptr<const TrustedCertificates> trust_;
  std::optional<std::string> proxy_;
  std::string pins_;

  CURLM* multi_ = nullptr;
  // Delivery thread only: the transfers libcurl is working on, by task.
  std::unordered_map<std::uint64_t, std::unique_ptr<Transfer>> running_;
  // Delivery thread only: reset easy handles ready for the next transfers.
  std::vector<CURL*> idleHandles_;
  // Delivery thread only: transfers that ended once the exit budget was spent.
  std::vector<std::unique_ptr<Transfer>> abandoned_;
};

bool CurlBackend::start(const std::shared_ptr<SessionDataTask>& task) {
  TransferSettings settings;
  {
    const std::lock_guard lock(settingsMutex_);
    settings = TransferSettings{trust_, proxy_, pins_, core().configuration().maximumBodyBytes};
  }
  CURL* easy = nullptr;
  if (idleHandles_.empty()) {
    easy = curl_easy_init();
  } else {
    easy = idleHandles_.back();
    idleHandles_.pop_back();
  }
  const auto fail = [&](std::string_view problem) {
    core().end(task, failedOutcome(task->request(), URLErrorCode::unknown, problem, false), false);
    return false;
  };
  if (easy == nullptr) return fail("libcurl could not create a transfer");
  auto transfer = std::make_unique<Transfer>(task, easy, std::move(settings));
  // While as many transfers run as there are connections, each gets a roomy
  // receive buffer; beyond that, when hundreds may wait, a small one.
  if (auto problem = transfer->configure(task->deadline, std::cmp_less(running_.size(), connectionsPerHost))) {
    transfer.reset();
    return fail(*problem);
  }
  if (curl_multi_add_handle(multi_, easy) != CURLM_OK) {
    transfer.reset();
    return fail("libcurl did not accept the transfer");
  }
  running_.emplace(task->taskIdentifier(), std::move(transfer));
  return true;
}

}  // namespace

std::unique_ptr<SessionBackend> makeBuiltInBackend(std::shared_ptr<const HTTPTransport> /*installed*/,
                                                   const URLSessionConfiguration& configuration) {
  return std::make_unique<CurlBackend>(configuration);
}

}  // namespace orbisgrove::platform::http
