// nginx from the system in front of a test service on 127.0.0.1, as real
// deployments put a gateway in front of the service: a configuration made
// for the test, a private scratch directory for its pid file, temporary
// files, logs and static files, and its own loopback certificate.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace orbisgrove::testing {

struct NginxGatewayOptions {
  /// "host:port" of the HTTPS service that "location /" passes requests to.
  std::string upstream;
  /// Offer HTTP/2 in ALPN beside HTTP/1.1.
  bool http2 = false;
  /// Directives of the http block (limit_req_zone, ...).
  std::string httpDirectives;
  /// Directives of the server block, before its "location /" (which must not be
  /// given again); "return 503;" answers every request itself.
  std::string serverDirectives;
};

/// One line of the access log per request nginx answered.
struct GatewayLogLine {
  int status = 0;
  long long bytesSent = 0;      // the whole reply on the wire (before TLS)
  long long bodyBytesSent = 0;  // its body, as encoded
  std::string acceptEncoding;
};

class NginxGateway {
 public:
  /// Starts nginx and waits until it listens; throws std::runtime_error
  /// (with nginx's error log) when nginx is missing or does not start.
  explicit NginxGateway(NginxGatewayOptions options);
  ~NginxGateway();
  NginxGateway(const NginxGateway&) = delete;
  NginxGateway& operator=(const NginxGateway&) = delete;

  /// "127.0.0.1:<port>".
  [[nodiscard]] std::string hostAndPort() const;
  /// PEM of the authority that signed nginx's certificate.
  [[nodiscard]] const std::string& caFile() const;
  /// Its document root, for static files ("gzip_static always").
  [[nodiscard]] std::string documentRoot() const;
  [[nodiscard]] std::vector<GatewayLogLine> accessLog() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

/// A port on 127.0.0.1 that nothing listened on a moment ago.
int unusedLoopbackPort();

}  // namespace orbisgrove::testing
