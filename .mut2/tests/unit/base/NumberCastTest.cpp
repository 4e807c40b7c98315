#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "base/NumberCast.h"

namespace palvero {
namespace {

constexpr int32_t kMax32 = std::numeric_limits<int32_t>::max();
constexpr int32_t kMin32 = std::numeric_limits<int32_t>::min();
constexpr int64_t kMax64 = std::numeric_limits<int64_t>::max();
constexpr int64_t kMin64 = std::numeric_limits<int64_t>::min();

// Numbers from replies that a plain cast turns into undefined behaviour or
// into an unrelated value: each stops at the end of the range it passed.
TEST(NumberCastTest, JsonNumbersBeyondTheRangeStopAtItsEnds) {
  struct Case {
    const char* json;
    int32_t as32;
    int64_t as64;
  };
  for (const auto& c : {Case{"1e300", kMax32, kMax64}, Case{"-1e300", kMin32, kMin64},
                        Case{"4294967297", kMax32, 4294967297}, Case{"-4294967297", kMin32, -4294967297},
                        Case{"18446744073709551615", kMax32, kMax64}, Case{"9223372036854775807", kMax32, kMax64},
                        Case{"9.3e18", kMax32, kMax64}, Case{"-9.3e18", kMin32, kMin64},
                        Case{"2147483647.9", kMax32, 2147483647}, Case{"-2.9", -2, -2}, Case{"2.9", 2, 2},
                        Case{"-0.5", 0, 0}, Case{"\"12\"", 0, 0}, Case{"true", 0, 0}}) {
    SCOPED_TRACE(c.json);
    Value value = Value::parse(c.json);
    EXPECT_EQ(saturatingInteger<int32_t>(value), c.as32);
    EXPECT_EQ(saturatingInteger<int64_t>(value), c.as64);
  }
  EXPECT_EQ(saturatingCast<int64_t>(std::numeric_limits<double>::quiet_NaN()), 0);
  EXPECT_EQ(saturatingCast<int32_t>(std::numeric_limits<double>::infinity()), kMax32);
  EXPECT_EQ(saturatingCast<int32_t>(kMin64), kMin32);
}

}  // namespace
}  // namespace palvero
