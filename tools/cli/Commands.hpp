// The tool's subcommands; each returns the process's exit status.
#pragma once

#include <span>

namespace orbisgrove::tool {

/// Exit statuses of the tool.
inline constexpr int kSuccess = 0;
inline constexpr int kKitError = 1;
inline constexpr int kUsageError = 2;

int categoriesCommand(std::span<char* const> arguments);
int submitCommand(std::span<char* const> arguments);
int demoCommand(std::span<char* const> arguments);
int outboxCommand(std::span<char* const> arguments);

}  // namespace orbisgrove::tool

namespace orbisgrove {
class OrbisgroveSaveUserDataOptions;
}

namespace orbisgrove::tool {

/// Stores the report in the outbox, waits for its attempt and prints the entry.
int queueSubmission(const OrbisgroveSaveUserDataOptions& options, bool json);

}  // namespace orbisgrove::tool
