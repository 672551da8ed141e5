// The directory that holds the kit's cache. It usually lies inside a shared,
// world-writable place such as /tmp, where another user could plant a link
// or a directory of their own under our name before we first come; so the
// directory is used only after lstat shows it is really ours and private.
#include "platform/files/TemporaryDirectory.hpp"

#include "platform/core/ApplicationIdentity.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace orbisgrove::platform {
namespace {

std::string withoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// lstat on the path itself: with a trailing slash the kernel would resolve a
// link to the directory it names, which is exactly what must not pass.
bool isPrivateDirectory(const std::string& path) {
  struct stat information {};
  if (::lstat(path.c_str(), &information) != 0) return false;
  return S_ISDIR(information.st_mode) && information.st_uid == ::geteuid() &&
         (information.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

}  // namespace

std::optional<std::string> temporaryDirectory() {
  // The host's own directory is the host's to create; it only has to pass the
  // same checks. An empty setting counts as none.
  if (auto hostDirectory = temporaryDirectoryOverride(); hostDirectory && !hostDirectory->empty()) {
    std::string path = withoutTrailingSlashes(*hostDirectory);
    if (!isPrivateDirectory(path)) return std::nullopt;
    if (path.back() != '/') path += '/';
    return path;
  }

  const char* environment = std::getenv("TMPDIR");
  std::string base = environment && *environment ? environment : "/tmp";
  base = withoutTrailingSlashes(base);
  if (base == "/") base.clear();
  const std::string path = base + "/orbisgrove-" + std::to_string(::geteuid());
  // mkdir never follows a link at the path: it fails with EEXIST, and the
  // check below then refuses the link.
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return std::nullopt;
  if (!isPrivateDirectory(path)) return std::nullopt;
  return path + "/";
}

}  // namespace orbisgrove::platform
