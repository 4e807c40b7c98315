#include "base/StringFormat.h"
#include "engine/format/util/Functions.h"

namespace palvero {

std::string Functions::stringSizeForBytes(int64_t bytes) {
  constexpr double kGigabyte = 1073741824.0;
  constexpr double kMegabyte = 1048576.0;
  const auto value = static_cast<double>(bytes);
  if (value >= kGigabyte) return stringWithFormat("%.2f GB", value / kGigabyte);
  return stringWithFormat("%.2f MB", value / kMegabyte);
}

}  // namespace palvero
