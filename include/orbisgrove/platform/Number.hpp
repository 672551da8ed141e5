// An immutable boxed number, as record fields hold it.
#pragma once

#include <orbisgrove/Export.hpp>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace orbisgrove::platform {

/// Holds exactly one of a signed 64-bit integer, an unsigned 64-bit integer or
/// a double. Shared as `std::shared_ptr<const Number>`; assigning shares it.
class ORBISGROVE_EXPORT Number {
 public:
  /// Which kind of value the box holds.
  enum class Kind {
    signedInteger,    ///< A std::int64_t (what decoding always gives).
    unsignedInteger,  ///< A std::uint64_t.
    floatingPoint,    ///< A double.
  };

  /// Boxes a value of the matching kind.
  ///@{
  explicit Number(std::int64_t value) noexcept;
  explicit Number(std::uint64_t value) noexcept;
  explicit Number(double value) noexcept;
  ///@}

  /// A new shared box of the value.
  ///@{
  static std::shared_ptr<const Number> withInt64(std::int64_t value);
  static std::shared_ptr<const Number> withUInt64(std::uint64_t value);
  static std::shared_ptr<const Number> withDouble(double value);
  ///@}

  /// The kind the value was boxed as.
  [[nodiscard]] Kind kind() const noexcept { return kind_; }

  /// The value as a signed 64-bit integer, only when it is exactly one
  /// (7 and 7.0 give 7; 2.5, NaN and 2^63 give nothing).
  [[nodiscard]] std::optional<std::int64_t> int64ValueIfExact() const noexcept;
  /// The value converted to double (may round for large integers).
  [[nodiscard]] double doubleValue() const noexcept;
  /// Decimal text of the value ("42", "2.5").
  [[nodiscard]] std::string stringValue() const;

 private:
  Kind kind_;
  union {
    std::int64_t signed_;
    std::uint64_t unsigned_;
    double floating_;
  };
};

}  // namespace orbisgrove::platform
