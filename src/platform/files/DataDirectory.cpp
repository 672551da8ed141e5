// Another user must not be able to read or plant the reports that wait in the
// store, so the directory is used only when lstat shows it is a real
// directory of ours; one that others may read is made private first.
#include "platform/files/DataDirectory.hpp"

#include "platform/core/ApplicationIdentity.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace orbisgrove::platform {
namespace {

std::shared_ptr<const Error> refused(const std::string& path, const std::string& why) {
  return Error::make("OrbisgroveFeedbackErrorDomain", -1,
                     {{std::string(NSLocalizedFailureReasonErrorKey), "The data directory " + path + " " + why}});
}

// Each missing component is made 0700, like the final directory.
bool makeDirectories(const std::string& path) {
  for (std::size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
    const std::string part = path.substr(0, slash);
    if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  return ::mkdir(path.c_str(), 0700) == 0 || errno == EEXIST;
}

}  // namespace

std::variant<std::string, std::shared_ptr<const Error>> dataDirectory() {
  std::string path;
  if (auto host = dataDirectoryOverride(); host && !host->empty()) {
    path = *host;
  } else if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && *xdg == '/') {
    path = std::string(xdg) + "/orbisgrove-feedback";
  } else if (const char* home = std::getenv("HOME"); home != nullptr && *home == '/') {
    path = std::string(home) + "/.local/share/orbisgrove-feedback";
  } else {
    return refused("(none)", "is unknown: neither XDG_DATA_HOME nor HOME is set");
  }
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  if (!makeDirectories(path)) return refused(path, std::string("cannot be made: ") + std::strerror(errno));
  struct stat information {};
  if (::lstat(path.c_str(), &information) != 0) return refused(path, "cannot be examined");
  if (!S_ISDIR(information.st_mode)) return refused(path, "is not a directory (a link is refused)");
  if (information.st_uid != ::geteuid()) return refused(path, "belongs to another user");
  if ((information.st_mode & (S_IWGRP | S_IWOTH)) != 0) return refused(path, "is writable by others");
  if ((information.st_mode & 0077) != 0 && ::chmod(path.c_str(), 0700) != 0) {
    return refused(path, "cannot be made private");
  }
  return path;
}

}  // namespace orbisgrove::platform
