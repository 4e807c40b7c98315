// Texts of the status area and the check-status rows.
#include <gtest/gtest.h>

#include "app/Localization.h"
#include "app/StatusFormatter.h"

namespace palvero::testing {
namespace {

TEST(StatusFormatterTest, FilesLabelAndRemaining) {
  EXPECT_EQ(StatusFormatter::filesLabel(StatusFormatter::remainingFiles(10, 3)), "7 " + L("filesToBackup"));
  EXPECT_EQ(StatusFormatter::remainingFiles(3, 10), 0);
}

TEST(StatusFormatterTest, TimeRemaining) {
  struct Case {
    int64_t minutes;
    std::string text;
  };
  for (const auto& c : {Case{0, "0 mins "}, Case{59, "59 mins "}, Case{60, "1 hrs 0 mins "},
                        Case{90, "1 hrs 30 mins "}, Case{4319, "71 hrs 59 mins "},
                        Case{4320, "More than 72 hours "}, Case{5000, "More than 72 hours "}}) {
    SCOPED_TRACE(c.minutes);
    EXPECT_EQ(StatusFormatter::timeRemaining(c.minutes), c.text + L("left"));
  }
}

TEST(StatusFormatterTest, EstimateIsWithheldUntilItCanBeTrusted) {
  EXPECT_FALSE(StatusFormatter::estimateMinutes(1, 100, 10, 10, 1));
  EXPECT_FALSE(StatusFormatter::estimateMinutes(5, 100, 0, 10, 1)) << "no file done: infinite";
  EXPECT_FALSE(StatusFormatter::estimateMinutes(5, 100, 10, 10, 0)) << "no byte done: infinite";
  EXPECT_FALSE(StatusFormatter::estimateMinutes(3, 11, 10, 1.0, 0.99)) << "1.0 or less";
  auto estimate = StatusFormatter::estimateMinutes(30, 100, 10, 10, 1);
  ASSERT_TRUE(estimate);
  EXPECT_DOUBLE_EQ(*estimate, ((90 * 10.0 / 10) + (9 * 10.0 / 1)) / 2);
}

TEST(StatusFormatterTest, TimeSince) {
  // A date in the future (the clock was set back), however slightly.
  for (double ahead : {-5.0, -1.0}) EXPECT_EQ(StatusFormatter::timeSince(ahead), L("moreThan9Hours")) << ahead;
  EXPECT_EQ(StatusFormatter::timeSince(0.2), "");
  EXPECT_EQ(StatusFormatter::timeSince(42), StatusFormatter::fillNumber(L("xSeconds"), 42));
  EXPECT_EQ(StatusFormatter::timeSince(3599), StatusFormatter::fillNumber(L("xMinutes"), 59));
  EXPECT_EQ(StatusFormatter::timeSince(7300), StatusFormatter::fillNumber(L("xHours"), 2));
}

TEST(StatusFormatterTest, SizeText) {
  EXPECT_EQ(StatusFormatter::sizeText(500000, 2500000000), L("BackupedFilesSizeTotal") + " 0.50 MB/2.50 GB");
  EXPECT_EQ(StatusFormatter::sizeText(0, 1000000000), L("BackupedFilesSizeTotal") + " 0.00 MB/1000.00 MB");
}

TEST(StatusFormatterTest, StorageRow) {
  struct Case {
    int64_t used;
    Value allowance;
    std::string text;
    bool full;
  };
  for (const auto& c : {Case{12400000000, "10", "Used 12.40 GB / 10 GB", true},
                        Case{12400000000, 10, "Used 12.40 GB / 10 GB", true},
                        Case{12400000000, "0", "Used 12.40 GB / Unlimited", false},
                        Case{12400000000, -1, "Used 12.40 GB / Unlimited", false},
                        Case{500000000, "1", "Used 500.00 MB / 1 GB", false},
                        Case{1000000000, "1", "Used 1000.00 MB / 1 GB", false},
                        Case{1000000001, "1", "Used 1.00 GB / 1 GB", true},
                        Case{5, "lots", "Used 0.00 MB / Unlimited", false}}) {
    SCOPED_TRACE(c.text);
    bool full = false;
    EXPECT_EQ(StatusFormatter::storageText(c.used, c.allowance, full), c.text);
    EXPECT_EQ(full, c.full);
  }
}

TEST(StatusFormatterTest, LastBackupRow) {
  Date now = Date::fromLocalComponents(2024, 3, 10, 12, 0, 0);
  bool ok = false;
  EXPECT_EQ(StatusFormatter::lastBackupRow(now.addingTimeInterval(-3600), now, ok), "10.03.2024 11:00");
  EXPECT_TRUE(ok);
  EXPECT_EQ(StatusFormatter::lastBackupRow(now.addingTimeInterval(-2592001), now, ok),
            "Last backup was more than 30 days");
  EXPECT_FALSE(ok);
  EXPECT_EQ(StatusFormatter::lastBackupRow(std::nullopt, now, ok), "Last backup was more than 30 days");
  EXPECT_TRUE(ok) << "no backup yet is not a warning";
}

TEST(LocalizationTest, KnownKeysMissingKeysAndBadTables) {
  Localization table;
  EXPECT_EQ(table.text("appCloseTitle"), "Quit Palvero?");
  EXPECT_EQ(table.text("noSuchKey"), "noSuchKey");
  EXPECT_FALSE(table.loadJSON("[1, 2]"));
  EXPECT_FALSE(table.loadJSON("{\"ok\": 5}"));
  EXPECT_FALSE(table.loadJSON("{broken"));
  EXPECT_EQ(table.text("ok"), "OK") << "a refused table changes nothing";
  EXPECT_TRUE(table.loadJSON("{\"ok\": \"Selvä\"}"));
  EXPECT_EQ(table.text("ok"), "Selvä");
  EXPECT_EQ(StatusFormatter::fillNumber("%d %s %ld", 7), "%d %s 7") << "tables are never printf formats";
}

}  // namespace
}  // namespace palvero::testing
