// A directory that only this user can change, held open so that what was
// checked is what is used.
#pragma once

#include <optional>
#include <string>
#include <utility>

namespace orbisgrove::platform {

/// An open directory that is really a directory (not a link to one), owned
/// by this user and writable by neither group nor others. Work inside goes
/// through descriptor() (openat, renameat, fstatat): another user who swaps
/// the path for a link afterwards changes nothing for this handle.
class PrivateDirectory {
 public:
  /// What to do when nothing exists at the path.
  enum class Missing { fail, create, createWithParents };

  /// Opens the directory at `path` (trailing slashes ignored). On Missing,
  /// creates it with mode 0700 first, and with createWithParents also each
  /// missing parent (0700; parents are not checked). Nothing when it cannot
  /// be opened or fails the checks.
  static std::optional<PrivateDirectory> open(const std::string& path, Missing missing);

  PrivateDirectory(PrivateDirectory&& other) noexcept;
  PrivateDirectory& operator=(PrivateDirectory&& other) noexcept;
  PrivateDirectory(const PrivateDirectory&) = delete;
  PrivateDirectory& operator=(const PrivateDirectory&) = delete;
  ~PrivateDirectory();

  /// The path it was opened at, ending with "/".
  [[nodiscard]] const std::string& path() const { return path_; }
  /// The open directory; valid while this object lives.
  [[nodiscard]] int descriptor() const { return descriptor_; }

 private:
  PrivateDirectory(std::string path, int descriptor) : path_(std::move(path)), descriptor_(descriptor) {}
  std::string path_;
  int descriptor_ = -1;
};

}  // namespace orbisgrove::platform
