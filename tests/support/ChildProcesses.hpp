// Programs the scenarios start as children, and what their ends were.
#pragma once

#include "TestPrelude.hpp"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace orbisgrove::testing {

/// Starts `arguments` (the program first); its standard output goes to
/// `output`, and its standard error to `errors` when one is named.
inline pid_t spawn(std::vector<std::string> arguments, const std::string& output = "/dev/null",
                   const std::string& errors = "") {
  std::vector<char*> argv;
  for (auto& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (!errors.empty())
    posix_spawn_file_actions_addopen(&actions, 2, errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  pid_t pid = -1;
  const int failed = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return failed != 0 ? -1 : pid;
}

/// Waits for `child` and returns its wait status; -1 when there is none.
inline int statusOf(pid_t child) {
  int status = -1;
  if (child <= 0 || ::waitpid(child, &status, 0) != child) return -1;
  return status;
}

#ifdef ORBISGROVE_KIT_CHILD
/// Starts the kit's child program (support/KitChild.cpp) with `arguments`.
inline pid_t spawnChild(const std::vector<std::string>& arguments, const std::string& output = "/dev/null") {
  std::vector<std::string> all{ORBISGROVE_KIT_CHILD};
  all.insert(all.end(), arguments.begin(), arguments.end());
  return spawn(std::move(all), output);
}
#endif

}  // namespace orbisgrove::testing
