#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <ctime>

#include "base/Clock.h"
#include "base/FakeClock.h"
#include "engine/format/util/Functions.h"
#include "state/LogWriter.h"
#include "support/TempHome.h"

namespace palvero {
namespace {

class FunctionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    savedTz_ = std::getenv("TZ") ? std::optional<std::string>(std::getenv("TZ")) : std::nullopt;
    setenv("TZ", "Europe/Berlin", 1);
    tzset();
  }
  void TearDown() override {
    if (savedTz_) {
      setenv("TZ", savedTz_->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }
  std::optional<std::string> savedTz_;
  testing::TempHome home_;
};

TEST_F(FunctionsTest, ParseModifiedDateTime) {
  EXPECT_EQ(Functions::ParseModifiedDateTime(""), Date::distantPast());
  auto date = Functions::ParseModifiedDateTime("20240131 17:05:09");
  ASSERT_TRUE(date);
  EXPECT_EQ(*date, Date::fromLocalComponents(2024, 1, 31, 17, 5, 9));
  EXPECT_EQ(date->format(Date::kSettingsPattern), "20240131 17:05:09");
  // 16:05:09 UTC in winter, as the local zone is Berlin.
  EXPECT_EQ(date->timeIntervalSince1970(), 1706717109);
  for (const char* bad : {"20240131 17:05:09|x", "|", "2024-01-31 17:05", "20240131 17:05", "20241331 17:05:09",
                          "20240131 17:05:09 ", "(null)"}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(Functions::ParseModifiedDateTime(bad));
  }
}

TEST_F(FunctionsTest, CurrentTimeFollowsTheProcessClock) {
  auto clock = std::make_shared<FakeClock>(Date::fromLocalComponents(2023, 7, 4, 9, 8, 7));
  Clock::setCurrent(clock);
  EXPECT_EQ(Functions::getCurrentTime(), "20230704 09:08:07");
  Clock::setCurrent(nullptr);
}

TEST_F(FunctionsTest, FileDateTimeIsTheLaterOfModificationAndCreation) {
  std::string path = home_ / "file.txt";
  testing::writeFile(path, "x");
  // Modification in the past: the birth time (now) is later, when recorded.
  struct timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  auto date = Functions::GetFileDateTime(path);
  ASSERT_TRUE(date);
  struct statx st {};
  ASSERT_EQ(::statx(AT_FDCWD, path.c_str(), 0, STATX_BTIME, &st), 0);
  if (st.stx_mask & STATX_BTIME) {
    EXPECT_EQ(static_cast<int64_t>(date->timeIntervalSince1970()), st.stx_btime.tv_sec);
  } else {
    EXPECT_EQ(date->timeIntervalSince1970(), 1000000000);
  }
  // Modification in the future: it wins.
  struct timespec future[2] = {{4000000000, 500000000}, {4000000000, 500000000}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), future, 0), 0);
  date = Functions::GetFileDateTime(path);
  ASSERT_TRUE(date);
  EXPECT_DOUBLE_EQ(date->timeIntervalSince1970(), 4000000000.5);
}

TEST_F(FunctionsTest, FileDateTimeOfAMissingFileIsNothingAndLogged) {
  EXPECT_FALSE(Functions::GetFileDateTime(home_ / "missing"));
  std::string log = testing::readFile(LogWriter::sharedLogger().currentLogFilepath());
  EXPECT_NE(log.find("Exception in GetFileDateTime: "), std::string::npos);
}

}  // namespace
}  // namespace palvero
