#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "base/Date.h"

namespace palvero {
namespace {

class DateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tz = std::getenv("TZ");
    oldTz_ = tz ? tz : "";
    hadTz_ = tz != nullptr;
    setenv("TZ", "Europe/Berlin", 1);
    tzset();
  }
  void TearDown() override {
    if (hadTz_) {
      setenv("TZ", oldTz_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }
  std::string oldTz_;
  bool hadTz_ = false;
};

TEST_F(DateTest, PatternsRoundTripInLocalTime) {
  auto date = Date::parse("20240131 17:05:09", Date::kSettingsPattern);
  ASSERT_TRUE(date);
  // 17:05:09 in Berlin (UTC+1 in winter) is 16:05:09 UTC.
  EXPECT_EQ(date->timeIntervalSince1970(), 1706717109);
  EXPECT_EQ(date->format(Date::kSettingsPattern), "20240131 17:05:09");
  EXPECT_EQ(date->format(Date::kQueuePattern), "2024-01-31 17:05");
  EXPECT_EQ(date->format(Date::kTimeOfDayPattern), "17:05:09");
  auto summer = Date::parse("2024-07-01 08:30", Date::kQueuePattern);
  ASSERT_TRUE(summer);
  EXPECT_EQ(summer->timeIntervalSince1970(), 1719815400);  // UTC+2 in summer
}

TEST_F(DateTest, ParseRefusesTextThatDoesNotMatch) {
  for (const char* bad : {"", "2024013 17:05:09", "20240131 17:05:09 ", "20240131-17:05:09", "20241301 00:00:00",
                          "20240230 00:00:00", "20240131 24:00:00", "20240131 17:60:00", "2024O131 17:05:09"}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(Date::parse(bad, Date::kSettingsPattern));
  }
  EXPECT_TRUE(Date::parse("20240229 00:00:00", Date::kSettingsPattern));
  EXPECT_FALSE(Date::parse("20230229 00:00:00", Date::kSettingsPattern));
}

TEST_F(DateTest, TimeOfDayParsesOntoTheEpochDay) {
  auto date = Date::parse("21:30:00", Date::kTimeOfDayPattern);
  ASSERT_TRUE(date);
  EXPECT_EQ(date->format("yyyy-MM-dd HH:mm:ss"), "1970-01-01 21:30:00");
}

TEST_F(DateTest, ShortDateLongTimeHasSecondsAndZone) {
  auto date = Date::parse("20240131 17:05:09", Date::kSettingsPattern);
  EXPECT_EQ(date->shortDateLongTime(), "1/31/24, 5:05:09 PM CET");
  auto midnight = Date::parse("20240101 00:00:01", Date::kSettingsPattern);
  EXPECT_EQ(midnight->shortDateLongTime(), "1/1/24, 12:00:01 AM CET");
}

TEST_F(DateTest, ValueFormRoundTripsAndRejectsOtherValues) {
  Date date = Date::fromTimeIntervalSince1970(1706717109.5);
  EXPECT_EQ(Date::fromValue(date.toValue()), date);
  EXPECT_FALSE(Date::fromValue(Value("20240131 17:05:09")));
  EXPECT_FALSE(Date::fromValue(Value(12)));
  EXPECT_FALSE(Date::fromValue(Value{{"$date", "x"}}));
}

}  // namespace
}  // namespace palvero
