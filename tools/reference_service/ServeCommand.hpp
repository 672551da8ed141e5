// `orbisgrove-feedback serve`: runs the reference service in the foreground
// until SIGINT or SIGTERM.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace orbisgrove::tools {

/// Usage line(s) of the serve command, ending in a newline.
std::string serveCommandUsage();

/// `arguments` are the words after "serve":
///   [--port N] [--bind ADDR] [--store FILE] [--rate-limit N] [--rate-interval SECONDS]
/// (also --name=value; --help prints the usage). Once listening it writes
///   listening on https://HOST:PORT/explore-api/v1.2/
///   trust this CA: /path/ca.pem
/// to `out`, flushes, and waits for SIGINT or SIGTERM. Returns 0 after such a
/// signal, 1 when the service cannot start (reason on `err`) and 2 for a usage
/// error (message and usage on `err`).
///
/// The two signals are blocked in the calling thread while it runs, so the
/// server threads it starts inherit the block and the signal reaches the
/// waiting thread only; the caller should have started no other threads that
/// leave them unblocked.
int runServeCommand(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);

/// The same with standard output and standard error.
int runServeCommand(const std::vector<std::string>& arguments);

}  // namespace orbisgrove::tools
