// Another user must not be able to read or plant the reports that wait in the
// store, so the directory is used only when it is a real directory of ours
// that nobody else can enter. A directory the kit did not make keeps its mode:
// changing it could break what else lives there (think of "/etc").
#include "platform/files/DataDirectory.hpp"

#include "platform/core/ApplicationIdentity.hpp"
#include "platform/core/KitError.hpp"
#include "platform/files/PrivateDirectory.hpp"

#include <sys/stat.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace orbisgrove::platform {
namespace {

std::shared_ptr<const Error> refused(const std::string& path, const std::string& why) {
  return kitError("The data directory " + path + " " + why);
}

std::string octal(mode_t mode) {
  std::array<char, 8> text{};
  std::snprintf(text.data(), text.size(), "%04o", static_cast<unsigned>(mode & 07777));
  return text.data();
}

}  // namespace

std::variant<DataDirectoryLocation, std::shared_ptr<const Error>> dataDirectoryLocation() {
  DataDirectoryLocation location;
  if (auto host = dataDirectoryOverride(); host && !host->empty()) {
    location = {*host, true};
  } else if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && *xdg == '/') {
    location.path = std::string(xdg) + "/orbisgrove-feedback";
  } else if (const char* home = std::getenv("HOME"); home != nullptr && *home == '/') {
    location.path = std::string(home) + "/.local/share/orbisgrove-feedback";
  } else {
    return refused("(none)", "is unknown: neither XDG_DATA_HOME nor HOME is set");
  }
  while (location.path.size() > 1 && location.path.back() == '/') location.path.pop_back();
  return location;
}

DataDirectoryCheck checkDataDirectory(const DataDirectoryLocation& location, DataDirectoryUse use) {
  struct stat information {};
  if (use == DataDirectoryUse::existing && ::lstat(location.path.c_str(), &information) != 0 && errno == ENOENT) {
    return {};
  }
  const auto missing = use == DataDirectoryUse::existing ? PrivateDirectory::Missing::fail
                       : location.hostChosen             ? PrivateDirectory::Missing::create
                                                         : PrivateDirectory::Missing::createWithParents;
  // SQLite opens the store by its path; the directory at that path is checked
  // without following a link to it.
  auto directory = PrivateDirectory::open(location.path, missing);
  if (!directory) {
    return {false, refused(location.path,
                           "cannot be made, or is not safe: a link, not a directory, another user's "
                           "or writable by others")};
  }
  if (::fstat(directory->descriptor(), &information) != 0) return {false, refused(location.path, "cannot be read")};
  if ((information.st_mode & (S_IXGRP | S_IXOTH)) != 0) {
    return {false, refused(location.path, "can be entered by other users (mode " + octal(information.st_mode) +
                                              "); the outbox keeps reports only where no one else can reach them. "
                                              "It is left as it is: choose a private directory (mode 0700).")};
  }
  return {true, nullptr};
}

}  // namespace orbisgrove::platform
