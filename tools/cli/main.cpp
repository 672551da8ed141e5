// orbisgrove-feedback: try the kit from the command line, as a host would call it.
#include <cstring>
#include <exception>
#include <iostream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <reference_service/ServeCommand.hpp>
#include "CommandLine.hpp"
#include "Commands.hpp"

namespace {

constexpr std::string_view kUsage =
    "usage:\n"
    "  orbisgrove-feedback categories [--host HOST[:PORT]] [--cacert PEM] [--json]\n"
    "  orbisgrove-feedback submit --lat DEG --lon DEG --parent ID --child ID --description TEXT\n"
    "                             [--module-id ID] [--bundle-id ID] [--host HOST[:PORT]] [--cacert PEM] [--json]\n"
    "                             [--queue [--data-dir DIR]]\n"
    "  orbisgrove-feedback outbox list [--data-dir DIR] [--json]\n"
    "  orbisgrove-feedback outbox send [--data-dir DIR] [--host HOST[:PORT]] [--cacert PEM] [--json]\n"
    "  orbisgrove-feedback outbox resend ID [--data-dir DIR] [--json]\n"
    "  orbisgrove-feedback outbox discard ID [--data-dir DIR] [--json]\n"
    "  orbisgrove-feedback serve [--port N] [--bind ADDR] [--store FILE] [--rate-limit N] [--rate-interval SECONDS]\n"
    "                            [--fail-after-store | --stall-after-store]\n"
    "  orbisgrove-feedback demo\n";

}  // namespace

int main(int argc, char** argv) {
  using namespace orbisgrove::tool;
  const std::span<char* const> all(argv, static_cast<std::size_t>(argc));
  if (all.size() < 2) {
    std::cerr << kUsage;
    return kUsageError;
  }
  const std::string_view command = all[1];
  const auto rest = all.subspan(2);
  try {
    if (command == "categories") return categoriesCommand(rest);
    if (command == "submit") return submitCommand(rest);
    if (command == "serve")
      return orbisgrove::tools::runServeCommand(std::vector<std::string>(rest.begin(), rest.end()));
    if (command == "outbox") return outboxCommand(rest);
    if (command == "demo") return demoCommand(rest);
    if (command == "--help" || command == "-h" || command == "help") {
      std::cout << kUsage;
      return kSuccess;
    }
    throw UsageError("unknown command \"" + std::string(command) + "\"");
  } catch (const UsageError& failure) {
    std::cerr << "orbisgrove-feedback: " << failure.what() << '\n' << kUsage;
    return kUsageError;
  } catch (const std::exception& failure) {
    std::cerr << "orbisgrove-feedback: " << failure.what() << '\n';
    return kKitError;
  }
}
