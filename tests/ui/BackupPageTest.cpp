// The backup page on the real widgets, bound to a real main window
// controller that talks to palvero-service: the status area's rules, the
// usage section, the check-status rows and the failed-files list.
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>
#include <QTest>

#include "UiFixture.h"
#include "app/Localization.h"
#include "app/MainViewController.h"
#include "app/StatusFormatter.h"
#include "state/DBManager.h"
#include "state/LocalSettings.h"
#include "ui/main/BackupPage.h"
#include "ui/main/CheckStatusView.h"
#include "ui/main/FailedFilesDialog.h"
#include "ui/main/MainWindow.h"
#include "ui/widgets/StatusArea.h"

namespace palvero::testing {
namespace {

using ui::MainWindow;


class BackupPageTest : public UiFixture {
 protected:
  void SetUp() override {
    UiFixture::SetUp();
    logIn();
    window_ = std::make_unique<MainWindow>();
    window_->resize(900, 640);
    controller_ = startQuietController(window_.get(), &hooks_);
    window_->setController(controller_.get());
    window_->show();
    controller_->setStatusForTesting(true, 2);
  }
  void TearDown() override {
    if (controller_) controller_->setRunFiguresForTesting(false, 0, 0, 0, 0);
    window_->setController(nullptr);
    controller_.reset();
    window_.reset();
    UiFixture::TearDown();
  }

  ui::StatusArea* area() { return window_->backupPage()->statusArea(); }
  QString filesText() { return area()->filesLabel()->text(); }

  AwakeHooks hooks_;
  std::unique_ptr<MainWindow> window_;
  std::unique_ptr<MainViewController> controller_;
};

TEST_F(BackupPageTest, FilesLabelAndProgressFollowTheRunsFigures) {
  const std::string files = " " + L("filesToBackup");
  struct Case {
    const char* name;
    bool running;
    int64_t pending, finished, done, total;
    std::string label;
    int progress;
  } cases[] = {
      {"10 pending, 3 finished", true, 10, 3, 300, 1000, "7" + files, 30},
      {"10 pending, none finished", true, 10, 0, 0, 1000, "10" + files, 0},
      {"more finished than pending", true, 3, 5, 900, 1000, "0" + files, 90},
      {"nothing pending", false, 0, 0, 0, 0, "0" + files, 100},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    controller_->setRunFiguresForTesting(c.running, c.pending, c.finished, c.done, c.total);
    controller_->updateStatusBar();
    EXPECT_EQ(filesText().toStdString(), c.label);
    EXPECT_EQ(area()->progressBar()->value(), c.progress);
  }
}

TEST_F(BackupPageTest, NoPendingFilesShowTheLastBackupInsteadOfAnEstimate) {
  Date started = Date::now().addingTimeInterval(-59 * 60);
  LocalSettings::sharedManager().setDateBackupStarted(started);
  controller_->setRunFiguresForTesting(false, 0, 0, 0, 0);
  controller_->updateStatusBar();
  EXPECT_EQ(area()->progressBar()->value(), 100);
  QLabel* last = area()->lastBackupLabel();
  EXPECT_TRUE(last->isVisible());
  EXPECT_EQ(last->text().toStdString(), L("backupDone") + " " + started.format("dd.MM.yyyy HH:mm"));
  auto* since = window_->backupPage()->timeSinceLabel();
  EXPECT_EQ(since->text().toStdString(), "59 minutes");
  EXPECT_DOUBLE_EQ(since->font().pointSizeF(), 36);
  QTest::qWait(0);
  EXPECT_GE(since->width(), since->sizeHint().width()) << "the time since the backup is cut";

  // Files waiting again: the estimate's place, not an old last-backup line.
  controller_->setRunFiguresForTesting(false, 4, 0, 0, 0);
  controller_->updateStatusBar();
  EXPECT_FALSE(last->isVisible());
  EXPECT_EQ(area()->progressBar()->value(), 0);
}

// The texts of other estimates (the 72-hour cap) are StatusFormatterTest's.
TEST_F(BackupPageTest, TimeRemainingShowsOnceItCanBeTrusted) {
  constexpr int64_t kGiB = int64_t{1} << 30;
  controller_->setRunFiguresForTesting(true, 91, 1, kGiB, 91 * kGiB);
  controller_->updateStatusBar();
  EXPECT_EQ(area()->timeField()->text().toStdString(), L("CalculationRemainingTime")) << "too early";
  controller_->updateStatusBar();
  controller_->updateStatusBar();
  // After three updates t is 1: 90 files and gigabytes left at one a minute.
  EXPECT_EQ(area()->timeField()->text().toStdString(), "1 hrs 30 mins left");
  auto* since = window_->backupPage()->timeSinceLabel();
  EXPECT_EQ(since->text().toUpper(), since->text());
  EXPECT_DOUBLE_EQ(since->font().pointSizeF(), 18);
  EXPECT_EQ(since->font().bold(), true);
  QTest::qWait(0);
  EXPECT_GE(since->width(), since->sizeHint().width()) << "the in-progress caption is cut";
}

TEST_F(BackupPageTest, CheckStatusReplacesTheChartWithTheEvaluatedRows) {
  ui::BackupPage* page = window_->backupPage();
  auto* button = find<QPushButton>(window_.get(), "checkStatusButton");
  ASSERT_NE(button, nullptr);
  EXPECT_FALSE(page->checkStatusShown());
  QTest::mouseClick(button, Qt::LeftButton);
  EXPECT_TRUE(page->checkStatusShown());
  auto& rows = page->checkStatusView()->rows();
  ASSERT_EQ(rows.size(), 6u);
  ASSERT_TRUE(waitFor([&] { return controller_->checkStatusModel().evaluated; }));
  ASSERT_TRUE(waitFor([&] { return !rows[0].text->text().isEmpty(); }));
  for (const auto& row : rows) {
    SCOPED_TRACE(row.text->objectName().toStdString());
    EXPECT_FALSE(row.image->pixmap().isNull());
  }
  // The service answers and nothing failed: the server row is a check.
  EXPECT_EQ(rows[0].image->accessibleName().toStdString(), L("statusOK"));
  EXPECT_FALSE(page->checkStatusView()->failedFilesButton()->isEnabled());
  QTest::mouseClick(find<QPushButton>(window_.get(), "closeCheckStatusButton"), Qt::LeftButton);
  EXPECT_FALSE(page->checkStatusShown());
}

TEST_F(BackupPageTest, FailedFilesListRemovesTheChosenFileFromTheQueue) {
  auto& database = DBManager::sharedDBManager();
  std::vector<BackupFile> failing = {BackupFile{home_->path() + "/a.txt", 1, "2024-01-01 10:00", 10, "denied"},
                                     BackupFile{home_->path() + "/b.txt", 1, "2024-01-01 10:00", 20, "gone"}};
  // A first failure is written with no try counted; five more reach the limit.
  for (int attempt = 0; attempt <= 5; ++attempt) ASSERT_TRUE(database.InsertOrUpdateFilesWithErrorsToDatabase(failing, true));
  // One more file that failed only once is not listed.
  ASSERT_TRUE(database.InsertOrUpdateFilesWithErrorsToDatabase(
      {BackupFile{home_->path() + "/c.txt", 1, "2024-01-01 10:00", 5, "busy"}}, true));

  window_->openFailedFiles();
  auto* dialog = find<ui::FailedFilesDialog>(window_.get(), "failedFilesDialog");
  ASSERT_NE(dialog, nullptr);
  EXPECT_TRUE(dialog->isVisible());
  QTreeWidget* list = dialog->list();
  ASSERT_EQ(list->topLevelItemCount(), 2);
  EXPECT_FALSE(dialog->deleteButton()->isEnabled()) << "nothing chosen yet";
  list->setCurrentItem(list->topLevelItem(0));
  QString removed = list->topLevelItem(0)->text(0);
  QTest::mouseClick(dialog->deleteButton(), Qt::LeftButton);
  ASSERT_EQ(list->topLevelItemCount(), 1);
  EXPECT_NE(list->topLevelItem(0)->text(0), removed);
  auto left = database.selectFailedFiles(true);
  ASSERT_EQ(left.size(), 1u);
  EXPECT_NE(left[0].path, removed.toStdString());
}

}  // namespace
}  // namespace palvero::testing
