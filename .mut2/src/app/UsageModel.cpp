#include "app/UsageModel.h"

#include <cstdlib>

#include "app/Localization.h"
#include "base/StringFormat.h"

namespace palvero {
namespace {

int64_t bytesOf(const Value& reply, const char* key) {
  auto it = reply.find(key);
  if (it == reply.end()) return 0;
  if (it->is_number_integer()) return it->get<int64_t>();
  if (it->is_number()) return static_cast<int64_t>(it->get<double>());
  if (it->is_string()) {
    const std::string& text = it->get_ref<const std::string&>();
    char* end = nullptr;
    long long value = std::strtoll(text.c_str(), &end, 10);
    return end != text.c_str() ? value : 0;
  }
  return 0;
}

}  // namespace

void UsageModel::sizeParts(int64_t bytes, std::string& number, std::string& unit) {
  constexpr double kGigabyte = 1073741824.0;
  constexpr double kMegabyte = 1048576.0;
  if (bytes >= static_cast<int64_t>(kGigabyte)) {
    number = stringWithFormat("%.2f", bytes / kGigabyte);
    unit = L("GB");
  } else {
    number = stringWithFormat("%.2f", bytes / kMegabyte);
    unit = L("MB");
  }
}

std::string UsageModel::groupDigits(int64_t value) {
  uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  std::string digits = std::to_string(magnitude);
  std::string out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return value < 0 ? "-" + out : out;
}

UsageModel UsageModel::fromStatistics(const Value& reply) {
  UsageModel model;
  if (!reply.is_object()) return model;
  model.received = true;
  for (const char* category : kCategories) {
    UsageSlice slice;
    slice.category = category;
    slice.title = L(category);
    slice.bytes = bytesOf(reply, category);
    sizeParts(slice.bytes, slice.number, slice.unit);
    model.slices.push_back(std::move(slice));
  }
  sizeParts(bytesOf(reply, "total_used"), model.storageUsedNumber, model.storageUsedUnit);
  model.filesCount = groupDigits(bytesOf(reply, "total_files_count"));
  return model;
}

}  // namespace palvero
