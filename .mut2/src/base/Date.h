// A point in time, with the local-time text patterns the system stores and
// sends: "yyyyMMdd HH:mm:ss" (settings, version files, server change times),
// "yyyy-MM-dd HH:mm" (queue entries) and "HH:mm:ss" (times of day).
//
// Immutable value type; safe to share between threads. Local time follows the
// process time zone (TZ).
#pragma once

#include <chrono>
#include <compare>
#include <optional>
#include <string>
#include <string_view>

#include "base/Value.h"

namespace palvero {

class Date {
 public:
  // Microseconds keep about ±292,000 years in range, so the distant past
  // (year 1) fits.
  using TimePoint = std::chrono::time_point<std::chrono::system_clock, std::chrono::microseconds>;

  static constexpr std::string_view kSettingsPattern = "yyyyMMdd HH:mm:ss";
  static constexpr std::string_view kQueuePattern = "yyyy-MM-dd HH:mm";
  static constexpr std::string_view kTimeOfDayPattern = "HH:mm:ss";

  // The Unix epoch.
  Date() = default;
  explicit Date(TimePoint timePoint) : timePoint_(timePoint) {}

  // The current time of the process clock (Clock::current()).
  static Date now();
  static Date distantPast();
  static Date fromTimeIntervalSince1970(double seconds);
  // Local wall-clock components; out-of-range values are normalised as mktime does.
  static Date fromLocalComponents(int year, int month, int day, int hour, int minute, int second);

  // Parses `text` in local time with a pattern of the letters y, M, d, H, m, s
  // (each run of a letter is a fixed-width number) and literal characters.
  // Fields the pattern lacks default to 1970-01-01 00:00:00. Returns nothing
  // when the text does not match the whole pattern or a field is out of range.
  static std::optional<Date> parse(std::string_view text, std::string_view pattern);

  // Formats in local time with the same pattern language.
  std::string format(std::string_view pattern) const;

  // The user's locale rendering with a short date and a long time (seconds and
  // zone), as in "1/31/24, 5:05:09 PM UTC".
  std::string shortDateLongTime() const;

  // A date inside a dynamic value (dictionaries handed between layers) is the
  // object {"$date": seconds since 1970}.
  Value toValue() const;
  static std::optional<Date> fromValue(const Value& value);

  double timeIntervalSince1970() const;
  double timeIntervalSince(const Date& other) const;
  Date addingTimeInterval(double seconds) const;
  TimePoint timePoint() const { return timePoint_; }

  auto operator<=>(const Date&) const = default;
  bool operator==(const Date&) const = default;

 private:
  TimePoint timePoint_{};
};

}  // namespace palvero
