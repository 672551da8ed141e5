// An HTTPS service on 127.0.0.1 for tests: it records every request, answers
// from a script, and misbehaves on request. Its certificate is signed by an
// authority of its own (caFile()), which the kit's session trusts after
// platform::addTrustedCertificates(service.caFile()).
//
// A request gets the next queued reply (enqueue), else what the handler
// returns (setHandler), else the default reply (initially 200, empty body).
// Every call is thread-safe; the destructor stops the service, dropping
// stalled requests unanswered. A client may send a request again on a new
// connection when a reused one closes without an answer (the kit's session
// only with allowsTransportResend); the second takes the next reply.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace orbisgrove::testing {

/// Header fields in the order received (or to be sent), names as spelled.
using HeaderList = std::vector<std::pair<std::string, std::string>>;

/// One request as it arrived.
struct RecordedRequest {
  std::string method;
  std::string target;  // path and query as sent
  HeaderList headers;  // names as the client spelled them
  std::string body;
  /// The TLS connection it came on, numbered from 1: equal numbers mean a reused connection.
  std::uint64_t connection = 0;

  /// The value of the field called `name` in any letter case.
  [[nodiscard]] std::optional<std::string> header(std::string_view name) const;
  /// The field names exactly as sent, sorted.
  [[nodiscard]] std::vector<std::string> headerNames() const;
};

/// A header field name of three characters, different for each `index` below
/// 36^3 in any letter case.
std::string shortFieldName(std::size_t index);

/// What the service does with one request.
struct Reply {
  enum class Misbehaviour {
    none,
    closeBeforeAnswering,  // closes the connection without sending anything
    halfBodyThenClose,     // sends the head (full Content-Length) and half the body, then closes
  };

  int status = 200;
  /// Sent as given, with Content-Length (and Content-Type "text/plain" for a body without one) added.
  HeaderList headers{};
  std::string body{};
  Misbehaviour misbehaviour = Misbehaviour::none;
  bool chunked = false;  // the body in chunks, without a Content-Length
  bool stall = false;    // held until releaseStalled(), then answered as above

  static Reply withStatus(int status, std::string body = {});
  static Reply json(std::string body, int status = 200);
  static Reply text(std::string body, int status = 200);
  static Reply redirect(std::string location, int status = 302);
  static Reply closeConnection();
  static Reply halfBodyThenClose(std::string body, int status = 200);
  /// A request held until released (then answered 200 with an empty body).
  static Reply stalled();

  /// This reply with one more header field.
  [[nodiscard]] Reply withHeader(std::string name, std::string value) &&;
  /// This reply, held until released, then answered as it is.
  [[nodiscard]] Reply stalledUntilReleased() &&;
  /// This reply with its body sent in chunks.
  [[nodiscard]] Reply inChunks() &&;
};

class LocalHttpsService {
 public:
  using Handler = std::function<Reply(const RecordedRequest&)>;

  /// Starts the service, its certificate made for `certificateNames` only (any
  /// other name fails host verification); throws std::runtime_error when it cannot.
  explicit LocalHttpsService(const std::vector<std::string>& certificateNames = {"localhost", "127.0.0.1", "::1"});
  ~LocalHttpsService();
  LocalHttpsService(const LocalHttpsService&) = delete;
  LocalHttpsService& operator=(const LocalHttpsService&) = delete;

  [[nodiscard]] int port() const;
  /// "127.0.0.1:<port>": what a client given a host (and port) needs.
  [[nodiscard]] std::string hostAndPort() const;
  /// "https://127.0.0.1:<port>" followed by `path`.
  [[nodiscard]] std::string url(std::string_view path = "/") const;
  /// PEM file of the authority that signed the service's certificate.
  [[nodiscard]] const std::string& caFile() const;
  /// PEM file of the service's own certificate.
  [[nodiscard]] const std::string& certificateFile() const;

  void setDefaultReply(Reply reply);
  /// Queues a reply for the next request that arrives.
  void enqueue(Reply reply);
  /// Decides replies once the queue is empty; an empty function removes it.
  /// Runs on the service's connection threads.
  void setHandler(Handler handler);

  /// Every request so far, in order of arrival.
  [[nodiscard]] std::vector<RecordedRequest> requests() const;
  [[nodiscard]] std::size_t requestCount() const;
  /// Number of different connections that requests came on.
  [[nodiscard]] std::size_t connectionCount() const;
  /// Number of TLS handshakes begun so far (one per connection accepted).
  [[nodiscard]] std::size_t handshakeCount() const;
  /// Waits until `count` requests have arrived; false on time-out.
  bool waitForRequests(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;

  /// Waits until `count` requests are held at once; false on time-out.
  bool waitForStalled(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
  /// Lets every request held now be answered.
  void releaseStalled();

 private:
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace orbisgrove::testing
