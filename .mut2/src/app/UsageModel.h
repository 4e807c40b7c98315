// The usage section of the backup page as plain data: the stored bytes of
// each file category for the pie chart, "Storage used" and "Files backuped
// up", from the service's statistics reply. Both figures read "-" until the
// first reply.
//
// Stateless values; safe from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/Value.h"

namespace palvero {

struct UsageSlice {
  std::string category;  // "documents", "music", ... as the service names it
  std::string title;     // localised
  int64_t bytes = 0;
  std::string number;    // "1.50"
  std::string unit;      // localised "MB" or "GB"
};

struct UsageModel {
  static constexpr const char* kCategories[] = {"documents", "music", "pictures", "video", "email", "other"};

  std::vector<UsageSlice> slices;  // in kCategories order, empty until the first reply
  std::string storageUsedNumber = "-";
  std::string storageUsedUnit;
  std::string filesCount = "-";
  bool received = false;

  // From the statistics reply (sizes as numbers or decimal texts; a missing
  // or unreadable size counts 0).
  static UsageModel fromStatistics(const Value& reply);
  // "%.2f" with "GB" from 1,073,741,824 bytes up, else with "MB".
  static void sizeParts(int64_t bytes, std::string& number, std::string& unit);
  // 1234567 -> "1,234,567".
  static std::string groupDigits(int64_t value);
};

}  // namespace palvero
