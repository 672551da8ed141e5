#include <orbisgrove/platform/Number.hpp>

#include <charconv>
#include <cmath>
#include <limits>

namespace orbisgrove::platform {

Number::Number(std::int64_t value) noexcept : kind_(Kind::signedInteger), signed_(value) {}
Number::Number(std::uint64_t value) noexcept : kind_(Kind::unsignedInteger), unsigned_(value) {}
Number::Number(double value) noexcept : kind_(Kind::floatingPoint), floating_(value) {}

std::shared_ptr<const Number> Number::withInt64(std::int64_t value) { return std::make_shared<const Number>(value); }
std::shared_ptr<const Number> Number::withUInt64(std::uint64_t value) { return std::make_shared<const Number>(value); }
std::shared_ptr<const Number> Number::withDouble(double value) { return std::make_shared<const Number>(value); }

std::optional<std::int64_t> Number::int64ValueIfExact() const noexcept {
  switch (kind_) {
    case Kind::signedInteger:
      return signed_;
    case Kind::unsignedInteger:
      if (unsigned_ > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return std::nullopt;
      return static_cast<std::int64_t>(unsigned_);
    case Kind::floatingPoint:
      // -2^63 is exact in a double; 2^63 is the first value beyond the range.
      if (!(floating_ >= -9223372036854775808.0 && floating_ < 9223372036854775808.0)) return std::nullopt;
      if (std::trunc(floating_) != floating_) return std::nullopt;
      return static_cast<std::int64_t>(floating_);
  }
  return std::nullopt;
}

double Number::doubleValue() const noexcept {
  switch (kind_) {
    case Kind::signedInteger:
      return static_cast<double>(signed_);
    case Kind::unsignedInteger:
      return static_cast<double>(unsigned_);
    case Kind::floatingPoint:
      return floating_;
  }
  return 0;
}

std::string Number::stringValue() const {
  char buffer[64];
  std::to_chars_result result{};
  switch (kind_) {
    case Kind::signedInteger:
      result = std::to_chars(buffer, buffer + sizeof buffer, signed_);
      break;
    case Kind::unsignedInteger:
      result = std::to_chars(buffer, buffer + sizeof buffer, unsigned_);
      break;
    case Kind::floatingPoint:
      result = std::to_chars(buffer, buffer + sizeof buffer, floating_);
      break;
  }
  return std::string(buffer, result.ptr);
}

}  // namespace orbisgrove::platform
