// Field splitting and number reading shared by the version-text readers.
// Numbers are read the forgiving way stored texts need: leading decimal
// digits with an optional sign, anything after them ignored, 0 when the
// field does not begin with a digit or sign, saturated at the type's range.
#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

namespace palvero::textfields {

// Every piece between separators, empty ones included ("a||b" gives three).
inline std::vector<std::string_view> split(std::string_view text, char separator) {
  std::vector<std::string_view> fields;
  size_t start = 0;
  for (;;) {
    size_t end = text.find(separator, start);
    if (end == std::string_view::npos) {
      fields.push_back(text.substr(start));
      return fields;
    }
    fields.push_back(text.substr(start, end - start));
    start = end + 1;
  }
}

template <typename Int>
Int leadingInteger(std::string_view field) {
  size_t i = 0;
  bool negative = false;
  if (i < field.size() && (field[i] == '-' || field[i] == '+')) {
    negative = field[i] == '-';
    ++i;
  }
  // Accumulate towards the sign so that the minimum value is reachable.
  Int value = 0;
  constexpr Int kMax = std::numeric_limits<Int>::max();
  constexpr Int kMin = std::numeric_limits<Int>::min();
  for (; i < field.size() && field[i] >= '0' && field[i] <= '9'; ++i) {
    Int digit = static_cast<Int>(field[i] - '0');
    if (negative) {
      if (value < (kMin + digit) / 10) return kMin;
      value = static_cast<Int>(value * 10 - digit);
    } else {
      if (value > (kMax - digit) / 10) return kMax;
      value = static_cast<Int>(value * 10 + digit);
    }
  }
  return value;
}

}  // namespace palvero::textfields
