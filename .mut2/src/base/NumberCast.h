// Integers out of numbers that come from outside (service replies, stored
// settings): fractions are cut toward zero, values beyond the target type's
// range stop at its ends, NaN reads as 0. A plain static_cast of a double
// out of the target's range is undefined behaviour, and of a wide integer it
// wraps round to an unrelated value.
//
// Thread contract: pure functions.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <type_traits>
#include <utility>

#include "base/Value.h"

namespace palvero {

template <class Int>
Int saturatingCast(double value) {
  static_assert(std::is_integral_v<Int> && std::is_signed_v<Int>);
  if (std::isnan(value)) return 0;
  // max() as a double may round up to 2^63, which is out of range itself.
  if (value >= static_cast<double>(std::numeric_limits<Int>::max())) return std::numeric_limits<Int>::max();
  if (value <= static_cast<double>(std::numeric_limits<Int>::min())) return std::numeric_limits<Int>::min();
  return static_cast<Int>(value);
}

template <class Int, class From>
  requires std::is_integral_v<From>
Int saturatingCast(From value) {
  static_assert(std::is_integral_v<Int> && std::is_signed_v<Int>);
  if (std::cmp_greater(value, std::numeric_limits<Int>::max())) return std::numeric_limits<Int>::max();
  if (std::cmp_less(value, std::numeric_limits<Int>::min())) return std::numeric_limits<Int>::min();
  return static_cast<Int>(value);
}

// A JSON number as `Int` (saturated); 0 for anything that is not a number.
template <class Int>
Int saturatingInteger(const Value& number) {
  if (number.is_number_unsigned()) return saturatingCast<Int>(number.get<uint64_t>());
  if (number.is_number_integer()) return saturatingCast<Int>(number.get<int64_t>());
  if (number.is_number_float()) return saturatingCast<Int>(number.get<double>());
  return 0;
}

}  // namespace palvero
