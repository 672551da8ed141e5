// A map position, and a location object that yields one.
#pragma once

#include <orbisgrove/Export.hpp>

namespace orbisgrove::platform {

/// Latitude then longitude, in degrees.
struct Coordinate {
  double latitude = 0;
  double longitude = 0;
};

/// A position fix, as a location provider reports it. Only its coordinate is
/// read by the kit.
class ORBISGROVE_EXPORT Location {
 public:
  explicit Location(Coordinate coordinate) noexcept : coordinate_(coordinate) {}
  Location(double latitude, double longitude) noexcept : coordinate_{latitude, longitude} {}
  virtual ~Location() = default;
  Location(const Location&) = default;
  Location& operator=(const Location&) = default;

  [[nodiscard]] virtual Coordinate coordinate() const { return coordinate_; }

 private:
  Coordinate coordinate_;
};

}  // namespace orbisgrove::platform
