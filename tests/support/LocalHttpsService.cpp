#include "LocalHttpsService.hpp"

#include "ScratchFiles.hpp"

#include "TestAuthorities.hpp"

#include <httplib.h>
#include <openssl/ssl.h>

#include <algorithm>
#include <cctype>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <unordered_set>

#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

namespace orbisgrove::testing {
namespace {

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
  });
}

// The service closes connections under its peers on purpose; a write to such
// a connection must fail with EPIPE instead of killing the test process. Only
// the service's own threads are changed.
void blockBrokenPipeSignal() {
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
}

// One thread per connection, so that stalled requests and idle keep-alive
// connections never starve the others (httplib's pool has a fixed size). A
// service sees few connections in its life: threads are joined when it stops.
class ThreadPerConnection final : public httplib::TaskQueue {
 public:
  void enqueue(std::function<void()> work) override {
    const std::lock_guard lock(mutex_);
    threads_.emplace_back([work = std::move(work)] {
      blockBrokenPipeSignal();
      work();
    });
  }

  void shutdown() override {
    std::vector<std::thread> threads;
    {
      const std::lock_guard lock(mutex_);
      threads.swap(threads_);
    }
    for (auto& thread : threads) thread.join();
  }

 private:
  std::mutex mutex_;
  std::vector<std::thread> threads_;
};

// httplib reports the peer's address as pseudo header fields; they were not sent.
bool isPseudoHeader(const std::string& name) {
  return name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" || name == "LOCAL_PORT";
}

}  // namespace

// ---- RecordedRequest -------------------------------------------------------

std::optional<std::string> RecordedRequest::header(std::string_view name) const {
  for (const auto& [field, value] : headers) {
    if (equalsIgnoringCase(field, name)) return value;
  }
  return std::nullopt;
}

std::vector<std::string> RecordedRequest::headerNames() const {
  std::vector<std::string> names;
  for (const auto& field : headers) names.push_back(field.first);
  std::sort(names.begin(), names.end());
  return names;
}

std::string shortFieldName(std::size_t index) {
  static constexpr std::string_view digits = "0123456789abcdefghijklmnopqrstuvwxyz";
  return {digits[index / (36 * 36) % 36], digits[index / 36 % 36], digits[index % 36]};
}

// ---- Reply -----------------------------------------------------------------

Reply Reply::withStatus(int status, std::string body) { return Reply{status, {}, std::move(body)}; }
Reply Reply::json(std::string body, int status) {
  return withStatus(status, std::move(body)).withHeader("Content-Type", "application/json");
}
Reply Reply::text(std::string body, int status) {
  return withStatus(status, std::move(body)).withHeader("Content-Type", "text/plain; charset=utf-8");
}
Reply Reply::redirect(std::string location, int status) {
  return withStatus(status).withHeader("Location", std::move(location));
}
Reply Reply::closeConnection() { return Reply{.misbehaviour = Misbehaviour::closeBeforeAnswering}; }
Reply Reply::halfBodyThenClose(std::string body, int status) {
  return Reply{status, {}, std::move(body), Misbehaviour::halfBodyThenClose};
}
Reply Reply::stalled() { return Reply{}.stalledUntilReleased(); }
Reply Reply::withHeader(std::string name, std::string value) && {
  headers.emplace_back(std::move(name), std::move(value));
  return std::move(*this);
}
Reply Reply::stalledUntilReleased() && {
  stall = true;
  return std::move(*this);
}
Reply Reply::inChunks() && {
  chunked = true;
  return std::move(*this);
}

// ---- LocalHttpsService -----------------------------------------------------

struct LocalHttpsService::State {
  // What the service knows of one TLS connection, attached to its SSL object
  // and freed with it.
  struct Connection {
    State* state = nullptr;
    std::uint64_t identifier = 0;
    int socket = -1;
  };

  mutable std::mutex mutex;
  mutable std::condition_variable changed;
  std::deque<Reply> queue;
  Reply defaultReply;
  Handler handler;
  std::vector<RecordedRequest> requests;
  std::size_t stalled = 0;
  std::uint64_t releases = 0;
  bool stopping = false;
  std::uint64_t lastConnection = 0;
  std::unordered_set<int> openSockets;

  std::string directory;
  tools::LoopbackCertificates certificates;
  std::unique_ptr<httplib::SSLServer> server;
  std::thread listener;
  int port = -1;

  static int connectionIndex() {
    static const int index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, &State::freeConnection);
    return index;
  }
  static int contextIndex() {
    static const int index = SSL_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
  }

  // OpenSSL calls this from SSL_free, which httplib does before it closes the
  // socket: the socket number leaves the set before it can be reused.
  static void freeConnection(void* /*parent*/, void* pointer, CRYPTO_EX_DATA* /*data*/, int /*index*/, long /*arg*/,
                             void* /*argp*/) {
    auto* connection = static_cast<Connection*>(pointer);
    if (connection == nullptr) return;
    {
      const std::lock_guard lock(connection->state->mutex);
      connection->state->openSockets.erase(connection->socket);
    }
    delete connection;
  }

  // Numbers each TLS connection when its handshake starts, and closes it at
  // once when the service is already stopping.
  static void onTLSEvent(const SSL* ssl, int where, int /*value*/) {
    if ((where & SSL_CB_HANDSHAKE_START) == 0 || SSL_get_ex_data(ssl, connectionIndex()) != nullptr) return;
    auto* self = static_cast<State*>(SSL_CTX_get_ex_data(SSL_get_SSL_CTX(ssl), contextIndex()));
    if (self == nullptr) return;
    auto connection = std::make_unique<Connection>();
    connection->state = self;
    connection->socket = SSL_get_fd(ssl);
    {
      const std::lock_guard lock(self->mutex);
      connection->identifier = ++self->lastConnection;
      self->openSockets.insert(connection->socket);
      if (self->stopping) ::shutdown(connection->socket, SHUT_RDWR);
    }
    // OpenSSL hands callbacks a const SSL but attaching data is what ex_data is for.
    SSL_set_ex_data(const_cast<SSL*>(ssl), connectionIndex(), connection.release());
  }

  static std::uint64_t connectionOf(const httplib::Request& request) {
    if (request.ssl == nullptr) return 0;
    const auto* connection = static_cast<const Connection*>(SSL_get_ex_data(request.ssl, connectionIndex()));
    return connection != nullptr ? connection->identifier : 0;
  }

  static void closeConnectionOf(const httplib::Request& request) {
    if (request.ssl != nullptr) ::shutdown(SSL_get_fd(request.ssl), SHUT_RDWR);
  }

  template <typename Body>
  auto locked(Body&& body) const {
    const std::lock_guard lock(mutex);
    return body();
  }

  // Waits until `until` holds or the service stops; true when `until` held.
  template <typename Predicate>
  bool waitUnlessStopping(std::unique_lock<std::mutex>& lock, Predicate until) {
    changed.wait(lock, [&] { return stopping || until(); });
    return !stopping;
  }

  void handle(const httplib::Request& request, httplib::Response& response) {
    RecordedRequest recorded;
    recorded.method = request.method;
    recorded.target = request.target;
    for (const auto& [name, value] : request.headers) {
      if (!isPseudoHeader(name)) recorded.headers.emplace_back(name, value);
    }
    recorded.body = request.body;
    recorded.connection = connectionOf(request);

    Reply reply;
    Handler decide;
    {
      const std::lock_guard lock(mutex);
      requests.push_back(recorded);
      if (!queue.empty()) {
        reply = std::move(queue.front());
        queue.pop_front();
      } else if (handler) {
        decide = handler;
      } else {
        reply = defaultReply;
      }
    }
    changed.notify_all();
    if (decide) reply = decide(recorded);

    if (reply.stall) {
      std::unique_lock lock(mutex);
      const std::uint64_t releasesBefore = releases;
      ++stalled;
      changed.notify_all();
      const bool released = waitUnlessStopping(lock, [&] { return releases != releasesBefore; });
      --stalled;
      lock.unlock();
      changed.notify_all();
      if (!released) {
        closeConnectionOf(request);
        return;
      }
    }

    switch (reply.misbehaviour) {
      case Reply::Misbehaviour::closeBeforeAnswering:
        // httplib then fails to write its own answer to the closed socket.
        closeConnectionOf(request);
        return;
      case Reply::Misbehaviour::halfBodyThenClose:
        answerHalf(request, reply, response);
        return;
      case Reply::Misbehaviour::none:
        break;
    }
    const std::string contentType = takeHeaders(reply, response);
    if (reply.chunked) {
      auto body = std::make_shared<std::string>(std::move(reply.body));
      response.set_chunked_content_provider(contentType.empty() ? "application/octet-stream" : contentType,
                                            [body](std::size_t offset, httplib::DataSink& sink) {
                                              constexpr std::size_t chunk = 16 * 1024;
                                              if (offset >= body->size()) {
                                                sink.done();
                                                return true;
                                              }
                                              const std::size_t length = std::min(chunk, body->size() - offset);
                                              return sink.write(body->data() + offset, length);
                                            });
      return;
    }
    if (!contentType.empty()) response.headers.emplace("Content-Type", contentType);
    response.body = std::move(reply.body);
  }

  // Sets the status and the header fields but Content-Type, which it returns.
  static std::string takeHeaders(const Reply& reply, httplib::Response& response) {
    response.status = reply.status;
    std::string contentType;
    for (const auto& [name, value] : reply.headers) {
      if (equalsIgnoringCase(name, "Content-Type")) {
        contentType = value;
      } else {
        response.headers.emplace(name, value);
      }
    }
    return contentType;
  }

  static void answerHalf(const httplib::Request& request, const Reply& reply, httplib::Response& response) {
    const std::string contentType = takeHeaders(reply, response);
    auto body = std::make_shared<std::string>(reply.body);
    const int socket = request.ssl != nullptr ? SSL_get_fd(request.ssl) : -1;
    response.set_content_provider(body->size(), contentType.empty() ? "application/octet-stream" : contentType,
                                  [body, socket](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                                    if (offset == 0 && !body->empty()) sink.write(body->data(), body->size() / 2);
                                    if (socket >= 0) ::shutdown(socket, SHUT_RDWR);
                                    return false;
                                  });
  }

  void stop() {
    {
      const std::lock_guard lock(mutex);
      if (stopping) return;
      stopping = true;
      // Idle keep-alive connections would otherwise hold their threads until
      // the client closed them.
      for (const int socket : openSockets) ::shutdown(socket, SHUT_RDWR);
    }
    changed.notify_all();
    if (server) server->stop();
    if (listener.joinable()) listener.join();
    server.reset();
    std::error_code ignored;
    if (!directory.empty()) std::filesystem::remove_all(directory, ignored);
  }
};

LocalHttpsService::LocalHttpsService(const std::vector<std::string>& certificateNames)
    : state_(std::make_shared<State>()) {
  State& state = *state_;
  state.directory = freshDirectory("orbisgrove-https");
  try {
    state.certificates = makeTestCertificates(state.directory, certificateNames);
    const auto certificates = state.certificates;
    State* raw = state_.get();
    state.server = std::make_unique<httplib::SSLServer>([certificates, raw](SSL_CTX& context) {
      if (SSL_CTX_use_certificate_chain_file(&context, certificates.serverCertificateFile.c_str()) != 1) return false;
      if (SSL_CTX_use_PrivateKey_file(&context, certificates.serverPrivateKeyFile.c_str(), SSL_FILETYPE_PEM) != 1) {
        return false;
      }
      if (SSL_CTX_check_private_key(&context) != 1) return false;
      SSL_CTX_set_min_proto_version(&context, TLS1_2_VERSION);
      SSL_CTX_set_ex_data(&context, State::contextIndex(), raw);
      SSL_CTX_set_info_callback(&context, &State::onTLSEvent);
      return true;
    });
    if (!state.server->is_valid()) throw std::runtime_error("LocalHttpsService: TLS set-up failed");
    state.server->new_task_queue = [] { return new ThreadPerConnection; };
    state.server->set_keep_alive_max_count(1000000);
    state.server->set_keep_alive_timeout(60);
    // Head and body go out in separate writes; without this, Nagle and the
    // client's delayed ACK cost 40 ms per reply on a kept-alive connection.
    state.server->set_tcp_nodelay(true);
    const auto handler = [raw](const httplib::Request& request, httplib::Response& response) {
      raw->handle(request, response);
    };
    state.server->Get(".*", handler);
    state.server->Post(".*", handler);
    state.server->Put(".*", handler);
    state.port = state.server->bind_to_any_port("127.0.0.1");
    if (state.port <= 0) throw std::runtime_error("LocalHttpsService: cannot bind to 127.0.0.1");
    state.listener = std::thread([raw] {
      blockBrokenPipeSignal();
      raw->server->listen_after_bind();
    });
    // httplib's stop() does nothing until its loop runs, so a service
    // destroyed at once would otherwise wait for that loop for ever.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!state.server->is_running()) {
      if (std::chrono::steady_clock::now() > deadline) throw std::runtime_error("LocalHttpsService: did not start");
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  } catch (...) {
    state.stop();
    throw;
  }
}

LocalHttpsService::~LocalHttpsService() { state_->stop(); }

int LocalHttpsService::port() const { return state_->port; }

std::string LocalHttpsService::hostAndPort() const { return "127.0.0.1:" + std::to_string(port()); }

std::string LocalHttpsService::url(std::string_view path) const {
  return "https://" + hostAndPort() + std::string(path);
}

const std::string& LocalHttpsService::caFile() const { return state_->certificates.caCertificateFile; }
const std::string& LocalHttpsService::certificateFile() const { return state_->certificates.serverCertificateFile; }

void LocalHttpsService::setDefaultReply(Reply reply) {
  state_->locked([&] { state_->defaultReply = std::move(reply); });
}
void LocalHttpsService::enqueue(Reply reply) {
  state_->locked([&] { state_->queue.push_back(std::move(reply)); });
}
void LocalHttpsService::setHandler(Handler handler) {
  state_->locked([&] { state_->handler = std::move(handler); });
}
std::vector<RecordedRequest> LocalHttpsService::requests() const {
  return state_->locked([&] { return state_->requests; });
}
std::size_t LocalHttpsService::requestCount() const {
  return state_->locked([&] { return state_->requests.size(); });
}
std::size_t LocalHttpsService::connectionCount() const {
  return state_->locked([&] {
    std::set<std::uint64_t> connections;
    for (const auto& request : state_->requests) connections.insert(request.connection);
    return connections.size();
  });
}
std::size_t LocalHttpsService::handshakeCount() const {
  return state_->locked([&] { return static_cast<std::size_t>(state_->lastConnection); });
}

bool LocalHttpsService::waitForRequests(std::size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(state_->mutex);
  return state_->changed.wait_for(lock, timeout, [&] { return state_->requests.size() >= count; });
}

bool LocalHttpsService::waitForStalled(std::size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(state_->mutex);
  return state_->changed.wait_for(lock, timeout, [&] { return state_->stalled >= count; });
}

void LocalHttpsService::releaseStalled() {
  state_->locked([&] { ++state_->releases; });
  state_->changed.notify_all();
}

}  // namespace orbisgrove::testing
