#include "base/Date.h"

#include <cstdio>
#include <ctime>

#include "base/Clock.h"
#include "base/NumberCast.h"

namespace palvero {
namespace {

using std::chrono::microseconds;

bool isPatternLetter(char c) {
  return c == 'y' || c == 'M' || c == 'd' || c == 'H' || c == 'm' || c == 's';
}

struct LocalFields {
  int year = 1970, month = 1, day = 1, hour = 0, minute = 0, second = 0;
};

int daysInMonth(int year, int month) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

std::tm localTm(const Date& date, long* microsOut) {
  auto micros = date.timePoint().time_since_epoch().count();
  long long secs = micros / 1000000;
  long rest = static_cast<long>(micros % 1000000);
  if (rest < 0) {
    rest += 1000000;
    --secs;
  }
  if (microsOut) *microsOut = rest;
  std::time_t t = static_cast<std::time_t>(secs);
  std::tm tm{};
  localtime_r(&t, &tm);
  return tm;
}

}  // namespace

Date Date::now() { return Clock::current()->now(); }

Date Date::distantPast() { return fromLocalComponents(1, 1, 1, 0, 0, 0); }

Date Date::fromTimeIntervalSince1970(double seconds) {
  return Date(TimePoint(microseconds(saturatingCast<long long>(seconds * 1e6))));
}

Date Date::fromLocalComponents(int year, int month, int day, int hour, int minute, int second) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  tm.tm_isdst = -1;
  std::time_t t = std::mktime(&tm);
  return Date(TimePoint(microseconds(static_cast<long long>(t) * 1000000)));
}

std::optional<Date> Date::parse(std::string_view text, std::string_view pattern) {
  LocalFields f;
  size_t ti = 0;
  for (size_t pi = 0; pi < pattern.size();) {
    char letter = pattern[pi];
    if (!isPatternLetter(letter)) {
      if (ti >= text.size() || text[ti] != letter) return std::nullopt;
      ++ti;
      ++pi;
      continue;
    }
    size_t width = 0;
    while (pi < pattern.size() && pattern[pi] == letter) {
      ++width;
      ++pi;
    }
    if (ti + width > text.size()) return std::nullopt;
    int value = 0;
    for (size_t k = 0; k < width; ++k) {
      char c = text[ti + k];
      if (c < '0' || c > '9') return std::nullopt;
      value = value * 10 + (c - '0');
    }
    ti += width;
    switch (letter) {
      case 'y': f.year = value; break;
      case 'M': f.month = value; break;
      case 'd': f.day = value; break;
      case 'H': f.hour = value; break;
      case 'm': f.minute = value; break;
      case 's': f.second = value; break;
    }
  }
  if (ti != text.size()) return std::nullopt;
  if (f.month < 1 || f.month > 12 || f.day < 1 || f.day > daysInMonth(f.year, f.month) ||
      f.hour > 23 || f.minute > 59 || f.second > 59) {
    return std::nullopt;
  }
  return fromLocalComponents(f.year, f.month, f.day, f.hour, f.minute, f.second);
}

std::string Date::format(std::string_view pattern) const {
  std::tm tm = localTm(*this, nullptr);
  std::string out;
  for (size_t pi = 0; pi < pattern.size();) {
    char letter = pattern[pi];
    if (!isPatternLetter(letter)) {
      out += letter;
      ++pi;
      continue;
    }
    int width = 0;
    while (pi < pattern.size() && pattern[pi] == letter) {
      ++width;
      ++pi;
    }
    int value = 0;
    switch (letter) {
      case 'y': value = tm.tm_year + 1900; break;
      case 'M': value = tm.tm_mon + 1; break;
      case 'd': value = tm.tm_mday; break;
      case 'H': value = tm.tm_hour; break;
      case 'm': value = tm.tm_min; break;
      case 's': value = tm.tm_sec; break;
    }
    char buf[16];
    std::snprintf(buf, sizeof buf, "%0*d", width, value);
    out += buf;
  }
  return out;
}

std::string Date::shortDateLongTime() const {
  std::tm tm = localTm(*this, nullptr);
  int hour12 = tm.tm_hour % 12 == 0 ? 12 : tm.tm_hour % 12;
  char zone[64] = "";
  std::strftime(zone, sizeof zone, "%Z", &tm);
  char buf[128];
  std::snprintf(buf, sizeof buf, "%d/%d/%02d, %d:%02d:%02d %s %s", tm.tm_mon + 1, tm.tm_mday,
                (tm.tm_year + 1900) % 100, hour12, tm.tm_min, tm.tm_sec,
                tm.tm_hour < 12 ? "AM" : "PM", zone);
  return buf;
}

Value Date::toValue() const { return Value{{"$date", timeIntervalSince1970()}}; }

std::optional<Date> Date::fromValue(const Value& value) {
  if (!value.is_object() || value.size() != 1) return std::nullopt;
  auto it = value.find("$date");
  if (it == value.end() || !it->is_number()) return std::nullopt;
  return fromTimeIntervalSince1970(it->get<double>());
}

double Date::timeIntervalSince1970() const {
  return static_cast<double>(timePoint_.time_since_epoch().count()) / 1e6;
}

double Date::timeIntervalSince(const Date& other) const {
  return static_cast<double>((timePoint_ - other.timePoint_).count()) / 1e6;
}

Date Date::addingTimeInterval(double seconds) const {
  return Date(timePoint_ + microseconds(saturatingCast<long long>(seconds * 1e6)));
}

}  // namespace palvero
