#include "NginxGateway.hpp"

#include "TestAuthorities.hpp"

#include "ScratchFiles.hpp"

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <sstream>
#include <stdexcept>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace orbisgrove::testing {
namespace {

std::string nginxProgram() {
  for (const char* candidate : {"/usr/sbin/nginx", "/usr/local/sbin/nginx", "/usr/bin/nginx"}) {
    if (::access(candidate, X_OK) == 0) return candidate;
  }
  throw std::runtime_error("nginx is not installed (scripts/bootstrap.sh installs it)");
}

bool accepts(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool connected = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return connected;
}

std::string configuration(const NginxGatewayOptions& options, const std::string& directory,
                          const tools::LoopbackCertificates& certificates, int port) {
  std::ostringstream text;
  // Running as root, nginx would hand its workers to "nobody", who cannot
  // enter the private scratch directory.
  if (::geteuid() == 0) text << "user root;\n";
  text << "daemon off;\nworker_processes 1;\npid " << directory << "/nginx.pid;\n"
       << "events { worker_connections 512; }\n"
       << "http {\n"
       << "  log_format gateway '$status $bytes_sent $body_bytes_sent \"$http_accept_encoding\"';\n"
       << "  access_log " << directory << "/access.log gateway;\n";
  for (const char* kind : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"}) {
    text << "  " << kind << "_temp_path " << directory << "/" << kind << ";\n";
  }
  text << "  default_type application/json;\n"
       << options.httpDirectives << "\n"
       << "  server {\n"
       << "    listen 127.0.0.1:" << port << " ssl" << (options.http2 ? " http2" : "") << ";\n"
       << "    ssl_certificate " << certificates.serverCertificateFile << ";\n"
       << "    ssl_certificate_key " << certificates.serverPrivateKeyFile << ";\n"
       << "    root " << directory << "/html;\n"
       << options.serverDirectives << "\n"
       << "    location / {\n"
       << "      proxy_pass https://" << options.upstream << ";\n"
       << "      proxy_ssl_verify off;\n"
       << "    }\n"
       << "  }\n"
       << "}\n";
  return text.str();
}

}  // namespace

int unusedLoopbackPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) throw std::runtime_error("no socket");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ::close(fd);
    throw std::runtime_error("no free port on 127.0.0.1");
  }
  ::close(fd);
  return ntohs(address.sin_port);
}

struct NginxGateway::State {
  ScratchDirectory directory{"orbisgrove-nginx"};
  tools::LoopbackCertificates certificates;
  int port = 0;
  pid_t pid = -1;

  void stop() {
    if (pid <= 0) return;
    ::kill(pid, SIGTERM);
    int status = 0;
    ::waitpid(pid, &status, 0);
    pid = -1;
  }
};

NginxGateway::NginxGateway(NginxGatewayOptions options) : state_(std::make_unique<State>()) {
  const std::string program = nginxProgram();
  State& state = *state_;
  const std::string& directory = state.directory.path();
  std::filesystem::create_directories(directory + "/html");
  state.certificates = makeTestCertificates(directory);
  state.port = unusedLoopbackPort();
  const std::string conf = directory + "/nginx.conf";
  const std::string errorLog = directory + "/error.log";
  std::ofstream(conf) << configuration(options, directory, state.certificates, state.port);
  state.pid = ::fork();
  if (state.pid < 0) throw std::runtime_error("cannot start nginx");
  if (state.pid == 0) {
    // nginx goes with the test process, however that ends.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    ::execl(program.c_str(), program.c_str(), "-p", directory.c_str(), "-c", conf.c_str(), "-e", errorLog.c_str(),
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!accepts(state.port)) {
    int status = 0;
    if (::waitpid(state.pid, &status, WNOHANG) == state.pid) state.pid = -1;
    if (state.pid < 0 || std::chrono::steady_clock::now() > deadline) {
      state.stop();
      throw std::runtime_error("nginx did not start:\n" + contentsOf(errorLog));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

NginxGateway::~NginxGateway() { state_->stop(); }

std::string NginxGateway::hostAndPort() const { return "127.0.0.1:" + std::to_string(state_->port); }
const std::string& NginxGateway::caFile() const { return state_->certificates.caCertificateFile; }
std::string NginxGateway::documentRoot() const { return state_->directory / "html"; }

std::vector<GatewayLogLine> NginxGateway::accessLog() const {
  std::vector<GatewayLogLine> lines;
  std::istringstream log(contentsOf(state_->directory / "access.log"));
  GatewayLogLine line;
  while (log >> line.status >> line.bytesSent >> line.bodyBytesSent >> std::quoted(line.acceptEncoding)) {
    lines.push_back(line);
  }
  return lines;
}

}  // namespace orbisgrove::testing
