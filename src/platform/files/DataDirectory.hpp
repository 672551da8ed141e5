// The directory that keeps the kit's lasting data (the outbox's store).
#pragma once

#include <orbisgrove/platform/Error.hpp>

#include <memory>
#include <string>
#include <variant>

namespace orbisgrove::platform {

/// Where the data directory is: the host's (setDataDirectory) or
/// $XDG_DATA_HOME/orbisgrove-feedback, else $HOME/.local/share/orbisgrove-feedback.
struct DataDirectoryLocation {
  /// Without a trailing "/".
  std::string path;
  /// The host named it (its parents are the host's to make).
  bool hostChosen = false;
  friend bool operator==(const DataDirectoryLocation&, const DataDirectoryLocation&) = default;
};

/// The location as the settings and the environment give it now; touches no
/// file. An error when neither the host, XDG_DATA_HOME nor HOME names one.
std::variant<DataDirectoryLocation, std::shared_ptr<const Error>> dataDirectoryLocation();

/// What to do when the directory is missing.
enum class DataDirectoryUse {
  /// Create it (0700; with its missing parents only at the default location).
  create,
  /// Leave it missing: nothing is to be read there yet.
  existing,
};

/// Whether the directory at `location` exists now, after creating it when
/// `use` says so; `error` when it cannot be made or is not safe: a link, not
/// a directory, not this user's, or one that other users can enter or change.
/// The mode of an existing directory is never changed.
struct DataDirectoryCheck {
  bool exists = false;
  std::shared_ptr<const Error> error;
};
DataDirectoryCheck checkDataDirectory(const DataDirectoryLocation& location, DataDirectoryUse use);

}  // namespace orbisgrove::platform
