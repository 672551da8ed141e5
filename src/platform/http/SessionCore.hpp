// The session core: what every platform session does whatever carries its
// requests. It takes tasks from any thread onto its delivery loop, keeps the
// tasks its backend has and a line per origin for those the backend cannot
// take yet, applies the timeout policy, and ends every task exactly once: by
// the backend's outcome, a cancel, a time-out, close() or a fork.
#pragma once

#include "platform/http/DeliveryLoop.hpp"
#include "platform/http/SessionBackend.hpp"
#include "platform/http/SessionDataTask.hpp"
#include "platform/http/URLSession.hpp"

#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace orbisgrove::platform::http {

class SessionCore final : public DeliveryLoop {
 public:
  SessionCore(std::unique_ptr<SessionBackend> backend, URLSessionConfiguration configuration);

  // Any thread.

  std::shared_ptr<SessionDataTask> makeTask(URLRequest request, URLSession::CompletionHandler completion,
                                            URLSession::RequestStartHook onRequestStart);
  void resume(SessionDataTask& task);
  // Once the process exits a cancel changes nothing: a request under way
  // goes on to its own end.
  void cancel(SessionDataTask& task);
  void addTrustedCertificates(const std::string& pemFile);
  void setProxy(std::optional<std::string> proxy);
  void setPinnedPublicKeys(const std::vector<std::string>& pins);

  [[nodiscard]] const URLSessionConfiguration& configuration() const { return configuration_; }
  /// Seconds a request may take: its own timeout (60 when it has none),
  /// within the configuration's cap and requestTimeoutCapForTests, and a
  /// day at the most.
  [[nodiscard]] double timeoutSeconds(const URLRequest& request) const;
  std::shared_ptr<SessionCore> self() { return std::static_pointer_cast<SessionCore>(shared_from_this()); }

  // On the delivery thread, for the backend.

  /// Ends `task` with `outcome` unless it has ended already; when cancel()
  /// came first it ends cancelled, `reached` telling whether any of the
  /// request may have reached the server. Its place in its line goes to one
  /// that waits. Returns whether this call ended the task.
  bool end(const std::shared_ptr<SessionDataTask>& task, Outcome outcome, bool reached);

 private:
  // The transfers of one origin: how many the backend has, and those waiting.
  struct Line {
    std::size_t admitted = 0;
    std::deque<std::shared_ptr<SessionDataTask>> waiting;
  };

  Clock::time_point turn() override;
  void beginDrain() override;
  [[nodiscard]] bool drained() const override { return running_.empty(); }
  void endEverything() override;

  void endRefused(SessionDataTask& task);
  // A resumed task reaches the delivery thread: it starts, or waits in its line.
  void arrive(const std::shared_ptr<SessionDataTask>& task);
  void cancelHere(const std::shared_ptr<SessionDataTask>& task);
  void startTransfer(const std::shared_ptr<SessionDataTask>& task);
  void admitWaiting(Line& line);
  // Ends the waiting tasks whose timeouts are over; returns when the next one's is.
  Clock::time_point expireWaiting();
  // A transfer the backend had is done with it: its place goes to one that waits.
  void released(const SessionDataTask& task);

  const std::unique_ptr<SessionBackend> backend_;
  const URLSessionConfiguration configuration_;

  // Delivery thread only: the tasks the backend has, kept alive until they
  // end; the transfers of each origin ("https://host:port"); the tasks
  // waiting in the lines by the end of their timeouts; and whether the
  // process exits and the thread drains.
  std::unordered_map<std::uint64_t, std::shared_ptr<SessionDataTask>> running_;
  std::unordered_map<std::string, Line> lines_;
  std::multimap<Clock::time_point, SessionDataTask*> waitingDeadlines_;
  bool draining_ = false;
};

}  // namespace orbisgrove::platform::http
