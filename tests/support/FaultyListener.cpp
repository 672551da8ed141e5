#include "FaultyListener.hpp"

#include "TestAuthorities.hpp"

#include "ScratchFiles.hpp"

#include <openssl/ssl.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

namespace orbisgrove::testing {
namespace {

// Closing with a zero linger time sends RST instead of FIN.
void resetConnection(int socket) {
  const linger abrupt{1, 0};
  ::setsockopt(socket, SOL_SOCKET, SO_LINGER, &abrupt, sizeof abrupt);
  ::close(socket);
}

// Reads the request head and, with `body`, the body its Content-Length
// announces (a server that acts on the request has all of it), or until the
// peer gives up.
void readRequest(SSL* ssl, bool body) {
  std::string request;
  char buffer[4096];
  std::size_t end = std::string::npos;
  const auto complete = [&] {
    if (end == std::string::npos) end = request.find("\r\n\r\n");
    if (end == std::string::npos) return false;
    if (!body) return true;
    std::string head = request.substr(0, end);
    for (char& c : head) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const auto field = head.find("\r\ncontent-length:");
    const std::size_t length = field == std::string::npos ? 0 : std::strtoul(head.c_str() + field + 17, nullptr, 10);
    return request.size() >= end + 4 + length;
  };
  while (!complete() && request.size() < (std::size_t{1} << 20)) {
    const int received = SSL_read(ssl, buffer, sizeof buffer);
    if (received <= 0) return;
    request.append(buffer, static_cast<std::size_t>(received));
  }
}

}  // namespace

struct FaultyListener::State {
  Fault fault;
  int listening = -1;
  int wake[2] = {-1, -1};
  int port = 0;
  std::string directory;
  tools::LoopbackCertificates certificates;
  SSL_CTX* context = nullptr;
  std::thread thread;

  mutable std::mutex mutex;
  mutable std::condition_variable changed;
  std::size_t accepted = 0;
  std::size_t faulted = 0;
  // Quiet connections, closed when the listener goes.
  std::vector<int> held;
  std::vector<SSL*> heldSessions;

  // Counts a connection that reached its fault; a quiet one is kept open.
  void reachedFault(int socket = -1, SSL* ssl = nullptr) {
    {
      const std::lock_guard lock(mutex);
      ++faulted;
      if (socket >= 0) held.push_back(socket);
      if (ssl != nullptr) heldSessions.push_back(ssl);
    }
    changed.notify_all();
  }

  void serve(int socket) {
    if (fault == Fault::silentHandshake) {
      reachedFault(socket);
      return;
    }
    // The faults without TLS read the client's first bytes (a proxy's: the
    // whole CONNECT head), answer in plain text or not at all, and close.
    static const std::map<Fault, std::string> plainAnswers = {
        {Fault::garbageInsteadOfTLS, "HTTP/1.1 400 Bad Request\r\nContent-Length: 12\r\n\r\nnot TLS here"},
        {Fault::closeDuringHandshake, ""},
        {Fault::proxyForbidsTunnel, "HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n"},
        {Fault::proxyWantsCredentials,
         "HTTP/1.1 407 Proxy Authentication Required\r\n"
         "Proxy-Authenticate: Basic realm=\"gateway\"\r\nContent-Length: 0\r\n\r\n"}};
    if (const auto plain = plainAnswers.find(fault); plain != plainAnswers.end()) {
      const bool proxy = fault == Fault::proxyForbidsTunnel || fault == Fault::proxyWantsCredentials;
      std::string head;
      char buffer[1024];
      ssize_t received = 0;
      do {
        received = ::recv(socket, buffer, sizeof buffer, 0);
        if (received > 0) head.append(buffer, static_cast<std::size_t>(received));
      } while (proxy && received > 0 && head.find("\r\n\r\n") == std::string::npos);
      (void)::send(socket, plain->second.data(), plain->second.size(), MSG_NOSIGNAL);
      reachedFault();
      ::close(socket);
      return;
    }

    SSL* ssl = SSL_new(context);
    SSL_set_fd(ssl, socket);
    if (SSL_accept(ssl) != 1) {
      SSL_free(ssl);
      ::close(socket);
      return;
    }
    readRequest(ssl, fault != Fault::resetAfterRequestHead);
    if (fault != Fault::resetBeforeStatusLine && fault != Fault::resetAfterRequestHead) {
      std::string part =
          "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 100000\r\n\r\n"
          R"({"response":"201","data":[)";
      for (int i = 0; part.size() < 2000; ++i) part += R"({"reportId":")" + std::to_string(i) + R"("},)";
      SSL_write(ssl, part.data(), static_cast<int>(part.size()));
      // Lets the client take in the head and the first bytes before the fault.
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (fault == Fault::silentInBody) {
      reachedFault(socket, ssl);
      return;
    }
    reachedFault();
    SSL_free(ssl);  // no close_notify: the connection just breaks
    resetConnection(socket);
  }

  void run() {
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
    for (;;) {
      pollfd waits[2] = {{listening, POLLIN, 0}, {wake[0], POLLIN, 0}};
      if (::poll(waits, 2, -1) < 0) continue;
      if (waits[1].revents != 0) return;
      const int socket = ::accept4(listening, nullptr, nullptr, SOCK_CLOEXEC);
      if (socket < 0) continue;
      // A client that stops talking must not keep the listener from stopping.
      const timeval patience{5, 0};
      ::setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
      {
        const std::lock_guard lock(mutex);
        ++accepted;
      }
      serve(socket);
    }
  }
};

FaultyListener::FaultyListener(Fault fault) : state_(std::make_shared<State>()) {
  State& state = *state_;
  state.fault = fault;
  state.directory = freshDirectory("orbisgrove-faulty");
  state.certificates = makeTestCertificates(state.directory);
  state.context = SSL_CTX_new(TLS_server_method());
  if (state.context == nullptr ||
      SSL_CTX_use_certificate_chain_file(state.context, state.certificates.serverCertificateFile.c_str()) != 1 ||
      SSL_CTX_use_PrivateKey_file(state.context, state.certificates.serverPrivateKeyFile.c_str(), SSL_FILETYPE_PEM) !=
          1) {
    throw std::runtime_error("FaultyListener: TLS set-up failed");
  }
  SSL_CTX_set_alpn_select_cb(
      state.context,
      [](SSL*, const unsigned char** out, unsigned char* outLength, const unsigned char*, unsigned, void*) {
        // HTTP/1.1 only: the faults are written as HTTP/1.1.
        static constexpr unsigned char http11[] = "http/1.1";
        *out = http11;
        *outLength = sizeof http11 - 1;
        return SSL_TLSEXT_ERR_OK;
      },
      nullptr);

  state.listening = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fault == Fault::resetAfterRequestHead) {
    // A small window, inherited by every connection: a large body cannot
    // all sit in the kernel's buffers by the time the reset comes.
    const int small = 4096;
    ::setsockopt(state.listening, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (state.listening < 0 || ::bind(state.listening, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(state.listening, 64) != 0 ||
      ::getsockname(state.listening, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
      ::pipe2(state.wake, O_CLOEXEC) != 0) {
    throw std::runtime_error("FaultyListener: cannot listen on 127.0.0.1");
  }
  state.port = ntohs(address.sin_port);
  state.thread = std::thread([raw = state_.get()] { raw->run(); });
}

FaultyListener::~FaultyListener() {
  State& state = *state_;
  (void)::write(state.wake[1], "x", 1);
  if (state.thread.joinable()) state.thread.join();
  for (SSL* ssl : state.heldSessions) SSL_free(ssl);
  for (const int socket : state.held) ::close(socket);
  ::close(state.listening);
  ::close(state.wake[0]);
  ::close(state.wake[1]);
  SSL_CTX_free(state.context);
  std::error_code ignored;
  std::filesystem::remove_all(state.directory, ignored);
}

std::string FaultyListener::hostAndPort() const { return "127.0.0.1:" + std::to_string(state_->port); }

const std::string& FaultyListener::caFile() const { return state_->certificates.caCertificateFile; }

std::size_t FaultyListener::connectionCount() const {
  const std::lock_guard lock(state_->mutex);
  return state_->accepted;
}

bool FaultyListener::waitForFaults(std::size_t count) const {
  std::unique_lock lock(state_->mutex);
  return state_->changed.wait_for(lock, std::chrono::seconds(10), [&] { return state_->faulted >= count; });
}

}  // namespace orbisgrove::testing
