// An HTTPS service on 127.0.0.1 for tests: it records every request and
// answers from a script, and can misbehave on request.
//
// The service listens on an ephemeral port with a certificate made for it at
// start-up (valid for "localhost", "127.0.0.1" and "::1") and signed by an
// authority of its own, whose PEM file caFile() names. The kit's shared
// session trusts it after platform::addTrustedCertificates(service.caFile()).
//
// Which reply a request gets: the next queued one (enqueue) if any, else what
// the handler returns (setHandler) if one is set, else the default reply
// (setDefaultReply; initially 200 with an empty body).
//
// Every call is thread-safe. The destructor stops the service, also while
// requests are stalled (they are dropped without an answer).
//
// Good to know when scripting misbehaviour: a client (libcurl among them)
// that sent a request on a reused connection which then closes without any
// answer may send it again on a new connection (the kit's session does so only
// for requests with allowsTransportResend), and the second takes the next reply.
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
  /// Path and query as sent, e.g. "/explore-api/v1.2/".
  std::string target;
  /// Header fields with their names exactly as the client spelled them.
  HeaderList headers;
  /// The body's raw bytes.
  std::string body;
  /// The TLS connection it came on: 1 for the service's first connection, 2
  /// for the next, and so on. Equal numbers mean a reused connection.
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
    /// Close the connection without sending anything.
    closeBeforeAnswering,
    /// Send the head (with the full Content-Length) and half of the body,
    /// then close the connection.
    halfBodyThenClose,
  };

  int status = 200;
  /// Sent as given; the service adds Content-Length (and Content-Type
  /// "text/plain" when the body is not empty and no Content-Type is given).
  HeaderList headers{};
  std::string body{};
  Misbehaviour misbehaviour = Misbehaviour::none;
  /// Sends the body in chunks without a Content-Length.
  bool chunked = false;
  /// Holds the request until releaseStalled(); then it is answered as above.
  /// A request still held when the service stops gets no answer.
  bool stall = false;

  static Reply withStatus(int status, std::string body = {});
  static Reply json(std::string body, int status = 200);
  static Reply text(std::string body, int status = 200);
  static Reply redirect(std::string location, int status = 302);
  static Reply closeConnection();
  static Reply halfBodyThenClose(std::string body, int status = 200);
  /// A request held until released (then answered 200 with an empty body).
  static Reply stalled();

  /// A copy with one more header field.
  [[nodiscard]] Reply withHeader(std::string name, std::string value) const&;
  [[nodiscard]] Reply withHeader(std::string name, std::string value) &&;
  /// A copy that is held until released, then answered like this one.
  [[nodiscard]] Reply stalledUntilReleased() const;
  /// A copy whose body is sent in chunks.
  [[nodiscard]] Reply inChunks() const;

 private:
  Reply&& with(bool Reply::*flag) && {
    this->*flag = true;
    return std::move(*this);
  }
};

struct LocalHttpsServiceOptions {
  /// Names the server certificate is made for; a client that connects by
  /// any other name fails host verification.
  std::vector<std::string> certificateNames{"localhost", "127.0.0.1", "::1"};
  /// Clients talk HTTP/2 (and only that) to a front process (python3-h2) that
  /// hands each request to the service and sends its reply back with lower-case
  /// field names. Requests are recorded as the service received them from the
  /// front (connection numbers are the front's); a misbehaving reply resets
  /// its stream.
  bool http2 = false;
};

class LocalHttpsService {
 public:
  using Handler = std::function<Reply(const RecordedRequest&)>;

  /// Starts the service; throws std::runtime_error when it cannot.
  LocalHttpsService();
  explicit LocalHttpsService(LocalHttpsServiceOptions options);
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
  /// Number of TLS handshakes begun so far (one per connection accepted;
  /// includes connections that never carried a request).
  [[nodiscard]] std::size_t handshakeCount() const;
  /// Waits until `count` requests have arrived; false on time-out.
  bool waitForRequests(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;

  /// Waits until `count` requests are held at once; false on time-out.
  bool waitForStalled(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
  /// Lets every request held now be answered.
  void releaseStalled();

  /// Stops listening and closes every connection; also done by the destructor.
  void stop();

 private:
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace orbisgrove::testing
