#include "ReferenceService.hpp"

#include <httplib.h>

#include <signal.h>
#include <stdlib.h>
#include <chrono>
#include <thread>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <system_error>
#include <utility>

#include <loopback_tls/LoopbackCertificates.hpp>

#include "ExploreEndpoint.hpp"

namespace orbisgrove::tools {
namespace {

// Enough for a few parallel clients; the library's default sizes its pool for
// a production machine.
constexpr std::size_t kServerThreads = 4;
constexpr std::size_t kMaxBodyBytes = 1 << 20;
// A client that keeps its connection open must not hold up stop() for long.
constexpr time_t kKeepAliveSeconds = 1;

bool isWildcard(const std::string& address) { return address.empty() || address == "0.0.0.0" || address == "::"; }

std::string announcedHost(const std::string& bindAddress) {
  if (bindAddress.empty() || bindAddress == "0.0.0.0") return "127.0.0.1";
  if (bindAddress == "::") return "::1";
  return bindAddress;
}

std::string formatHostAndPort(const std::string& bindAddress, std::uint16_t port) {
  const std::string host = announcedHost(bindAddress);
  const bool ipv6 = host.find(':') != std::string::npos;
  return (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

std::string makePrivateTemporaryDirectory() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = (base != nullptr && *base != '\0') ? base : "/tmp";
  pattern += "/orbisgrove-reference-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  // mkdtemp creates the directory with mode 0700: the private key stays ours.
  if (mkdtemp(buffer.data()) == nullptr) {
    throw std::runtime_error("cannot create a temporary directory for the certificates (" + pattern +
                             "): " + std::system_category().message(errno));
  }
  return std::string(buffer.data());
}

void ignoreSigpipeUnlessHandled() {
  struct sigaction current {};
  if (sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);
  }
}

EndpointRequest toEndpointRequest(const httplib::Request& request) {
  return {request.method, request.path, request.get_header_value("Content-Type"), request.body, request.remote_addr};
}

std::string reasonFor(int status) {
  switch (status) {
    case 400:
      return "The request could not be read.";
    case 404:
      return "There is nothing here.";
    case 413:
      return "The request body is too large.";
    case 414:
      return "The request target is too long.";
    default:
      return "The request could not be handled (HTTP " + std::to_string(status) + ").";
  }
}

void applyReply(const EndpointReply& reply, httplib::Response& response) {
  response.status = reply.status;
  for (const auto& [name, value] : reply.headers) response.set_header(name, value);
  response.set_content(reply.body, "application/json");
}

}  // namespace

struct ReferenceService::Server {
  httplib::SSLServer https;
  std::atomic<bool> listenerDone{false};

  Server(const std::string& certificate, const std::string& key) : https(certificate.c_str(), key.c_str()) {}
};

ReferenceService::ReferenceService(ReferenceServiceOptions options) : options_(std::move(options)) {}

ReferenceService::~ReferenceService() {
  stop();
  if (!ownedDirectory_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(ownedDirectory_, ignored);
  }
}

void ReferenceService::start() {
  std::lock_guard lock(mutex_);
  if (server_) throw std::logic_error("the reference service is already running");

  // Everything that can fail on bad options or files happens before the
  // socket is bound, so a failed start leaves nothing behind.
  FixedWindowRateLimiter limiter(options_.submissionsPerInterval, options_.rateInterval);
  ReportStore store(options_.storeFile);

  std::string directory = options_.certificateDirectory;
  if (directory.empty()) {
    if (ownedDirectory_.empty()) ownedDirectory_ = makePrivateTemporaryDirectory();
    directory = ownedDirectory_;
  }
  std::vector<std::string> names = {"localhost", "127.0.0.1", "::1"};
  if (!isWildcard(options_.bindAddress) && std::find(names.begin(), names.end(), options_.bindAddress) == names.end()) {
    names.push_back(options_.bindAddress);
  }
  const LoopbackCertificates certificates = generateLoopbackCertificates(directory, names);

  auto server = std::make_unique<Server>(certificates.serverCertificateFile, certificates.serverPrivateKeyFile);
  httplib::SSLServer& https = server->https;
  if (!https.is_valid()) {
    throw std::runtime_error("cannot load the server certificate and key from " + directory);
  }

  // The library's default also sets SO_REUSEPORT, which would let a second
  // service share a busy port instead of failing to start.
  https.set_socket_options([](socket_t socket) {
    const int on = 1;
    setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  });
  // A reply's head and body leave in separate writes: with Nagle's algorithm
  // the body waits for the client's delayed acknowledgement, some 40 ms.
  https.set_tcp_nodelay(true);

  errno = 0;
  int boundPort = -1;
  if (options_.port == 0) {
    boundPort = https.bind_to_any_port(options_.bindAddress);
  } else if (https.bind_to_port(options_.bindAddress, options_.port)) {
    boundPort = options_.port;
  }
  if (boundPort <= 0) {
    const int error = errno;
    std::string message = "cannot listen on " + formatHostAndPort(options_.bindAddress, options_.port);
    if (options_.port == 0) message = "cannot listen on " + options_.bindAddress + " (any port)";
    if (error != 0) message += ": " + std::system_category().message(error);
    throw std::runtime_error(message);
  }
  const auto port = static_cast<std::uint16_t>(boundPort);

  auto endpoint = std::make_shared<ExploreEndpoint>(formatHostAndPort(options_.bindAddress, port), options_.clock,
                                                    std::move(store), std::move(limiter));
  const auto afterStore = options_.afterStore;
  const auto handler = [endpoint, afterStore, server = server.get()](const httplib::Request& request,
                                                                     httplib::Response& response) {
    const std::size_t before = endpoint->reportCount();
    applyReply(endpoint->handle(toEndpointRequest(request)), response);
    if (afterStore == ReferenceServiceOptions::AfterStore::reply || endpoint->reportCount() == before) return;
    if (afterStore == ReferenceServiceOptions::AfterStore::stall) {
      while (server->https.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(50));
      return;
    }
    // A provider that gives up closes the connection once the head is out.
    const std::size_t length = response.body.size();
    response.body.clear();
    response.set_content_provider(length, "application/json",
                                  [](std::size_t, std::size_t, httplib::DataSink&) { return false; });
  };
  // Every path and method goes to the endpoint, which decides between 404
  // and 405 itself.
  const std::string anyPath = ".*";
  https.Get(anyPath, handler);
  https.Post(anyPath, handler);
  https.Put(anyPath, handler);
  https.Patch(anyPath, handler);
  https.Delete(anyPath, handler);
  https.Options(anyPath, handler);
  // Errors the library raises itself (unparsable request, body too large)
  // still get the service's error envelope; replies the endpoint built
  // already have a body and are left alone.
  https.set_error_handler([](const httplib::Request&, httplib::Response& response) {
    if (response.body.empty()) {
      response.set_content(errorEnvelope(response.status, {reasonFor(response.status)}), "application/json");
    }
  });
  https.set_exception_handler([](const httplib::Request&, httplib::Response& response, std::exception_ptr) {
    response.status = 500;
    response.set_content(errorEnvelope(500, {"Internal error."}), "application/json");
  });
  https.set_payload_max_length(kMaxBodyBytes);
  https.set_keep_alive_timeout(kKeepAliveSeconds);
  https.new_task_queue = [] { return new httplib::ThreadPool(kServerThreads); };

  ignoreSigpipeUnlessHandled();
  Server* raw = server.get();
  listener_ = std::thread([raw] {
    raw->https.listen_after_bind();
    raw->listenerDone = true;
  });
  // The library's stop() only acts once its accept loop runs; waiting for it
  // here makes stop() right after start() safe.
  while (!raw->https.is_running() && !raw->listenerDone) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  if (raw->listenerDone) {
    listener_.join();
    throw std::runtime_error("the service on " + formatHostAndPort(options_.bindAddress, port) + " stopped at once");
  }

  server_ = std::move(server);
  endpoint_ = std::move(endpoint);
  port_ = port;
  caCertificateFile_ = certificates.caCertificateFile;
}

void ReferenceService::stop() {
  std::lock_guard lock(mutex_);
  if (!server_) return;
  server_->https.stop();
  if (listener_.joinable()) listener_.join();
  server_.reset();
}

bool ReferenceService::isRunning() const {
  std::lock_guard lock(mutex_);
  return server_ != nullptr;
}

std::uint16_t ReferenceService::port() const {
  std::lock_guard lock(mutex_);
  return port_;
}

std::string ReferenceService::hostAndPort() const {
  std::lock_guard lock(mutex_);
  return formatHostAndPort(options_.bindAddress, port_);
}

std::string ReferenceService::serviceUrl() const { return "https://" + hostAndPort() + std::string(kExplorePath); }

std::string ReferenceService::caCertificateFile() const {
  std::lock_guard lock(mutex_);
  return caCertificateFile_;
}

std::size_t ReferenceService::reportCount() const {
  std::lock_guard lock(mutex_);
  return endpoint_ ? endpoint_->reportCount() : 0;
}

std::vector<StoredReport> ReferenceService::reports() const {
  std::lock_guard lock(mutex_);
  return endpoint_ ? endpoint_->reports() : std::vector<StoredReport>{};
}

}  // namespace orbisgrove::tools
