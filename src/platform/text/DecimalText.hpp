// The kit's own decimal text of a double, as the service expects it.
#pragma once

#include <string>

namespace orbisgrove::platform {

/// The shortest decimal text that reads back as the same double; whole
/// numbers keep ".0" (28.0); magnitudes below 0.0001 other than zero in
/// exponent form with at least two exponent digits (1e-05), as are
/// magnitudes from 2^53 on (1e+21), where plain digits would pad with zeros
/// that were never there; "nan", "inf", "-inf"; -0.0 keeps its sign.
std::string shortestDecimalText(double value);

}  // namespace orbisgrove::platform
