// The dialogs of the backup page against palvero-service holding files that
// the palvero command backed up: the usage figures and chart, the largest
// files with "show more" and their removal (after a confirmation), the
// send-logs dialog with its two outcomes, and the update question.
#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QPieSeries>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "UiFixture.h"
#include "app/Localization.h"
#include "platform/Env.h"
#include "support/LogLines.h"
#include "app/MainViewController.h"
#include "base/NotificationCenter.h"
#include "selection/CommonExtensions.h"
#include "ui/Alerts.h"
#include "ui/main/BackupPage.h"
#include "ui/main/LargestFilesDialog.h"
#include "ui/main/MainWindow.h"
#include "ui/main/SendLogsDialog.h"
#include "ui/widgets/UsagePieChart.h"

namespace palvero::testing {
namespace {

namespace fs = std::filesystem;


class MainWindowDialogsTest : public UiFixture {
 protected:
  void SetUp() override {
    UiFixture::SetUp();
    credentials_ = logIn();
  }
  void TearDown() override {
    if (window_) window_->setController(nullptr);
    controller_.reset();
    window_.reset();
    UiFixture::TearDown();
  }

  // `count` documents of growing size, backed up by the palvero command.
  void backUpDocuments(int count) {
    for (int i = 0; i < count; ++i) {
      fs::path path = fs::path(home_->path()) / "Documents" / ("doc-" + std::to_string(i) + ".txt");
      fs::create_directories(path.parent_path());
      std::ofstream(path) << std::string(static_cast<size_t>(1000 * (i + 1)), static_cast<char>('a' + i % 26));
      fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::hours(1));
    }
    for (const char* command : {"scan", "backup"}) {
      QProcess cli;
      cli.start(QStringLiteral(PALVERO_CLI_BINARY), {QString::fromLatin1(command)});
      ASSERT_TRUE(cli.waitForFinished(120000));
      ASSERT_EQ(cli.exitCode(), 0) << command << ": " << cli.readAllStandardError().toStdString();
    }
    resetCoreSingletons();
  }

  void openWindow() {
    window_ = std::make_unique<ui::MainWindow>();
    controller_ = startQuietController(window_.get(), &hooks_);
    window_->setController(controller_.get());
    window_->resize(900, 640);
    window_->show();
  }

  QMessageBox* alert() {
    auto boxes = window_->findChildren<QMessageBox*>(QString::fromLatin1(ui::Alerts::kObjectName));
    for (QMessageBox* box : boxes) {
      if (box->isVisible()) return box;
    }
    return nullptr;
  }

  ServiceProcess::Credentials credentials_;
  AwakeHooks hooks_;
  std::unique_ptr<ui::MainWindow> window_;
  std::unique_ptr<MainViewController> controller_;
};

TEST_F(MainWindowDialogsTest, UsageAndTheLargestFilesPageByPageAndRemovalAfterConfirmation) {
  backUpDocuments(12);
  openWindow();
  ui::BackupPage* page = window_->backupPage();
  controller_->updateStatistic();
  ASSERT_TRUE(waitFor([&] { return page->filesCountLabel()->text() != QStringLiteral("-"); }));
  EXPECT_EQ(page->filesCountLabel()->text(), QStringLiteral("12"));
  EXPECT_EQ(page->storageUsedLabel()->text().toStdString(), "0.07 " + L("MB"));
  QPieSeries* series = page->pieChart()->series();
  ASSERT_EQ(series->count(), 6);
  EXPECT_DOUBLE_EQ(series->slices()[0]->value(), 78000) << "documents: 1000 + 2000 + ... + 12000 bytes";
  for (int i = 1; i < 6; ++i) EXPECT_DOUBLE_EQ(series->slices()[i]->value(), 0);

  window_->openLargestFiles(QStringLiteral("documents"));
  auto* dialog = window_->findChild<ui::LargestFilesDialog*>();
  ASSERT_NE(dialog, nullptr);
  ASSERT_TRUE(waitFor([&] { return !dialog->busy(); }));
  QTreeWidget* list = dialog->list();
  ASSERT_EQ(list->topLevelItemCount(), 10);
  EXPECT_EQ(list->topLevelItem(0)->text(0), QStringLiteral("doc-11.txt")) << "largest first";
  EXPECT_TRUE(dialog->showMoreButton()->isEnabled());
  QTest::mouseClick(dialog->showMoreButton(), Qt::LeftButton);
  ASSERT_TRUE(waitFor([&] { return !dialog->busy(); }));
  ASSERT_EQ(list->topLevelItemCount(), 12);
  EXPECT_FALSE(dialog->showMoreButton()->isEnabled()) << "a short page is the last";

  // Each removal asks first; `answer` names the button pressed.
  auto visible = [&](const std::string& informative) -> QMessageBox* {
    for (QMessageBox* box : dialog->findChildren<QMessageBox*>()) {
      if (box->isVisible() && box->informativeText().toStdString() == informative) return box;
    }
    return nullptr;
  };
  auto removeFirst = [&](const char* answer) {
    list->setCurrentItem(list->topLevelItem(0));
    QTest::mouseClick(dialog->deleteButton(), Qt::LeftButton);
    QMessageBox* ask = visible(L("RemoveFileDialog"));
    ASSERT_NE(ask, nullptr);
    EXPECT_EQ(ask->text().toStdString(), L("removedFromTop10"));
    QTest::mouseClick(ask->findChild<QPushButton*>(QString::fromLatin1(answer)), Qt::LeftButton);
  };
  service_->clearLog();
  removeFirst("cancelButton");
  QTest::qWait(0);
  EXPECT_TRUE(service_->requests("delete").empty()) << "cancelled, yet sent";
  EXPECT_EQ(list->topLevelItemCount(), 12);

  // OK: the service drops its versions, the file leaves the list and the backup.
  std::string path = list->topLevelItem(0)->text(1).toStdString();
  removeFirst("okButton");
  ASSERT_TRUE(waitFor([&] { return list->topLevelItemCount() == 11; }));
  auto deletes = service_->requests("delete");
  ASSERT_EQ(deletes.size(), 1u);
  EXPECT_EQ(deletes[0]["fields"].value("path", ""), "[\"" + path + "\"]");
  auto excluded = CommonExtensions::sharedExtensionsManager().filesToBeExcludedFromBackup();
  EXPECT_NE(std::find(excluded.begin(), excluded.end(), path), excluded.end());
  dialog->showCategory(QStringLiteral("documents"));
  ASSERT_TRUE(waitFor([&] { return !dialog->busy(); }));
  EXPECT_NE(list->topLevelItem(0)->text(1).toStdString(), path) << "the service still lists it";

  // Refused by the service: the file stays, and the user is told.
  service_->addFault("delete:500:10");
  const int shown = list->topLevelItemCount();
  removeFirst("okButton");
  EXPECT_TRUE(waitFor([&] { return visible(L("removeFileFail")) != nullptr; }));
  EXPECT_EQ(list->topLevelItemCount(), shown);
  EXPECT_EQ(CommonExtensions::sharedExtensionsManager().filesToBeExcludedFromBackup().size(), 1u);
}

TEST_F(MainWindowDialogsTest, SendLogsSendsTheMessageAndTellsHowItWent) {
  openWindow();
  struct Case {
    const char* name;
    const char* fault;
    const char* outcome;
  } cases[] = {{"sent", nullptr, "LogsSentOK"}, {"refused", "send_logs:500:5", "LogsSentFail"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    service_->clearLog();
    if (c.fault) service_->addFault(c.fault);
    window_->openSendLogs();
    auto* dialog = window_->findChild<ui::SendLogsDialog*>();
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(dialog->isVisible());
    dialog->message()->setPlainText(QStringLiteral("backup stops at 40 %"));
    QTest::mouseClick(dialog->sendButton(), Qt::LeftButton);
    EXPECT_FALSE(dialog->isVisible());
    QMessageBox* box = nullptr;
    ASSERT_TRUE(waitFor([&] { return (box = alert()) != nullptr; }));
    EXPECT_EQ(box->text().toStdString(), L("sendLogs"));
    EXPECT_EQ(box->informativeText().toStdString(), L(c.outcome));
    if (!c.fault) {
      ASSERT_FALSE(service_->requests("send_logs").empty());
      // The service keeps the message as it decoded it.
      EXPECT_NE(service_->reports().dump().find("backup stops at 40 %"), std::string::npos);
    }
    box->done(0);
    QTest::qWait(0);
    service_->clearFaults();
  }
}

TEST_F(MainWindowDialogsTest, ADownloadedUpdateRunsOnlyAfterTheUserSaysYes) {
  std::string marker = home_->path() + "/updater-ran";
  std::string updater = Env::supportDirectory() + "/PalveroUpdater.app";
  writeFile(updater, "#!/bin/sh\necho ran >> '" + marker + "'\n");
  ::chmod(updater.c_str(), 0700);
  openWindow();
  for (bool yes : {false, true}) {
    SCOPED_TRACE(yes ? "yes" : "no");
    NotificationCenter::defaultCenter().post("DownloadUpdateOK");
    controller_->updateClient();  // the next hourly check finds it again
    QTest::qWait(0);
    auto questions = window_->findChildren<QMessageBox*>(QStringLiteral("updateQuestion"));
    ASSERT_EQ(questions.size(), 1) << "one question at a time";
    auto* answer = questions[0]->findChild<QPushButton*>(yes ? QStringLiteral("okButton") : QStringLiteral("cancelButton"));
    ASSERT_NE(answer, nullptr);
    answer->click();
    QTest::qWait(0);
    EXPECT_EQ(loggedTextsStartingWith("The updater is started").size(), yes ? 1u : 0u)
        << (yes ? "" : "downloaded code ran without consent");
    if (yes) {
      EXPECT_TRUE(waitFor([&] { return fs::exists(marker); }, 10000));
    }
  }
}

}  // namespace
}  // namespace palvero::testing
