// The directory is opened without following a link at its last component
// and then checked on the open handle, so no one can slip another directory
// in between the check and the use.
#include "platform/files/PrivateDirectory.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace orbisgrove::platform {

std::optional<PrivateDirectory> PrivateDirectory::open(const std::string& path, Missing missing) {
  std::string trimmed = path;
  while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
  if (trimmed.empty() || trimmed.find('\0') != std::string::npos) return std::nullopt;

  if (missing == Missing::createWithParents) {
    for (std::size_t slash = trimmed.find('/', 1); slash != std::string::npos; slash = trimmed.find('/', slash + 1)) {
      const std::string parent = trimmed.substr(0, slash);
      if (::mkdir(parent.c_str(), 0700) != 0 && errno != EEXIST) return std::nullopt;
    }
  }
  // mkdir never follows a link at the path: it fails with EEXIST, and the
  // open below then refuses the link.
  if (missing != Missing::fail && ::mkdir(trimmed.c_str(), 0700) != 0 && errno != EEXIST) return std::nullopt;

  const int descriptor = ::open(trimmed.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (descriptor < 0) return std::nullopt;
  PrivateDirectory directory(trimmed == "/" ? trimmed : trimmed + "/", descriptor);
  struct stat information {};
  if (::fstat(descriptor, &information) != 0 || !S_ISDIR(information.st_mode) || information.st_uid != ::geteuid() ||
      (information.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    return std::nullopt;
  }
  return directory;
}

PrivateDirectory::PrivateDirectory(PrivateDirectory&& other) noexcept
    : path_(std::move(other.path_)), descriptor_(std::exchange(other.descriptor_, -1)) {}

PrivateDirectory& PrivateDirectory::operator=(PrivateDirectory&& other) noexcept {
  if (this != &other) {
    if (descriptor_ >= 0) ::close(descriptor_);
    path_ = std::move(other.path_);
    descriptor_ = std::exchange(other.descriptor_, -1);
  }
  return *this;
}

PrivateDirectory::~PrivateDirectory() {
  if (descriptor_ >= 0) ::close(descriptor_);
}

}  // namespace orbisgrove::platform
