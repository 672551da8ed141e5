// A map position, and a location object that yields one.
#pragma once

#include <orbisgrove/Export.hpp>

namespace orbisgrove::platform {

/// Latitude then longitude, in degrees.
struct Coordinate {
  double latitude = 0;   ///< Degrees north (negative: south).
  double longitude = 0;  ///< Degrees east (negative: west).
};

/// A position fix, as a location provider reports it. Only its coordinate is
/// read by the kit.
class ORBISGROVE_EXPORT Location {
 public:
  /// A fix at `coordinate`.
  explicit Location(Coordinate coordinate) noexcept : coordinate_(coordinate) {}
  /// A fix at `latitude`, `longitude` (degrees).
  Location(double latitude, double longitude) noexcept : coordinate_{latitude, longitude} {}
  virtual ~Location() = default;
  /// Locations are values: copying copies the fix.
  ///@{
  Location(const Location&) = default;
  Location& operator=(const Location&) = default;
  ///@}

  /// Where the fix is; a provider's subclass may compute it.
  [[nodiscard]] virtual Coordinate coordinate() const { return coordinate_; }

 private:
  Coordinate coordinate_;
};

}  // namespace orbisgrove::platform
