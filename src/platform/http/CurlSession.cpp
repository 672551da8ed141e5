// The platform session on libcurl's multi interface. One delivery thread per
// session owns the multi handle and every easy handle; other threads only
// queue work under the session's mutex and wake the thread.
#include "platform/http/URLSession.hpp"

#include "platform/core/Console.hpp"
#include "platform/core/ProcessLifecycle.hpp"
#include "platform/http/CurlErrorCodes.hpp"
#include "platform/http/CurlGateways.hpp"
#include "platform/http/CurlGlobal.hpp"
#include "platform/http/ReplyHeadReader.hpp"
#include "platform/http/RequestFields.hpp"
#include "platform/http/SessionDataTask.hpp"
#include "platform/http/Sessions.hpp"
#include "platform/http/TransportError.hpp"
#include "platform/http/TrustedCertificates.hpp"

#include <curl/curl.h>
#include <openssl/ssl.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <limits>
#include <map>
#include <mutex>
#include <optional>
#include <string_view>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <utility>

#include <pthread.h>
#include <signal.h>

namespace orbisgrove::platform::http {
namespace {

constexpr long maximumRedirects = 5;
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
constexpr double defaultTimeoutSeconds = 60;
// A request cannot ask for more than a day; keeps the milliseconds in a long.
constexpr double longestTimeoutSeconds = 24.0 * 60 * 60;
// The loop sleeps at most this long when no transfer runs; curl_multi_wakeup
// ends the wait sooner.
constexpr int idlePollMilliseconds = 60 * 1000;
// While transfers run, libcurl may hold some without a timer of its own (a
// transfer waiting for a free connection to its host is one); it asks not to
// be left alone for long then.
constexpr int busyPollMilliseconds = 200;
// libcurl's receive buffer is allocated for every transfer, also one that
// waits for a connection. While as many transfers run as there are
// connections, each gets libcurl's default, which takes a whole TLS record
// in one read; beyond that, when hundreds may wait, a quarter of it keeps a
// waiting request small (the replies are small JSON).
constexpr long roomyReceiveBufferBytes = 16L * 1024;
constexpr long smallReceiveBufferBytes = 4L * 1024;
constexpr long smallestUploadBufferBytes = 16L * 1024;
// Transfers handed to libcurl per origin; more wait in the session's own line.
// libcurl would hold every one of hundreds of requests as a transfer with its
// buffers and walk them all whenever a connection comes free; a few beyond
// the connections keep each connection busy, and HTTP/2 several streams.
constexpr std::size_t admittedTransfersPerOrigin = 4 * connectionsPerHost;

// Everything that belongs to one transfer on the wire. Only the delivery thread
// touches it; it stays at one address because libcurl holds pointers into it.
struct Transfer {
  CURL* easy = nullptr;
  curl_slist* headerList = nullptr;
  std::size_t maximumBodyBytes = 0;
  std::string body;
  bool bodyTooLarge = false;
  ReplyHeadReader head;
  // A body that must not go out twice is handed to libcurl from here; null
  // when libcurl sends (and may resend) the body itself.
  const std::string* bodyOnce = nullptr;
  std::size_t bodyBytesHandedOver = 0;
  bool resendRefused = false;
  // libcurl was about to write the request (CURLOPT_PREREQFUNCTION ran).
  bool requestStarted = false;
  // The task's start hook refused the request there: nothing was written.
  bool startRefused = false;
  SessionDataTask* task = nullptr;
  std::shared_ptr<const TrustedCertificates> trust;
  std::optional<std::string> trustProblem;
  // libcurl keeps pointers to these texts while the transfer runs.
  std::optional<std::string> proxy;
  std::string pins;
  char errorBuffer[CURL_ERROR_SIZE] = {};

  Transfer() = default;
  Transfer(const Transfer&) = delete;
  Transfer& operator=(const Transfer&) = delete;
  ~Transfer() {
    if (easy != nullptr) curl_easy_cleanup(easy);
    curl_slist_free_all(headerList);
  }
};

std::size_t receiveBody(char* data, std::size_t size, std::size_t count, void* context) {
  auto* transfer = static_cast<Transfer*>(context);
  const std::size_t length = size * count;
  if (length > transfer->maximumBodyBytes - transfer->body.size()) {
    transfer->bodyTooLarge = true;
    return CURL_WRITEFUNC_ERROR;
  }
  transfer->body.append(data, length);
  return length;
}

// A 307 or 308 says "not processed here, send it there": the body goes to
// the new URL once. Any other rewind would send it again after a connection
// died, when the first copy may have been read.
bool takeRedirect(Transfer& transfer) {
  long status = 0;
  curl_easy_getinfo(transfer.easy, CURLINFO_RESPONSE_CODE, &status);
  if (!transfer.head.redirectKeepsTheBody() || (status != 307 && status != 308)) return false;
  transfer.bodyBytesHandedOver = 0;
  // What follows is a new request: the one redirected was not processed.
  transfer.requestStarted = false;
  transfer.head.beginAgain();
  return true;
}

// Hands libcurl the body of a request that must reach the server at most
// once. libcurl stops asking once it holds a body of the announced size, so
// being asked again means it is about to send the request a second time.
std::size_t sendBodyOnce(char* buffer, std::size_t size, std::size_t count, void* context) {
  auto* transfer = static_cast<Transfer*>(context);
  const std::string& body = *transfer->bodyOnce;
  if (transfer->bodyBytesHandedOver == body.size() && !body.empty() && !takeRedirect(*transfer)) {
    transfer->resendRefused = true;
    return CURL_READFUNC_ABORT;
  }
  const std::size_t length = std::min(size * count, body.size() - transfer->bodyBytesHandedOver);
  std::copy_n(body.data() + transfer->bodyBytesHandedOver, length, buffer);
  transfer->bodyBytesHandedOver += length;
  return length;
}

// libcurl rewinds a body only to send it again: allowed for a redirect that
// keeps the method, refused otherwise, so that it fails instead.
int rewindForRedirect(void* context, curl_off_t offset, int origin) {
  auto* transfer = static_cast<Transfer*>(context);
  if (offset == 0 && origin == SEEK_SET && takeRedirect(*transfer)) return CURL_SEEKFUNC_OK;
  transfer->resendRefused = true;
  return CURL_SEEKFUNC_CANTSEEK;
}

// Runs after connect, TLS and any proxy tunnel, before the request's first
// byte is written, and again for each redirected request.
int noteRequestStart(void* context, char* /*primaryIP*/, char* /*localIP*/, int /*primaryPort*/, int /*localPort*/) {
  auto* transfer = static_cast<Transfer*>(context);
  if (!transfer->task->requestStarting()) {
    transfer->startRefused = true;
    return CURL_PREREQFUNC_ABORT;
  }
  transfer->requestStarted = true;
  return CURL_PREREQFUNC_OK;
}

std::size_t receiveHeaderLine(char* data, std::size_t size, std::size_t count, void* context) {
  auto* transfer = static_cast<Transfer*>(context);
  const std::size_t length = size * count;
  switch (transfer->head.take(std::string_view(data, length))) {
    case ReplyHeadReader::Line::tooLarge:
      return 0;
    case ReplyHeadReader::Line::statusLine:
      transfer->body.clear();
      return length;
    case ReplyHeadReader::Line::field:
      return length;
  }
  return length;
}

CURLcode prepareTLSContext(CURL* /*easy*/, void* sslContext, void* context) {
  auto* transfer = static_cast<Transfer*>(context);
  X509_STORE* store = SSL_CTX_get_cert_store(static_cast<SSL_CTX*>(sslContext));
  if (store == nullptr) return CURLE_SSL_CACERT_BADFILE;
  if (auto problem = transfer->trust->addTo(store)) {
    transfer->trustProblem = std::move(problem);
    return CURLE_SSL_CACERT_BADFILE;
  }
  return CURLE_OK;
}

// Whether any of the request can have reached the server: libcurl was about
// to write it, took body bytes, or an answer came. A body libcurl has not
// even taken whole was not written whole: the server cannot act on part of
// a request.
bool mayHaveReachedServer(const Transfer* transfer) {
  if (transfer == nullptr) return false;
  if (transfer->head.sawStatusLine()) return true;
  if (transfer->bodyOnce != nullptr && transfer->bodyBytesHandedOver < transfer->bodyOnce->size()) return false;
  return transfer->requestStarted || transfer->bodyBytesHandedOver > 0;
}

Outcome cancelledOutcome(const URLRequest& request, bool reached = false) {
  return failedOutcome(request, URLErrorCode::cancelled, {}, reached);
}

class SessionCore;

class CurlDataTask;
// Tasks waiting in a line, by the end of their timeouts.
using WaitingDeadlines = std::multimap<std::chrono::steady_clock::time_point, CurlDataTask*>;

// Its completion is claimed with SessionCore::claimCompletion; its state
// changes under SessionCore::mutex_.
class CurlDataTask final : public SessionDataTask, public std::enable_shared_from_this<CurlDataTask> {
 public:
  CurlDataTask(std::shared_ptr<SessionCore> core, URLRequest request, URLSession::CompletionHandler completion,
               URLSession::RequestStartHook onRequestStart)
      : SessionDataTask(std::move(request), std::move(completion), std::move(onRequestStart)), core_(std::move(core)) {}

  void resume() override;
  void cancel() override;

  // Delivery thread only.
  std::unique_ptr<Transfer> transfer;
  std::string origin;                              // whose line it joined
  std::chrono::steady_clock::time_point deadline;  // when its timeout ends
  std::optional<WaitingDeadlines::iterator> waitingEntry;

 private:
  friend class SessionCore;
  std::shared_ptr<SessionCore> core_;
};

class SessionCore final : public ExitParticipant, public std::enable_shared_from_this<SessionCore> {
 public:
  explicit SessionCore(URLSessionConfiguration configuration) : configuration_(std::move(configuration)) {
    for (const auto& file : configuration_.additionalTrustedCertificateFiles) {
      trust_ = TrustedCertificates::adding(trust_, file);
    }
    setProxy(configuration_.proxy);
    setPinnedPublicKeys(configuration_.pinnedPublicKeys);
  }

  void setProxy(std::optional<std::string> proxy) {
    const std::lock_guard lock(mutex_);
    proxy_ = std::move(proxy);
  }

  // libcurl takes several pins as one text, separated by ";".
  void setPinnedPublicKeys(const std::vector<std::string>& pins) {
    std::string joined;
    for (const auto& pin : pins) joined += (joined.empty() ? "" : ";") + pin;
    const std::lock_guard lock(mutex_);
    pins_ = std::move(joined);
  }

  void addTrustedCertificates(const std::string& pemFile) {
    if (owner_.inForkedChild()) return;
    // Read outside the lock: it touches the file system.
    std::shared_ptr<const TrustedCertificates> current;
    {
      const std::lock_guard lock(mutex_);
      current = trust_;
    }
    auto extended = TrustedCertificates::adding(current, pemFile);
    const std::lock_guard lock(mutex_);
    // Another thread may have added a file meanwhile: add this one to theirs.
    trust_ = current == trust_ ? std::move(extended) : TrustedCertificates::adding(trust_, pemFile);
  }

  [[nodiscard]] bool isDeliveryThread() const { return deliveryThread_.load() == std::this_thread::get_id(); }

  void setTimeoutCap(std::optional<double> seconds) { testTimeoutCap_.store(seconds.value_or(0)); }

  void resume(CurlDataTask& task) {
    if (owner_.inForkedChild()) {
      endInForkedChild(task, URLErrorCode::cannotLoadFromNetwork, kForkedChildRequest);
      return;
    }
    // While the process exits nothing starts and no handler runs for it: a
    // handler that starts a new task on failure would otherwise recurse here,
    // on whichever thread called exit().
    if (processExiting()) return;
    if (const std::string* problem = curlSetUpProblem()) {
      auto expected = DataTask::State::suspended;
      if (!task.state_.compare_exchange_strong(expected, DataTask::State::completed)) return;
      task.complete(failedOutcome(task.request_, URLErrorCode::cannotLoadFromNetwork, *problem, false));
      return;
    }
    std::unique_lock lock(mutex_);
    if (exitBegun() || task.state_.load() != DataTask::State::suspended) return;
    if (closed_) {
      // No delivery thread any more: the task ends here, as one cancelled.
      task.state_.store(DataTask::State::completed);
      lock.unlock();
      task.complete(cancelledOutcome(task.request_));
      return;
    }
    task.state_.store(DataTask::State::running);
    if (!startThreadLocked()) {
      task.state_.store(DataTask::State::completed);
      lock.unlock();
      task.complete(failedOutcome(task.request_, URLErrorCode::cannotLoadFromNetwork,
                                  "no delivery thread could be started", false));
      return;
    }
    pendingStarts_.push_back(task.shared_from_this());
    wakeLocked();
  }

  // Once the process exits a cancel changes nothing: a transfer under way
  // goes on to its own end.
  void cancel(CurlDataTask& task) {
    if (owner_.inForkedChild()) {
      endInForkedChild(task, URLErrorCode::cancelled, {});
      return;
    }
    if (processExiting()) return;
    std::unique_lock lock(mutex_);
    const auto state = task.state_.load();
    if (exitBegun() || state == DataTask::State::completed || state == DataTask::State::canceling) return;
    if (closed_ || (state == DataTask::State::suspended && !startThreadLocked())) {
      task.state_.store(DataTask::State::completed);
      lock.unlock();
      task.complete(cancelledOutcome(task.request_));
      return;
    }
    task.state_.store(DataTask::State::canceling);
    pendingCancels_.push_back(task.shared_from_this());
    wakeLocked();
  }

  /// Stops the session for good: what is in flight completes as cancelled on
  /// the delivery thread, which then ends. Joins it unless called on it.
  void close() {
    // A forked child has neither the delivery thread nor a lock it can trust;
    // while the process exits, the exit hook stops the thread.
    if (owner_.inForkedChild() || processExiting()) return;
    std::thread thread;
    {
      const std::lock_guard lock(mutex_);
      if (!closed_) {
        closed_ = true;
        if (stop_ == Stop::none) stop_ = Stop::cancelEverything;
        wakeLocked();
      }
      thread = std::move(thread_);
    }
    if (!thread.joinable()) return;
    if (thread.get_id() == std::this_thread::get_id()) {
      // A completion handler is destroying its own session: the thread ends
      // by itself once the handler has returned.
      thread.detach();
    } else {
      thread.join();
    }
  }

  void beginExitStop(std::chrono::steady_clock::time_point drainUntil) override {
    const std::lock_guard lock(mutex_);
    closed_ = true;
    if (stop_ == Stop::none) stop_ = Stop::exitDrain;
    drainUntil_ = drainUntil;
    wakeLocked();
  }

  void finishExitStop(std::chrono::steady_clock::time_point deadline) override {
    if (isDeliveryThread()) return;  // exit() was called in a completion handler
    std::unique_lock lock(mutex_);
    // From the stop on the delivery thread claims no completion and makes no
    // libcurl call: OpenSSL's own exit-time cleanup follows this hook.
    awaitThreadAtExit(
        std::move(thread_), lock, threadEnded_, [this] { return !threadRunning_; },
        [this] {
          leftAtExit_.store(true);
          stop_ = Stop::exitNow;
          wakeLocked();
        },
        drainUntil_, deadline);
  }

  // Timers of the delivery thread: a small facility of its own beside the
  // transfers, which only shortens the loop's wait.
  void schedule(std::chrono::steady_clock::time_point deadline, std::function<void()> work) {
    const std::lock_guard lock(mutex_);
    if (closed_ || stop_ != Stop::none || !startThreadLocked()) return;
    timers_.emplace(deadline, std::move(work));
    wakeLocked();
  }

  // Runs the due timers; returns milliseconds until the next one, or `wait`.
  int runDueTimers(int wait) {
    for (;;) {
      std::function<void()> work;
      {
        const std::lock_guard lock(mutex_);
        if (timers_.empty() || stop_ != Stop::none) return wait;
        const auto next = timers_.begin();
        const auto now = std::chrono::steady_clock::now();
        if (next->first > now) {
          const auto left = std::chrono::ceil<std::chrono::milliseconds>(next->first - now).count();
          return static_cast<int>(std::min<std::chrono::milliseconds::rep>(left, wait));
        }
        work = std::move(next->second);
        timers_.erase(next);
      }
      try {
        work();
      } catch (...) {  // NOLINT(bugprone-empty-catch): a failing timer must not end the delivery thread
      }
    }
  }

  std::shared_ptr<CurlDataTask> makeTask(URLRequest request, URLSession::CompletionHandler completion,
                                         URLSession::RequestStartHook onRequestStart) {
    return std::make_shared<CurlDataTask>(shared_from_this(), std::move(request), std::move(completion),
                                          std::move(onRequestStart));
  }

 private:
  // At exit the thread first drains (what is under way runs to its end),
  // then, past the budget, stops where it stands.
  enum class Stop { none, cancelEverything, exitDrain, exitNow };

  // Ends a task in a forked child at once, on the calling thread, without the
  // session's lock.
  static void endInForkedChild(CurlDataTask& task, URLErrorCode code, std::string_view detail) {
    auto state = task.state_.load();
    while (state != DataTask::State::completed) {
      if (task.state_.compare_exchange_weak(state, DataTask::State::completed)) {
        task.complete(failedOutcome(task.request_, code, detail, false));
        return;
      }
    }
  }

  [[nodiscard]] bool exitBegun() const { return stop_ == Stop::exitDrain || stop_ == Stop::exitNow; }
  [[nodiscard]] bool leftAtExit() const { return leftAtExit_.load(); }

  bool startThreadLocked() {
    if (threadStarted_) return multi_ != nullptr;
    threadStarted_ = true;
    multi_ = curl_multi_init();
    if (multi_ == nullptr) return false;
    curl_multi_setopt(multi_, CURLMOPT_PIPELINING, static_cast<long>(CURLPIPE_MULTIPLEX));
    curl_multi_setopt(multi_, CURLMOPT_MAX_HOST_CONNECTIONS, connectionsPerHost);
    curl_multi_setopt(multi_, CURLMOPT_MAXCONNECTS, cachedConnections);
    try {
      threadRunning_ = true;
      thread_ = std::thread([core = shared_from_this()] { core->run(); });
    } catch (const std::system_error&) {
      threadRunning_ = false;
      curl_multi_cleanup(multi_);
      multi_ = nullptr;
      return false;
    }
    return true;
  }

  void wakeLocked() {
    // A loop that is not waiting looks at the queues before it next waits,
    // so only a waiting one needs a wake-up, and one per wait is enough. A
    // wake-up the loop does not need would cost it another turn.
    workPending_ = true;
    if (multi_ == nullptr || !polling_ || wakeSent_ || !threadRunning_) return;
    wakeSent_ = true;
    curl_multi_wakeup(multi_);
  }

  // Called by the loop before it waits: how long it may wait, none when work
  // came in since it last looked, so that it looks again instead.
  int beginWait(int wait) {
    if (wait == 0) return 0;
    const std::lock_guard lock(mutex_);
    if (workPending_) return 0;
    polling_ = true;
    return wait;
  }

  // Takes the task for completion; false when someone else already has. Tells
  // whether cancel() came first, in which case the outcome is "cancelled".
  bool claimCompletion(CurlDataTask& task, bool& wasCancelled) {
    const std::lock_guard lock(mutex_);
    const auto state = task.state_.load();
    if (state == DataTask::State::completed || leftAtExit()) return false;
    wasCancelled = state == DataTask::State::canceling;
    task.state_.store(DataTask::State::completed);
    return true;
  }

  // `reusable`: the transfer ended cleanly, so its easy handle may serve the
  // next one (a handle that failed can keep state that refuses options).
  void finish(const std::shared_ptr<CurlDataTask>& task, Outcome outcome, bool reusable = false) {
    if (leftAtExit()) {
      // Kept, untouched: cleaning the handle up is a libcurl call.
      abandoned_.push_back(task);
      return;
    }
    const bool reached = mayHaveReachedServer(task->transfer.get());
    if (reusable && task->transfer && task->transfer->easy != nullptr && idleHandles_.size() < idleHandleLimit) {
      curl_easy_reset(task->transfer->easy);
      idleHandles_.push_back(std::exchange(task->transfer->easy, nullptr));
    }
    task->transfer.reset();
    bool wasCancelled = false;
    if (!claimCompletion(*task, wasCancelled)) return;
    task->complete(wasCancelled ? cancelledOutcome(task->request_, reached) : std::move(outcome));
  }

  // The transfers of one origin: how many libcurl has, and those waiting.
  struct Line {
    std::size_t admitted = 0;
    std::deque<std::shared_ptr<CurlDataTask>> waiting;
  };

  void run();
  // Once the process exits: drops what waits and ends the transfers that
  // have not begun to go out; the others run on to their ends.
  void beginDrain();
  void enqueue(const std::shared_ptr<CurlDataTask>& task);
  void admitWaiting(Line& line);
  // Ends the waiting tasks whose timeouts are over; returns how long the
  // loop may wait for the next one to end, or `wait`.
  int expireWaiting(int wait);
  // A transfer libcurl had is done with it: its place goes to one that waits.
  void released(const CurlDataTask& task);
  void startTransfer(const std::shared_ptr<CurlDataTask>& task);
  void cancelTransfer(const std::shared_ptr<CurlDataTask>& task);
  // Returns how many transfers ended.
  std::size_t collectFinishedTransfers();
  Outcome outcomeOf(CurlDataTask& task, CURLcode result);
  std::optional<std::string> configure(CurlDataTask& task);
  [[nodiscard]] long timeoutMilliseconds(const URLRequest& request) const {
    double seconds = request.timeoutInterval;
    if (!std::isfinite(seconds) || seconds <= 0) seconds = defaultTimeoutSeconds;
    if (configuration_.timeoutCap && *configuration_.timeoutCap > 0)
      seconds = std::min(seconds, *configuration_.timeoutCap);
    if (const double cap = testTimeoutCap_.load(); cap > 0) seconds = std::min(seconds, cap);
    seconds = std::min(seconds, longestTimeoutSeconds);
    return std::max(1L, std::lround(seconds * 1000));
  }

  const URLSessionConfiguration configuration_;
  // fork() copies the session without its delivery thread, and with its lock
  // in whatever state another thread held it.
  const ProcessOwner owner_;
  // Set when the exit budget is spent: the delivery thread stops where it stands.
  std::atomic<bool> leftAtExit_{false};

  mutable std::mutex mutex_;
  std::condition_variable threadEnded_;
  std::shared_ptr<const TrustedCertificates> trust_;
  std::optional<std::string> proxy_;
  std::string pins_;
  std::vector<std::shared_ptr<CurlDataTask>> pendingStarts_;
  std::vector<std::shared_ptr<CurlDataTask>> pendingCancels_;
  Stop stop_ = Stop::none;
  std::chrono::steady_clock::time_point drainUntil_;
  bool closed_ = false;
  bool workPending_ = false;  // queued since the loop last looked
  bool polling_ = false;      // the loop waits in curl_multi_poll
  bool wakeSent_ = false;     // and has been woken
  bool threadStarted_ = false;
  bool threadRunning_ = false;
  CURLM* multi_ = nullptr;
  std::thread thread_;
  std::atomic<std::thread::id> deliveryThread_{};
  std::multimap<std::chrono::steady_clock::time_point, std::function<void()>> timers_;
  // Seconds; 0 for none. Set by tests through URLSession::setTimeoutCapForTesting.
  std::atomic<double> testTimeoutCap_{0};

  // Delivery thread only: the transfers libcurl is working on, which keep
  // their tasks alive until the completion has run.
  std::unordered_map<CURL*, std::shared_ptr<CurlDataTask>> running_;
  // Delivery thread only: the transfers of each origin ("https://host:port").
  std::unordered_map<std::string, Line> lines_;
  // Delivery thread only: the tasks waiting in the lines.
  WaitingDeadlines waitingDeadlines_;
  // Delivery thread only: reset easy handles ready for the next transfers.
  std::vector<CURL*> idleHandles_;
  // Delivery thread only: tasks that ended once the exit budget was spent.
  std::vector<std::shared_ptr<CurlDataTask>> abandoned_;
  // Delivery thread only: the process exits and the thread drains.
  bool draining_ = false;
};

void CurlDataTask::resume() { core_->resume(*this); }
void CurlDataTask::cancel() { core_->cancel(*this); }

void SessionCore::run() {
  deliveryThread_.store(std::this_thread::get_id());
  // A peer that closes while libcurl writes must not kill the process; the
  // signal is blocked on this thread only, where libcurl does all its I/O.
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe, nullptr);

  Stop stop = Stop::none;
  std::chrono::steady_clock::time_point drainUntil;
  for (;;) {
    std::vector<std::shared_ptr<CurlDataTask>> starts;
    std::vector<std::shared_ptr<CurlDataTask>> cancels;
    {
      const std::lock_guard lock(mutex_);
      starts.swap(pendingStarts_);
      cancels.swap(pendingCancels_);
      workPending_ = false;
      polling_ = false;
      wakeSent_ = false;
      stop = stop_;
      drainUntil = drainUntil_;
    }
    if (stop == Stop::exitNow) break;
    if (stop == Stop::exitDrain) {
      // Starts and cancels queued before the exit are dropped, without their
      // handlers; transfers under way run on until they end or the budget does.
      starts.clear();
      cancels.clear();
      if (!draining_) beginDrain();
      if (leftAtExit() || running_.empty() || std::chrono::steady_clock::now() >= drainUntil) break;
    }
    for (const auto& task : cancels) cancelTransfer(task);
    if (stop == Stop::cancelEverything) {
      for (const auto& task : starts) finish(task, cancelledOutcome(task->request_));
      waitingDeadlines_.clear();
      auto lines = std::move(lines_);
      lines_.clear();
      for (auto& [origin, line] : lines) {
        for (const auto& task : line.waiting) finish(task, cancelledOutcome(task->request_));
      }
      auto running = std::move(running_);
      running_.clear();
      for (auto& [easy, task] : running) {
        curl_multi_remove_handle(multi_, easy);
        finish(task, cancelledOutcome(task->request_, mayHaveReachedServer(task->transfer.get())));
      }
      break;
    }
    for (const auto& task : starts) enqueue(task);
    // A completion handler may still be running when the exit budget is
    // spent: once it returns, libcurl is not touched again.
    if (leftAtExit()) break;
    int stillRunning = 0;
    curl_multi_perform(multi_, &stillRunning);
    // A finished transfer frees its connection for one that waits: let libcurl
    // start it at once instead of after the next event.
    const bool finishedAny = collectFinishedTransfers() > 0;
    if (leftAtExit()) break;
    int wait = finishedAny ? 0 : (running_.empty() ? idlePollMilliseconds : busyPollMilliseconds);
    wait = expireWaiting(runDueTimers(wait));
    if (draining_) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(drainUntil - std::chrono::steady_clock::now());
      wait = static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(left.count(), 0, wait));
    }
    curl_multi_poll(multi_, nullptr, 0, beginWait(wait), nullptr);
  }

  CURLM* multi = nullptr;
  {
    const std::lock_guard lock(mutex_);
    // When the process is exiting, libcurl is left exactly as it is: the exit
    // hook must return quickly, and nothing will use the handles again.
    if (!draining_ && !leftAtExit() && stop != Stop::exitNow) {
      multi = multi_;
      multi_ = nullptr;
    }
    threadRunning_ = false;
    deliveryThread_.store(std::thread::id{});
  }
  if (multi != nullptr) {
    for (CURL* easy : idleHandles_) curl_easy_cleanup(easy);
    idleHandles_.clear();
    curl_multi_cleanup(multi);
  }
  threadEnded_.notify_all();
}

void SessionCore::beginDrain() {
  draining_ = true;
  waitingDeadlines_.clear();
  for (auto& [origin, line] : lines_) line.waiting.clear();
  // Whatever such a transfer still waits for (a name, a connection, a
  // handshake) could take the whole budget; it ends now, as never sent.
  std::vector<std::shared_ptr<CurlDataTask>> unsent;
  for (const auto& [easy, task] : running_) {
    if (!mayHaveReachedServer(task->transfer.get())) unsent.push_back(task);
  }
  for (const auto& task : unsent) {
    if (leftAtExit()) return;
    CURL* easy = task->transfer->easy;
    curl_multi_remove_handle(multi_, easy);
    running_.erase(easy);
    finish(task, failedOutcome(task->request_, URLErrorCode::cannotLoadFromNetwork, kProcessExitingBeforeSend, false));
  }
}

void SessionCore::cancelTransfer(const std::shared_ptr<CurlDataTask>& task) {
  if (leftAtExit()) return;
  const bool admitted = task->transfer != nullptr;
  if (admitted) {
    curl_multi_remove_handle(multi_, task->transfer->easy);
    running_.erase(task->transfer->easy);
  }
  finish(task, cancelledOutcome(task->request_));
  // A waiting task stays in its line, which passes over it once completed.
  if (admitted) released(*task);
}

std::string originOf(const URL& url) {
  std::string origin = url.scheme();
  origin += "://";
  origin += url.host();
  if (url.port()) {
    origin += ':';
    origin += std::to_string(*url.port());
  }
  return origin;
}

void SessionCore::enqueue(const std::shared_ptr<CurlDataTask>& task) {
  if (task->state() != DataTask::State::running || draining_) return;
  task->deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMilliseconds(task->request_));
  task->origin = originOf(task->request_.url);
  Line& line = lines_[task->origin];
  if (line.waiting.empty() && line.admitted < admittedTransfersPerOrigin) {
    startTransfer(task);
    return;
  }
  // One that waits longer than its timeout ends then, without a connection.
  task->waitingEntry = waitingDeadlines_.emplace(task->deadline, task.get());
  line.waiting.push_back(task);
}

void SessionCore::admitWaiting(Line& line) {
  while (line.admitted < admittedTransfersPerOrigin && !line.waiting.empty()) {
    const std::shared_ptr<CurlDataTask> task = std::move(line.waiting.front());
    line.waiting.pop_front();
    if (task->waitingEntry) waitingDeadlines_.erase(*std::exchange(task->waitingEntry, std::nullopt));
    if (task->state() == DataTask::State::running) startTransfer(task);
  }
}

int SessionCore::expireWaiting(int wait) {
  const auto now = std::chrono::steady_clock::now();
  while (!waitingDeadlines_.empty() && waitingDeadlines_.begin()->first <= now) {
    // The task stays in its line, which passes over it once completed.
    const std::shared_ptr<CurlDataTask> task = waitingDeadlines_.begin()->second->shared_from_this();
    waitingDeadlines_.erase(waitingDeadlines_.begin());
    task->waitingEntry.reset();
    if (task->state() != DataTask::State::running) continue;
    finish(task, failedOutcome(task->request_, URLErrorCode::timedOut,
                               "the request waited for a connection longer than its timeout", false));
  }
  if (waitingDeadlines_.empty()) return wait;
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(waitingDeadlines_.begin()->first - now).count();
  return static_cast<int>(std::min<std::chrono::milliseconds::rep>(left, wait));
}

void SessionCore::released(const CurlDataTask& task) {
  const auto found = lines_.find(task.origin);
  if (found == lines_.end()) return;
  Line& line = found->second;
  if (line.admitted > 0) --line.admitted;
  admitWaiting(line);
  if (line.admitted == 0 && line.waiting.empty()) lines_.erase(task.origin);
}

void SessionCore::startTransfer(const std::shared_ptr<CurlDataTask>& task) {
  if (task->state() != DataTask::State::running || draining_) {
    // Cancelled before the thread got to it: the queued cancel completes it.
    return;
  }
  if (auto problem = configure(*task)) {
    finish(task, failedOutcome(task->request_, URLErrorCode::unknown, *problem, false));
    return;
  }
  CURL* easy = task->transfer->easy;
  if (curl_multi_add_handle(multi_, easy) != CURLM_OK) {
    finish(task, failedOutcome(task->request_, URLErrorCode::unknown, "libcurl did not accept the transfer", false));
    return;
  }
  running_.emplace(easy, task);
  ++lines_[task->origin].admitted;
}

std::optional<std::string> SessionCore::configure(CurlDataTask& task) {
  const URLRequest& request = task.request_;
  auto transfer = std::make_unique<Transfer>();
  transfer->task = &task;
  transfer->maximumBodyBytes = configuration_.maximumBodyBytes;
  {
    const std::lock_guard lock(mutex_);
    transfer->trust = trust_;
    transfer->proxy = proxy_;
    transfer->pins = pins_;
  }
  if (idleHandles_.empty()) {
    transfer->easy = curl_easy_init();
  } else {
    transfer->easy = idleHandles_.back();
    idleHandles_.pop_back();
  }
  if (transfer->easy == nullptr) return "libcurl could not create a transfer";
  CURL* easy = transfer->easy;

  // Header fields: exactly the caller's, less those the protocol owns. curl's
  // default Accept is removed, and "Expect:" keeps 100-continue from ever
  // holding a body back.
  bool hasAccept = false;
  bool hasContentType = false;
  for (const auto& [name, value] : request.allHTTPHeaderFields) {
    if (!isToken(name) || !isSafeHeaderValue(value)) {
      return "the header field \"" + name + "\" cannot be sent: its name or value is not valid";
    }
    if (isManagedByProtocol(name)) continue;
    hasAccept = hasAccept || equalsIgnoringCase(name, "Accept");
    hasContentType = hasContentType || equalsIgnoringCase(name, "Content-Type");
    // "Name;" is libcurl's way of sending a field with an empty value.
    const std::string line = value.empty() ? name + ";" : name + ": " + value;
    curl_slist* extended = curl_slist_append(transfer->headerList, line.c_str());
    if (extended == nullptr) return "out of memory";
    transfer->headerList = extended;
  }
  for (const char* line : {hasAccept ? nullptr : "Accept:", hasContentType ? nullptr : "Content-Type:", "Expect:"}) {
    if (line == nullptr) continue;
    curl_slist* extended = curl_slist_append(transfer->headerList, line);
    if (extended == nullptr) return "out of memory";
    transfer->headerList = extended;
  }

  bool ok = true;
  const auto set = [&ok](CURLcode result) { ok = ok && result == CURLE_OK; };
  set(curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, transfer->errorBuffer));
  set(curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L));
  set(curl_easy_setopt(easy, CURLOPT_URL, request.url.absoluteString().c_str()));
  set(curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "https"));
  set(curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "https"));
  set(curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L));
  set(curl_easy_setopt(easy, CURLOPT_MAXREDIRS, maximumRedirects));
  set(curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L));
  set(curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L));
  set(curl_easy_setopt(easy, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2)));
  if (const char* authorities = hashedSystemAuthorities()) {
    // The same system authorities, found by subject hash as the chain needs
    // them instead of all parsed from the bundle for each new connection.
    set(curl_easy_setopt(easy, CURLOPT_CAINFO, nullptr));
    set(curl_easy_setopt(easy, CURLOPT_CAPATH, authorities));
  }
  // HTTP/2 when the server offers it in ALPN; several requests then share
  // one connection, and PIPEWAIT lets them wait for it rather than open more.
  curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_2TLS));
  if (!request.allowsTransportResend) set(sendAloneOnARecentConnection(easy));
  set(curl_easy_setopt(easy, CURLOPT_PIPEWAIT, 1L));
  set(curl_easy_setopt(easy, CURLOPT_TCP_KEEPALIVE, 1L));
  curl_easy_setopt(
      easy, CURLOPT_BUFFERSIZE,
      std::cmp_less(running_.size(), connectionsPerHost) ? roomyReceiveBufferBytes : smallReceiveBufferBytes);
  set(curl_easy_setopt(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L));
  set(curl_easy_setopt(easy, CURLOPT_HTTPHEADER, transfer->headerList));
  set(curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, receiveBody));
  set(curl_easy_setopt(easy, CURLOPT_WRITEDATA, static_cast<void*>(transfer.get())));
  set(curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, receiveHeaderLine));
  set(curl_easy_setopt(easy, CURLOPT_HEADERDATA, static_cast<void*>(transfer.get())));
  // Every encoding libcurl can decode is asked for and undone on the way in:
  // receiveBody sees the decoded bytes, so the body limit holds for what a
  // reply expands to.
  set(curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, ""));
  set(curl_easy_setopt(easy, CURLOPT_PREREQFUNCTION, noteRequestStart));
  set(curl_easy_setopt(easy, CURLOPT_PREREQDATA, static_cast<void*>(transfer.get())));
  // libcurl refuses a reply whose Content-Length is too large before any of
  // it arrives; receiveBody covers replies without one.
  constexpr auto largestOffset = static_cast<std::size_t>(std::numeric_limits<curl_off_t>::max());
  set(curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE,
                       static_cast<curl_off_t>(std::min(configuration_.maximumBodyBytes, largestOffset))));
  // Without a proxy setting libcurl follows the proxy environment variables.
  // An explicit proxy serves every host: no_proxy has no say then.
  if (transfer->proxy) {
    set(curl_easy_setopt(easy, CURLOPT_PROXY, transfer->proxy->c_str()));
    if (!transfer->proxy->empty()) set(curl_easy_setopt(easy, CURLOPT_NOPROXY, ""));
  }
  if (!transfer->pins.empty()) set(curl_easy_setopt(easy, CURLOPT_PINNEDPUBLICKEY, transfer->pins.c_str()));
  if (transfer->trust && !transfer->trust->empty()) {
    set(curl_easy_setopt(easy, CURLOPT_SSL_CTX_FUNCTION, prepareTLSContext));
    set(curl_easy_setopt(easy, CURLOPT_SSL_CTX_DATA, static_cast<void*>(transfer.get())));
  }

  // What is left of the timeout, which began when the task reached the line.
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(task.deadline - std::chrono::steady_clock::now());
  set(curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, std::max<long>(1, static_cast<long>(left.count()))));

  // The body goes out from the task's own request, which outlives the
  // transfer, so libcurl need not copy it. POST by its own option, so that a
  // 301/302/303 redirect turns it into a GET as browsers do. A body that may
  // go out only once is handed over through a callback that rewinds only for
  // a 307 or 308: libcurl fails where it would send the request again.
  const std::string& method = request.httpMethod;
  const auto sendBody = [&] {
    set(curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.httpBody.size())));
    // libcurl allocates a 64 KiB upload buffer for every request with a body,
    // even one it sends from the caller's memory; the smallest it allows
    // holds every form the kit sends.
    set(curl_easy_setopt(easy, CURLOPT_UPLOAD_BUFFERSIZE, smallestUploadBufferBytes));
    if (request.allowsTransportResend) {
      set(curl_easy_setopt(easy, CURLOPT_POSTFIELDS, request.httpBody.data()));
      return;
    }
    transfer->bodyOnce = &request.httpBody;
    set(curl_easy_setopt(easy, CURLOPT_POST, 1L));
    set(curl_easy_setopt(easy, CURLOPT_READFUNCTION, sendBodyOnce));
    set(curl_easy_setopt(easy, CURLOPT_READDATA, static_cast<void*>(transfer.get())));
    set(curl_easy_setopt(easy, CURLOPT_SEEKFUNCTION, rewindForRedirect));
    set(curl_easy_setopt(easy, CURLOPT_SEEKDATA, static_cast<void*>(transfer.get())));
  };
  if (method == "GET") {
    set(curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L));
  } else if (method == "HEAD") {
    set(curl_easy_setopt(easy, CURLOPT_NOBODY, 1L));
  } else if (method == "POST") {
    sendBody();
  } else if (isToken(method)) {
    if (!request.httpBody.empty()) sendBody();
    set(curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, method.c_str()));
  } else {
    return "the method \"" + method + "\" is not valid";
  }
  if (!ok) return "libcurl rejected the request's options";
  task.transfer = std::move(transfer);
  return std::nullopt;
}

std::size_t SessionCore::collectFinishedTransfers() {
  std::size_t finished = 0;
  int queued = 0;
  while (CURLMsg* message = leftAtExit() ? nullptr : curl_multi_info_read(multi_, &queued)) {
    if (message->msg != CURLMSG_DONE) continue;
    CURL* easy = message->easy_handle;
    const CURLcode result = message->data.result;
    const auto entry = running_.find(easy);
    if (entry == running_.end()) continue;
    auto task = std::move(entry->second);
    running_.erase(entry);
    curl_multi_remove_handle(multi_, easy);
    finish(task, outcomeOf(*task, result), result == CURLE_OK);
    released(*task);
    ++finished;
  }
  return finished;
}

Outcome SessionCore::outcomeOf(CurlDataTask& task, CURLcode result) {
  Transfer& transfer = *task.transfer;
  std::string effective = task.request_.url.absoluteString();
  char* effectiveURL = nullptr;
  if (curl_easy_getinfo(transfer.easy, CURLINFO_EFFECTIVE_URL, &effectiveURL) == CURLE_OK && effectiveURL != nullptr) {
    effective = effectiveURL;
  }
  long status = 0;
  curl_easy_getinfo(transfer.easy, CURLINFO_RESPONSE_CODE, &status);

  std::shared_ptr<const HTTPURLResponse> response;
  if (status > 0 && transfer.head.complete()) {
    // Without a redirect the reply's URL is the request's, already parsed.
    URL url = effective == task.request_.url.absoluteString() ? task.request_.url
                                                              : URL::fromString(effective).value_or(task.request_.url);
    long version = CURL_HTTP_VERSION_NONE;
    curl_easy_getinfo(transfer.easy, CURLINFO_HTTP_VERSION, &version);
    const int major = version == CURL_HTTP_VERSION_3 ? 3 : version == CURL_HTTP_VERSION_2_0 ? 2 : 1;
    response = std::make_shared<const SessionHTTPURLResponse>(std::move(url), status, std::move(transfer.head.fields()),
                                                              major);
  }
  if (result == CURLE_OK) return Outcome{std::move(transfer.body), std::move(response), nullptr};

  long verifyResult = 0;
  curl_easy_getinfo(transfer.easy, CURLINFO_SSL_VERIFYRESULT, &verifyResult);
  URLErrorCode code = urlErrorCodeFor(result, verifyResult);
  std::string detail;
  if (transfer.startRefused) {
    code = URLErrorCode::cannotLoadFromNetwork;
    detail = kRequestHeldBack;
  } else if (transfer.head.tooLarge()) {
    code = URLErrorCode::badServerResponse;
    detail = "the reply's header fields exceed " + std::to_string(maximumHeaderBytes) + " bytes";
  } else if (auto refusal = proxyRefusal(transfer.easy, transfer.proxy)) {
    code = URLErrorCode::cannotConnectToHost;
    detail = std::move(*refusal);
  } else if (transfer.bodyTooLarge) {
    code = URLErrorCode::dataLengthExceedsMaximum;
    detail = bodyTooLargeDetail(transfer.maximumBodyBytes);
  } else if (transfer.resendRefused) {
    code = URLErrorCode::networkConnectionLost;
    // A resend after a lost connection.
    detail = "libcurl would have sent the request's body a second time, and it goes out at most once";
  } else if (transfer.trustProblem) {
    detail = *transfer.trustProblem;
  } else {
    detail = "libcurl: ";
    detail += transfer.errorBuffer[0] != '\0' ? transfer.errorBuffer : curl_easy_strerror(result);
  }
  // A reply whose head arrived stays useful to the caller (its status and
  // rate-limit fields) even when its body was cut short or refused.
  return Outcome{std::nullopt, std::move(response),
                 makeTransportError(code, detail, effective, mayHaveReachedServer(&transfer))};
}

class CurlSession final : public URLSession {
 public:
  explicit CurlSession(URLSessionConfiguration configuration)
      : core_(std::make_shared<SessionCore>(std::move(configuration))) {
    // libcurl first: its initialisation registers the exit hook in its place.
    ensureCurlGlobalInit();
    stopAtExit(core_);
  }
  ~CurlSession() override { core_->close(); }
  CurlSession(const CurlSession&) = delete;
  CurlSession& operator=(const CurlSession&) = delete;

  std::shared_ptr<DataTask> dataTask(URLRequest request, CompletionHandler completion,
                                     RequestStartHook onRequestStart) override {
    return core_->makeTask(std::move(request), std::move(completion), std::move(onRequestStart));
  }
  void addTrustedCertificates(std::string pemFile) override { core_->addTrustedCertificates(pemFile); }
  void setProxy(std::optional<std::string> proxy) override { core_->setProxy(std::move(proxy)); }
  void setPinnedPublicKeys(std::vector<std::string> pins) override { core_->setPinnedPublicKeys(pins); }
  [[nodiscard]] bool isDeliveryThread() const override { return core_->isDeliveryThread(); }
  void setTimeoutCapForTesting(std::optional<double> seconds) override { core_->setTimeoutCap(seconds); }
  void scheduleOnDeliveryThread(std::chrono::steady_clock::time_point deadline, std::function<void()> work) override {
    core_->schedule(deadline, std::move(work));
  }

 private:
  std::shared_ptr<SessionCore> core_;
};

}  // namespace

std::unique_ptr<URLSession> makeCurlSession(URLSessionConfiguration configuration) {
  return std::make_unique<CurlSession>(std::move(configuration));
}

}  // namespace orbisgrove::platform::http
