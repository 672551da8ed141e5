#include "ServiceProcess.hpp"

#include <LocalHttpsService.hpp>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace orbisgrove::bench {
namespace {

ServiceProcess* instance = nullptr;

bool writeLine(int descriptor, std::string line) {
  line += '\n';
  std::string_view rest(line);
  while (!rest.empty()) {
    const ssize_t written = ::write(descriptor, rest.data(), rest.size());
    if (written <= 0) return false;
    rest.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

// Lines are short and rare: a byte at a time keeps nothing buffered behind a line.
bool readLine(int descriptor, std::string& line) {
  line.clear();
  char c = 0;
  while (::read(descriptor, &c, 1) == 1) {
    if (c == '\n') return true;
    line.push_back(c);
  }
  return false;
}

void serve(const ServiceReplies& replies, int commands, int answers) {
  std::atomic<bool> stalling{false};
  {
    testing::LocalHttpsService service;
    service.setHandler([&](const testing::RecordedRequest& request) {
      auto reply = testing::Reply::json(request.body.starts_with("q=712") ? replies.categories : replies.submission);
      reply.stall = stalling.load();
      return reply;
    });
    writeLine(answers, service.hostAndPort());
    writeLine(answers, service.caFile());

    std::string line;
    while (readLine(commands, line)) {
      std::istringstream words(line);
      std::string verb;
      std::uint64_t argument = 0;
      words >> verb >> argument;
      std::uint64_t answer = 0;
      if (verb == "quit") break;
      if (verb == "requests") {
        answer = service.requestCount();
      } else if (verb == "handshakes") {
        answer = service.handshakeCount();
      } else if (verb == "connections") {
        const auto requests = service.requests();
        std::set<std::uint64_t> seen;
        for (std::size_t i = static_cast<std::size_t>(argument); i < requests.size(); ++i) {
          seen.insert(requests[i].connection);
        }
        answer = seen.size();
      } else if (verb == "stall") {
        stalling.store(argument != 0);
      } else if (verb == "release") {
        service.releaseStalled();
      } else if (verb == "wait-stalled") {
        answer = service.waitForStalled(static_cast<std::size_t>(argument)) ? 1 : 0;
      }
      writeLine(answers, std::to_string(answer));
    }
    service.releaseStalled();
  }
}

std::size_t statusField(std::string_view name) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.starts_with(name)) return std::strtoull(line.c_str() + name.size(), nullptr, 10) * 1024;
  }
  return 0;
}

}  // namespace

void ServiceProcess::start(ServiceReplies replies) {
  int toChild[2];
  int fromChild[2];
  if (::pipe(toChild) != 0 || ::pipe(fromChild) != 0) throw std::runtime_error("pipe failed");
  const pid_t child = ::fork();
  if (child < 0) throw std::runtime_error("fork failed");
  if (child == 0) {
    ::close(toChild[1]);
    ::close(fromChild[0]);
    int status = 0;
    try {
      serve(replies, toChild[0], fromChild[1]);
    } catch (const std::exception&) {
      status = 1;  // the parent sees the pipe close without the service's address
    }
    // No exit handlers: they belong to the parent's copy of the process.
    ::_exit(status);
  }
  ::close(toChild[0]);
  ::close(fromChild[1]);
  instance = new ServiceProcess;  // lives until the process ends
  instance->commands_ = toChild[1];
  instance->answers_ = fromChild[0];
  instance->child_ = child;
  if (!readLine(instance->answers_, instance->hostAndPort_) || !readLine(instance->answers_, instance->caFile_)) {
    throw std::runtime_error("the service process did not start");
  }
}

ServiceProcess& ServiceProcess::shared() { return *instance; }

std::uint64_t ServiceProcess::ask(const std::string& command) {
  std::string answer;
  if (!writeLine(commands_, command) || !readLine(answers_, answer)) throw std::runtime_error("service gone");
  return std::strtoull(answer.c_str(), nullptr, 10);
}

std::uint64_t ServiceProcess::requestCount() { return ask("requests"); }
std::uint64_t ServiceProcess::handshakeCount() { return ask("handshakes"); }
std::uint64_t ServiceProcess::connectionsSince(std::uint64_t first) {
  return ask("connections " + std::to_string(first));
}
void ServiceProcess::setStalling(bool on) { ask(on ? "stall 1" : "stall 0"); }
void ServiceProcess::releaseStalled() { ask("release"); }
bool ServiceProcess::waitForStalled(std::uint64_t count) { return ask("wait-stalled " + std::to_string(count)) != 0; }

void ServiceProcess::stop() {
  if (child_ < 0) return;
  writeLine(commands_, "quit");
  ::close(commands_);
  int status = 0;
  ::waitpid(child_, &status, 0);
  child_ = -1;
}

std::size_t residentBytes() { return statusField("VmRSS:"); }
std::size_t peakResidentBytes() { return statusField("VmHWM:"); }
void resetPeakResidentBytes() {
  // "5" resets the peak to the current size (Linux 4.0 and later).
  std::ofstream("/proc/self/clear_refs") << "5";
}

std::string categoriesArray(std::size_t count) {
  std::string json = "[";
  std::size_t parent = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const bool isParent = i % 5 == 0;
    if (isParent) parent = i + 1;
    if (i > 0) json += ',';
    json += R"({"reportId":")" + std::to_string(i + 1) + R"(","reportName":"Report category number )" +
            std::to_string(i + 1) + R"(","parentId":")" + (isParent ? std::string("0") : std::to_string(parent)) +
            R"(","created":)" + std::to_string(1675209600 + 600 * i) + "}";
  }
  json += ']';
  return json;
}

std::string categoriesReply(std::size_t count) { return R"({"response":"201","data":)" + categoriesArray(count) + "}"; }

std::string submissionReply() {
  return R"({"response":"201","data":{"dataCount":12,"name":"Road closed permanently","exist":1,"id":"r-12",)"
         R"("listId":1,"time":"2026-12-06 20:00:00","url":"https://explore.example/report/r-12"}})";
}

}  // namespace orbisgrove::bench
