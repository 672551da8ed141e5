// The serve command: its arguments, and a real run in a child process that
// ends on SIGTERM.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <iostream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>
#include <reference_service/ServeCommand.hpp>

#include "ReportBodies.hpp"

namespace orbisgrove::tools {
namespace {

using ::testing::HasSubstr;
using ::testing::IsEmpty;

struct Outcome {
  int status;
  std::string out;
  std::string err;
};

Outcome serve(const std::vector<std::string>& arguments) {
  std::ostringstream out;
  std::ostringstream err;
  const int status = runServeCommand(arguments, out, err);
  return {status, out.str(), err.str()};
}

TEST(ServeCommandArguments, UsageErrorsExitWithTwo) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--colour", "red"}, "unknown argument \"--colour\""},
      {{"--port"}, "--port needs a value"},
      {{"--port", "65536"}, "--port needs a whole number from 0 to 65535, not \"65536\""},
      {{"--rate-interval", "1.5"}, "--rate-interval needs a whole number from 1"},
      {{"--bind", ""}, "--bind needs an address"},
  };
  for (const auto& [arguments, message] : cases) {
    const Outcome outcome = serve(arguments);
    EXPECT_EQ(outcome.status, 2) << message;
    EXPECT_THAT(outcome.err, HasSubstr(message));
    EXPECT_THAT(outcome.err, HasSubstr("usage: orbisgrove-feedback serve"));
    EXPECT_THAT(outcome.out, IsEmpty());
  }
  const Outcome help = serve({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_THAT(help.out, HasSubstr("[--rate-interval SECONDS]"));
}

TEST(ServeCommandArguments, FailureToStartExitsWithOne) {
  const Outcome outcome = serve({"--store", "/nonexistent-directory/reports.jsonl"});
  EXPECT_EQ(outcome.status, 1);
  EXPECT_THAT(outcome.err, HasSubstr("/nonexistent-directory/reports.jsonl"));
  EXPECT_THAT(outcome.out, IsEmpty());

  const Outcome badAddress = serve({"--bind", "203.0.113.7"});  // not an address of this machine
  EXPECT_EQ(badAddress.status, 1);
  EXPECT_THAT(badAddress.err, HasSubstr("cannot listen on 203.0.113.7"));
}

// Reads from `fd` until both announcement lines have arrived or the deadline
// passes.
std::string readAnnouncement(int fd) {
  std::string text;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (text.find("trust this CA: ") == std::string::npos || text.back() != '\n') {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd readable{fd, POLLIN, 0};
    if (poll(&readable, 1, static_cast<int>(left.count())) <= 0) break;
    char buffer[512];
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got <= 0) break;
    text.append(buffer, static_cast<std::size_t>(got));
  }
  return text;
}

TEST(ServeCommandRun, AnnouncesItselfServesAndEndsOnSigterm) {
  int pipeEnds[2];
  ASSERT_EQ(pipe(pipeEnds), 0);
  std::cout.flush();
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    dup2(pipeEnds[1], STDOUT_FILENO);
    close(pipeEnds[0]);
    close(pipeEnds[1]);
    _exit(runServeCommand({"--port", "0", "--rate-limit", "5"}));
  }
  close(pipeEnds[1]);
  const std::string announcement = readAnnouncement(pipeEnds[0]);
  close(pipeEnds[0]);

  std::smatch match;
  const bool announced = std::regex_search(
      announcement, match,
      std::regex(R"(^listening on https://127\.0\.0\.1:(\d+)/explore-api/v1\.2/\ntrust this CA: (/.*\.pem)\n$)"));
  if (announced) {
    httplib::SSLClient client("127.0.0.1", std::stoi(match[1].str()));
    client.set_ca_cert_path(match[2].str().c_str());
    client.enable_server_certificate_verification(true);
    const auto reply = client.Post("/explore-api/v1.2/", testing::kCategoriesBody, testing::kFormContentType);
    ASSERT_TRUE(reply) << httplib::to_string(reply.error());
    EXPECT_EQ(nlohmann::json::parse(reply->body)["response"], "201");
  }

  kill(child, SIGTERM);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(announced) << "announcement was: " << announcement;
  ASSERT_TRUE(WIFEXITED(status)) << "status " << status;
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace orbisgrove::tools
