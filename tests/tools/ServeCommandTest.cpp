// The serve command's arguments. A real run, its announcement and its end on
// SIGTERM are exercised by every test that runs a host against
// `orbisgrove-feedback serve` (examples/ and the consumers).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include <reference_service/ServeCommand.hpp>

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

// Usage errors exit with 2 and show the usage; a service that cannot start
// exits with 1 and says why.
TEST(ServeCommandArguments, FailuresExitWithTheirStatusAndSayWhy) {
  const std::vector<std::tuple<std::vector<std::string>, int, std::string>> cases = {
      {{"--colour", "red"}, 2, "unknown argument \"--colour\""},
      {{"--port"}, 2, "--port needs a value"},
      {{"--port", "65536"}, 2, "--port needs a whole number from 0 to 65535, not \"65536\""},
      {{"--rate-interval", "1.5"}, 2, "--rate-interval needs a whole number from 1"},
      {{"--bind", ""}, 2, "--bind needs an address"},
      {{"--store", "/nonexistent-directory/reports.jsonl"}, 1, "/nonexistent-directory/reports.jsonl"},
      {{"--bind", "203.0.113.7"}, 1, "cannot listen on 203.0.113.7"},  // not an address of this machine
  };
  for (const auto& [arguments, status, message] : cases) {
    const Outcome outcome = serve(arguments);
    EXPECT_EQ(outcome.status, status) << message;
    EXPECT_THAT(outcome.err, HasSubstr(message));
    EXPECT_EQ(outcome.err.find("usage: orbisgrove-feedback serve") != std::string::npos, status == 2) << outcome.err;
    EXPECT_THAT(outcome.out, IsEmpty());
  }
  const Outcome help = serve({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_THAT(help.out, HasSubstr("[--rate-interval SECONDS]"));
}

}  // namespace
}  // namespace orbisgrove::tools
