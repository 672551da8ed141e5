// The arguments of `orbisgrove-feedback serve`.
#include "TestPrelude.hpp"

#include <sstream>

#include <reference_service/ServeCommand.hpp>

namespace orbisgrove::tools {
namespace {

using ::testing::HasSubstr;
using ::testing::IsEmpty;

// Usage errors exit with 2 and show the usage; a service that cannot start
// exits with 1 and says why.
TEST(ServeCommandTest, FailuresExitWithTheirStatusAndSayWhy) {
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
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(runServeCommand(arguments, out, err), status) << message;
    EXPECT_THAT(err.str(), HasSubstr(message));
    EXPECT_EQ(err.str().find("usage: orbisgrove-feedback serve") != std::string::npos, status == 2) << err.str();
    EXPECT_THAT(out.str(), IsEmpty());
  }
  std::ostringstream help;
  std::ostringstream none;
  EXPECT_EQ(runServeCommand({"--help"}, help, none), 0);
  EXPECT_THAT(help.str(), HasSubstr("[--rate-interval SECONDS]"));
}

}  // namespace
}  // namespace orbisgrove::tools
