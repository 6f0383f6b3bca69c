// Every float-to-integer conversion of the program goes through here: truncation toward
// zero, and 0 for a value that is not finite (a division by a zero length) or that does
// not fit into 32 bits.
#pragma once

#include <cmath>
#include <cstdint>

inline int32_t TruncToInt(double value) {
  if (!std::isfinite(value)) return 0;
  const double t = std::trunc(value);
  if (t > 2147483647.0 || t < -2147483648.0) return 0;
  return static_cast<int32_t>(t);
}
