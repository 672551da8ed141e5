// The directory that holds the kit's cache. It usually lies inside a shared,
// world-writable place such as /tmp, where another user could plant a link
// or a directory of their own under our name before we first come; so the
// directory is used only through a handle that shows it is really ours and
// private.
#include "platform/files/TemporaryDirectory.hpp"

#include "platform/core/ApplicationIdentity.hpp"

#include <unistd.h>

#include <cstdlib>

namespace orbisgrove::platform {

std::optional<PrivateDirectory> openTemporaryDirectory() {
  // The host's own directory is the host's to create; it only has to pass the
  // same checks. An empty setting counts as none.
  if (auto hostDirectory = temporaryDirectoryOverride(); hostDirectory && !hostDirectory->empty()) {
    return PrivateDirectory::open(*hostDirectory, PrivateDirectory::Missing::fail);
  }
  const char* environment = std::getenv("TMPDIR");
  std::string base = environment && *environment ? environment : "/tmp";
  while (!base.empty() && base.back() == '/') base.pop_back();
  return PrivateDirectory::open(base + "/orbisgrove-" + std::to_string(::geteuid()), PrivateDirectory::Missing::create);
}

std::optional<std::string> temporaryDirectory() {
  auto directory = openTemporaryDirectory();
  if (!directory) return std::nullopt;
  return directory->path();
}

}  // namespace orbisgrove::platform
