// `make screenshots`: renders every wizard page, every main-window view and
// every dialog of the desktop app on the offscreen platform, against a
// palvero-service holding sample data, into OUT/NAME<suffix>.png. The scale
// comes from QT_SCALE_FACTOR; --dark paints a dark palette.
//
// Usage: palvero-screenshots OUT SUFFIX [--dark]
#include <QApplication>
#include <QCalendarWidget>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <QTimeEdit>
#include <QProcess>
#include <QRadioButton>
#include <QStyleFactory>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidget>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>

#include "support/ServiceProcess.h"
#include "support/TempHome.h"
#include "UiFixture.h"
#include "app/MainViewController.h"
#include "app/RestoreQueueControl.h"
#include "base/RunLoop.h"
#include "protocol/CommunicationServer.h"
#include "state/DBManager.h"
#include "state/LocalSettings.h"
#include "ui/Alerts.h"
#include "ui/AppWindow.h"
#include "ui/QtRunLoop.h"
#include "ui/Text.h"
#include "ui/main/BackupPage.h"
#include "ui/main/LargestFilesDialog.h"
#include "ui/main/MainWindow.h"
#include "ui/main/RestorePage.h"
#include "ui/main/SettingsPage.h"
#include "ui/widgets/ExclusionEditor.h"
#include "ui/widgets/FolderTree.h"
#include "ui/wizard/WizardPages.h"
#include "ui/wizard/WizardView.h"

namespace palvero::testing {
namespace {

namespace fs = std::filesystem;
using ui::T;

class Shots {
 public:
  Shots(QString out, QString suffix) : out_(std::move(out)), suffix_(std::move(suffix)) { QDir().mkpath(out_); }
  void take(QWidget* widget, const QString& name) {
    QTest::qWait(50);
    QPixmap pixmap = widget->grab();
    QString path = QStringLiteral("%1/%2%3.png").arg(out_, name, suffix_);
    if (!pixmap.save(path)) std::fprintf(stderr, "screenshots: cannot write %s\n", qPrintable(path));
    ++count_;
  }
  int count() const { return count_; }

 private:
  QString out_;
  QString suffix_;
  int count_ = 0;
};


void writeSample(const fs::path& path, size_t size, std::mt19937& random) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary);
  std::string data(size, '\0');
  for (auto& c : data) c = static_cast<char>(random());
  out << data;
}

// A small home: documents, pictures and music, old enough to be backed up now.
void makeSampleHome(const std::string& home) {
  std::mt19937 random(20240131);
  const std::pair<const char*, size_t> files[] = {
      {"Documents/report-2023.pdf", 2400000}, {"Documents/budget.xlsx", 380000},
      {"Documents/notes/ideas.txt", 12000},   {"Documents/letters/landlord.odt", 64000},
      {"Pictures/trip/beach.jpg", 1800000},   {"Pictures/trip/harbour.jpg", 1500000},
      {"Pictures/family.png", 900000},        {"Music/album/track01.mp3", 3200000},
      {"Music/album/track02.mp3", 2900000},   {"Videos/birthday.mp4", 4100000},
  };
  for (const auto& [name, size] : files) writeSample(fs::path(home) / name, size, random);
  fs::create_directories(fs::path(home) / "Downloads");
  fs::create_directories(fs::path(home) / "Projects/palvero-notes");
  for (const auto& entry : fs::recursive_directory_iterator(home)) {
    if (entry.is_regular_file()) {
      fs::last_write_time(entry.path(), fs::file_time_type::clock::now() - std::chrono::hours(2));
    }
  }
}

bool runCli(const QStringList& arguments) {
  QProcess cli;
  cli.start(QStringLiteral(PALVERO_CLI_BINARY), arguments);
  if (!cli.waitForFinished(120000) || cli.exitCode() != 0) {
    std::fprintf(stderr, "screenshots: palvero %s failed: %s\n", qPrintable(arguments.join(' ')),
                 cli.readAllStandardError().constData());
    return false;
  }
  return true;
}

void darken(QApplication& app) {
  app.setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
  // The usual dark palette of the Fusion style.
  QPalette p;
  p.setColor(QPalette::Window, QColor(53, 53, 53));
  p.setColor(QPalette::WindowText, QColor(235, 235, 235));
  p.setColor(QPalette::Base, QColor(42, 42, 42));
  p.setColor(QPalette::AlternateBase, QColor(66, 66, 66));
  p.setColor(QPalette::Text, QColor(235, 235, 235));
  p.setColor(QPalette::Button, QColor(53, 53, 53));
  p.setColor(QPalette::ButtonText, QColor(235, 235, 235));
  p.setColor(QPalette::BrightText, Qt::red);
  p.setColor(QPalette::Link, QColor(90, 160, 235));
  p.setColor(QPalette::Highlight, QColor(42, 130, 218));
  p.setColor(QPalette::HighlightedText, Qt::white);
  p.setColor(QPalette::PlaceholderText, QColor(160, 160, 160));
  p.setColor(QPalette::Mid, QColor(90, 90, 90));
  p.setColor(QPalette::Dark, QColor(35, 35, 35));
  p.setColor(QPalette::Shadow, QColor(20, 20, 20));
  p.setColor(QPalette::ToolTipBase, QColor(53, 53, 53));
  p.setColor(QPalette::ToolTipText, QColor(235, 235, 235));
  p.setColor(QPalette::Disabled, QPalette::Text, QColor(127, 127, 127));
  p.setColor(QPalette::Disabled, QPalette::WindowText, QColor(127, 127, 127));
  p.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(127, 127, 127));
  app.setPalette(p);
}

QMessageBox* lastAlert(QWidget* parent) {
  auto boxes = parent->findChildren<QMessageBox*>(QString::fromLatin1(ui::Alerts::kObjectName));
  return boxes.isEmpty() ? nullptr : boxes.last();
}

int run(QApplication& app, const QString& out, const QString& suffix) {
  RunLoop::setMain(std::make_shared<ui::QtRunLoop>());
  TempHome home;
  resetCoreSingletons();
  ServiceProcess service;
  setenv("PALVERO_SERVER_URL", service.url().c_str(), 1);
  Shots shots(out, suffix);

  // The wizard, before anything is logged in.
  ui::AppWindow window;
  window.resize(900, 640);
  auto* wizard = new ui::WizardView();
  window.showWizard(wizard);
  window.show();
  ui::LoginPage* login = wizard->loginPage();
  login->userName()->setText(QStringLiteral("ann@example.com"));
  login->password()->setText(QStringLiteral("secret"));
  shots.take(&window, QStringLiteral("wizard-login"));
  ui::Alerts::inform(&window, T("you must accept with end-user license agreement"), QString());
  if (QMessageBox* alert = lastAlert(&window)) {
    shots.take(alert, QStringLiteral("wizard-login-alert"));
    alert->close();
  }
  wizard->showDevices({Value{{"Name", "Office desktop"}, {"DeviceID", "d1"}, {"DeviceType", "31"},
                             {"ComputerName", "office-pc"}},
                       Value{{"Name", "Ann's laptop"}, {"DeviceID", "d2"}, {"DeviceType", "11"},
                             {"ComputerName", "ann-laptop"}},
                       Value{{"Name", "Phone"}, {"DeviceID", "d3"}, {"DeviceType", "21"}, {"ComputerName", ""}}});
  shots.take(&window, QStringLiteral("wizard-device"));

  makeSampleHome(home.path());
  wizard->showExclusions();
  ui::ExclusionEditor* editor = wizard->exclusionsPage()->editor();
  UiFixture::waitFor([&] { return editor->folderModel()->pendingFetches() == 0; }, 5000);
  editor->folderTree()->expandAll();
  UiFixture::waitFor([&] { return editor->folderModel()->pendingFetches() == 0; }, 5000);
  editor->folderTree()->expandAll();
  if (auto index = editor->folderModel()->indexOfPath(home.path() + "/Music"); index.isValid()) {
    editor->folderModel()->setData(index, Qt::Unchecked, Qt::CheckStateRole);
  }
  shots.take(&window, QStringLiteral("wizard-exclusions-folders"));
  editor->tabs()->setCurrentIndex(1);
  editor->categoryList()->setCurrentRow(0);
  shots.take(&window, QStringLiteral("wizard-exclusions-types"));
  editor->categoryList()->setCurrentRow(8);
  shots.take(&window, QStringLiteral("wizard-exclusions-types-temporary"));
  editor->tabs()->setCurrentIndex(2);
  editor->sizeField()->setText(QStringLiteral("4"));
  shots.take(&window, QStringLiteral("wizard-exclusions-size"));
  wizard->showRestore();
  wizard->restorePage()->dateRadio()->setChecked(true);
  shots.take(&window, QStringLiteral("wizard-restore"));
  wizard->showFinish();
  wizard->finishPage()->setScanning(true);
  wizard->finishPage()->setFilesFound(1234);
  shots.take(&window, QStringLiteral("wizard-finish"));

  // Sample data on the service: the home folder backed up once.
  auto credentials = service.newDevice("ann", "secret");
  ServiceProcess::useCredentials(credentials);
  LocalSettings::sharedManager().setIsInitialized(true);
  LocalSettings::sharedManager().save();
  if (!runCli({QStringLiteral("scan")}) || !runCli({QStringLiteral("backup"), QStringLiteral("--quiet")})) return 1;
  resetCoreSingletons();
  LocalSettings::sharedManager().setDateBackupStarted(Date::now().addingTimeInterval(-3 * 3600));
  AwakeHooks hooks;
  ui::MainWindow* main = window.mainWindow();
  auto started = startQuietController(main, &hooks);
  MainViewController& controller = *started;
  // Two files that keep failing, for the failed-files list.
  std::vector<BackupFile> failing = {BackupFile{home.path() + "/Documents/locked.db", 1, "2024-03-02 09:14", 81920, "Permission denied"},
                                     BackupFile{home.path() + "/Projects/palvero-notes/huge.iso", 1, "2024-03-02 09:15", 734003200, "The file changed while it was read"}};
  for (int i = 0; i <= 5; ++i) DBManager::sharedDBManager().InsertOrUpdateFilesWithErrorsToDatabase(failing, true);

  main->setController(&controller);
  window.showMainWindow();
  controller.setStatusForTesting(true, 2);
  controller.setRunFiguresForTesting(false, 0, 0, 0, 0);
  controller.updateStatusBar();
  controller.updateStatistic();
  UiFixture::waitFor([&] { return main->backupPage()->filesCountLabel()->text() != QStringLiteral("-"); }, 10000);
  shots.take(&window, QStringLiteral("main-backup"));

  constexpr int64_t kMiB = 1 << 20;
  controller.setRunFiguresForTesting(true, 1240, 310, 2150 * kMiB, 8 * 1024 * kMiB);
  controller.setUIInProgress();
  for (int i = 0; i < 3; ++i) controller.updateStatusBar();
  shots.take(&window, QStringLiteral("main-backup-running"));
  controller.setRunFiguresForTesting(false, 0, 0, 0, 0);
  controller.setUIPause(false);
  controller.updateStatusBar();

  main->checkStatusPressed();
  UiFixture::waitFor([&] { return controller.checkStatusModel().evaluated; }, 10000);
  QTest::qWait(100);
  shots.take(&window, QStringLiteral("main-check-status"));
  main->openFailedFiles();
  if (main->openDialog()) shots.take(main->openDialog(), QStringLiteral("main-failed-files"));
  main->openLargestFiles(QStringLiteral("documents"));
  if (auto* dialog = main->findChild<ui::LargestFilesDialog*>()) {
    UiFixture::waitFor([&] { return !dialog->busy(); }, 10000);
    shots.take(dialog, QStringLiteral("main-largest-files"));
  }
  main->openSendLogs();
  if (auto* message = main->findChild<QPlainTextEdit*>(QStringLiteral("sendLogsMessage"))) {
    message->setPlainText(QStringLiteral("The backup of my Documents folder stops at 40 %."));
  }
  if (main->openDialog()) shots.take(main->openDialog(), QStringLiteral("main-send-logs"));
  if (main->openDialog()) main->openDialog()->close();
  main->showAlert(L("sendLogs"), L("LogsSentOK"));
  if (QMessageBox* alert = lastAlert(main)) {
    shots.take(alert, QStringLiteral("main-logs-sent"));
    alert->close();
  }
  main->backupPage()->setCheckStatusShown(false);
  RestoreQueueControl restoreControl(CommunicationServer::create());
  main->setPagesCore(&restoreControl, nullptr, CommunicationServer::create());
  main->showPage(1);
  // The tree opened down to the backed-up folders, a date chosen.
  ui::RestorePage* restorePage = main->restorePage();
  ui::FolderTreeModel* restoreModel = restorePage->treeModel();
  for (int depth = 0; depth < 5; ++depth) {
    UiFixture::waitFor([&] { return restoreModel->pendingFetches() == 0; }, 10000);
    restorePage->tree()->expandAll();
  }
  UiFixture::waitFor([&] { return restoreModel->pendingFetches() == 0; }, 10000);
  if (QModelIndex first = restoreModel->index(0, 0); first.isValid()) {
    restoreModel->setData(first, Qt::Checked, Qt::CheckStateRole);
  }
  restorePage->findChild<QRadioButton*>(QStringLiteral("restoreDateRadio"))->setChecked(true);
  restorePage->calendar()->setSelectedDate(QDate::currentDate().addDays(-3));
  restorePage->timeEdit()->setTime(QTime(14, 30));
  shots.take(&window, QStringLiteral("main-restore"));
  {
    // The first run's restore page once there is something on the service.
    ui::WizardView firstRun;
    firstRun.resize(window.size());
    firstRun.show();
    firstRun.showRestore();
    ui::RestorePresetsPage* page = firstRun.restorePage();
    page->chosenItemsRadio()->click();
    ui::FolderTreeModel* model = page->treeModel();
    auto* tree = page->findChild<QTreeView*>(QStringLiteral("restoreTree"));
    for (int depth = 0; depth < 5; ++depth) {
      UiFixture::waitFor([&] { return model->pendingFetches() == 0; }, 10000);
      tree->expandAll();
    }
    UiFixture::waitFor([&] { return model->pendingFetches() == 0; }, 10000);
    if (QModelIndex first = model->index(0, 0); first.isValid()) model->setData(first, Qt::Checked, Qt::CheckStateRole);
    shots.take(&firstRun, QStringLiteral("wizard-restore-chosen"));
  }
  main->showPage(2);
  ui::SettingsPage* settingsPage = main->settingsPage();
  settingsPage->advancedButton()->setChecked(true);
  settingsPage->bandwidthSlider()->setValue(25);
  shots.take(&window, QStringLiteral("main-settings"));
  LocalSettings::sharedManager().saveParameter("AccessRights", 2);
  settingsPage->setSettingsValues();
  shots.take(&window, QStringLiteral("main-settings-locked"));
  LocalSettings::sharedManager().saveParameter("AccessRights", 0);
  settingsPage->setSettingsValues();
  settingsPage->openExclusions();
  if (ui::ExclusionEditor* exclusions = settingsPage->exclusionEditor()) {
    exclusions->tabs()->setCurrentIndex(1);
    exclusions->categoryList()->setCurrentRow(4);
    shots.take(settingsPage->exclusionsDialog(), QStringLiteral("main-settings-file-types"));
    exclusions->tabs()->setCurrentIndex(2);
    exclusions->sizeField()->setText(QStringLiteral("10"));
    exclusions->sizeUnit()->setCurrentIndex(1);
    shots.take(settingsPage->exclusionsDialog(), QStringLiteral("main-settings-size-limit"));
  }
  settingsPage->exclusionsDialog()->hide();
  main->showPage(0);

  main->setController(nullptr);
  std::printf("screenshots: %d images in %s\n", shots.count(), qPrintable(out));
  (void)app;
  return 0;
}

}  // namespace
}  // namespace palvero::testing

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  QStringList arguments = QApplication::arguments();
  if (arguments.size() < 3) {
    std::fprintf(stderr, "usage: palvero-screenshots OUT SUFFIX [--dark]\n");
    return 2;
  }
  if (arguments.contains(QStringLiteral("--dark"))) palvero::testing::darken(app);
  return palvero::testing::run(app, arguments[1], arguments[2]);
}
