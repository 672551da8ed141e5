// Another user must not be able to read or plant the reports that wait in the
// store, so the directory is used only when it is a real directory of ours;
// one that others may read is made private first.
#include "platform/files/DataDirectory.hpp"

#include "platform/core/ApplicationIdentity.hpp"
#include "platform/files/PrivateDirectory.hpp"

#include <sys/stat.h>

#include <cstdlib>

namespace orbisgrove::platform {
namespace {

std::shared_ptr<const Error> refused(const std::string& path, const std::string& why) {
  return Error::make("OrbisgroveFeedbackErrorDomain", -1,
                     {{std::string(NSLocalizedFailureReasonErrorKey), "The data directory " + path + " " + why}});
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
  // SQLite opens the store by its path; the directory at that path is checked
  // without following a link to it.
  auto directory = PrivateDirectory::open(path, PrivateDirectory::Missing::createWithParents);
  if (!directory) {
    return refused(path,
                   "cannot be made, or is not safe: a link, not a directory, another user's or writable by others");
  }
  struct stat information {};
  if (::fstat(directory->descriptor(), &information) != 0 ||
      ((information.st_mode & 0077) != 0 && ::fchmod(directory->descriptor(), 0700) != 0)) {
    return refused(path, "cannot be made private");
  }
  return path;
}

}  // namespace orbisgrove::platform
