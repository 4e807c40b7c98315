// The first-run wizard end to end against palvero-service, on the real
// widgets: refusals that keep the user on the login page, a login that
// needs no device step, the device page (a new device, one of two devices
// that share a name), the first scan and the hand-over to the main window,
// and the restore chosen instead of the first scan.
#include <QCalendarWidget>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QTest>
#include <QTimeEdit>

#include "UiFixture.h"
#include "app/Localization.h"
#include "selection/CommonExtensions.h"
#include "state/DBManager.h"
#include "state/FilesToBackup.h"
#include "state/LocalSettings.h"
#include "support/LogLines.h"
#include "ui/Alerts.h"
#include "ui/AppWindow.h"
#include "ui/DesktopApp.h"
#include "ui/StatusItem.h"
#include "ui/Text.h"
#include "ui/widgets/ExclusionEditor.h"
#include "ui/wizard/WizardPages.h"
#include "ui/wizard/WizardView.h"

namespace palvero::testing {
namespace {

using ui::DesktopApp;

class WizardFlowTest : public UiFixture {
 protected:
  // The texts of the open alerts, oldest first; they are closed.
  static std::vector<std::string> takeAlerts(QWidget* root) {
    std::vector<std::string> texts;
    for (QMessageBox* box : root->findChildren<QMessageBox*>(QString::fromLatin1(ui::Alerts::kObjectName))) {
      if (!box->isVisible()) continue;
      texts.push_back(box->text().toStdString());
      box->done(0);
    }
    QTest::qWait(0);
    return texts;
  }

  static void typeLogin(ui::WizardView* wizard, const QString& user, const QString& password, bool accept) {
    ui::LoginPage* login = wizard->loginPage();
    login->userName()->setText(user);
    login->password()->setText(password);
    login->licenseCheckBox()->setChecked(accept);
    QTest::mouseClick(login->nextButton(), Qt::LeftButton);
  }

  // Done on the finish page, and the main window after the first scan.
  static bool finishAndHandOver(DesktopApp& app) {
    ui::WizardView* wizard = app.wizard();
    QTest::mouseClick(wizard->exclusionsPage()->nextButton(), Qt::LeftButton);
    if (wizard->currentPage() != wizard->finishPage()) return false;
    QTest::mouseClick(wizard->finishPage()->doneButton(), Qt::LeftButton);
    return waitFor([&] { return app.window()->showsMainWindow(); }, 60000);
  }
};

// Refused logins say why and leave the login page usable; then a login that
// needs no device step scans the home and hands over to the main window.
TEST_F(WizardFlowTest, RefusedLoginsThenOneWithoutADeviceStepThatScansTheHomeAndHandsOver) {
  service_->addUser("ann", "secret");
  writeFile(home_->path() + "/Documents/letter.txt", "dear ann");
  writeFile(home_->path() + "/Pictures/cat.png", "not really a png");
  writeFile(home_->path() + "/Music/song.mp3", "la la");
  DesktopApp app(quietDesktopOptions());
  app.start();
  ui::WizardView* wizard = app.wizard();
  ASSERT_NE(wizard, nullptr);
  struct Case {
    const char* name;
    const char* password;
    bool accept;
    std::vector<std::string> alerts;
    size_t logins;  // requests that reached the service
  } cases[] = {
      {"agreement unchecked", "secret", false, {L("you must accept with end-user license agreement")}, 0},
      {"wrong password", "nope", true, {L("regUserFailAlert"), L("wrong username or password")}, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    service_->clearLog();
    typeLogin(wizard, QStringLiteral("ann"), QString::fromLatin1(c.password), c.accept);
    ASSERT_TRUE(waitFor([&] { return wizard->loginPage()->nextButton()->isEnabled(); }));
    ASSERT_TRUE(waitFor([&] {
      return static_cast<size_t>(wizard->findChildren<QMessageBox*>().size()) >= c.alerts.size();
    }));
    EXPECT_EQ(takeAlerts(wizard), c.alerts);
    EXPECT_EQ(service_->requests("register").size(), c.logins);
    EXPECT_EQ(wizard->currentPage(), wizard->loginPage());
  }
  EXPECT_FALSE(LocalSettings::sharedManager().isInitialized());

  typeLogin(wizard, QStringLiteral("ann"), QStringLiteral("secret"), true);
  ASSERT_TRUE(waitFor([&] { return wizard->currentPage() == wizard->exclusionsPage(); }, 60000));
  EXPECT_TRUE(takeAlerts(wizard).empty());
  // No size limit until the user sets one.
  EXPECT_EQ(CommonExtensions::sharedExtensionsManager().maxSize().value_or(Value()), Value(0));
  EXPECT_EQ(app.statusItem(), nullptr) << "no status item before the hand-over";

  // A file type left out in the editor: the first scan leaves it out, and
  // the exclusions go to the service on the way out.
  ui::ExclusionEditor* editor = wizard->exclusionsPage()->editor();
  QCheckBox* mp3 = editor->extensionBox(QStringLiteral("musicValues"), QStringLiteral(".MP3"));
  ASSERT_NE(mp3, nullptr);
  mp3->click();
  ASSERT_TRUE(finishAndHandOver(app));
  auto exclusionsSaved = [&] {
    for (const auto& entry : service_->requests("save_settings")) {
      if (entry["fields"].value("type", "") == "exclusions") return true;
    }
    return false;
  };
  EXPECT_TRUE(waitFor(exclusionsSaved));

  EXPECT_EQ(wizard->finishPage()->initialScanLabel()->text().toStdString(),
            ui::T("initialScanFound").arg(2).toStdString());
  EXPECT_EQ(FilesToBackup::sharedFilesToBackup().files().size(), 2u);
  EXPECT_NE(app.delegate()->mainViewController(), nullptr);
  EXPECT_NE(app.statusItem(), nullptr);
  EXPECT_TRUE(LocalSettings::sharedManager().isInitialized());
  app.shutdown();
}

TEST_F(WizardFlowTest, TheDevicePageAddsANamedDeviceOrTakesOverTheChosenOne) {
  service_->addUser("ann", "secret", 4);
  auto first = service_->enrolDevice("ann", "secret", "desk");
  auto second = service_->enrolDevice("ann", "secret", "desk");
  struct Case {
    const char* name;
    bool addNew;
    int row;
  } cases[] = {{"add new, with a blank in its name", true, 0}, {"the second of two named alike", false, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    resetCoreSingletons();
    // Not logged in: the wizard again.
    LocalSettings::sharedManager().setIsInitialized(false);
    LocalSettings::sharedManager().save();
    service_->clearLog();
    DesktopApp app(quietDesktopOptions());
    app.start();
    ui::WizardView* wizard = app.wizard();
    ASSERT_NE(wizard, nullptr);
    typeLogin(wizard, QStringLiteral("ann"), QStringLiteral("secret"), true);
    ASSERT_TRUE(waitFor([&] { return wizard->currentPage() == wizard->devicePage(); }, 60000));
    ui::DevicePage* page = wizard->devicePage();
    ASSERT_GE(page->devicesTable()->rowCount(), 2);
    if (c.addNew) {
      page->addNewRadio()->click();
      // Without a name nothing is registered.
      QTest::mouseClick(page->nextButton(), Qt::LeftButton);
      EXPECT_EQ(takeAlerts(wizard), std::vector<std::string>{L("enterDeviceName")});
      EXPECT_TRUE(page->nextButton()->isEnabled());
      page->newDeviceName()->setText(QStringLiteral("Ann laptop"));
    } else {
      page->devicesTable()->selectRow(c.row);
    }
    QTest::mouseClick(page->nextButton(), Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return wizard->currentPage() == wizard->exclusionsPage(); }, 60000))
        << (takeAlerts(wizard).empty() ? "" : takeAlerts(wizard)[0]);
    auto registered = service_->requests("register_device");
    ASSERT_EQ(registered.size(), 1u);
    Value record = Value::parse(registered[0]["fields"].value("device", ""));
    if (c.addNew) {
      EXPECT_EQ(record["Name"], "Ann laptop");
      // An empty home: nothing is queued, and the main window takes over all the same.
      ASSERT_TRUE(finishAndHandOver(app));
      EXPECT_EQ(DBManager::sharedDBManager().GetTotalNumberOfFiles(true), 0);
      EXPECT_EQ(loggedTextsStartingWith("First scan initiated succesfully. Files added to database: false").size(),
                1u);
    } else {
      std::string chosen = page->devicesTable()->item(c.row, 0)->data(Qt::UserRole).toString().toStdString();
      EXPECT_EQ(record["DeviceID"], chosen);
      EXPECT_EQ(LocalSettings::sharedManager().clientId().value_or(""), chosen);
      EXPECT_TRUE(chosen == first.clientId || chosen == second.clientId);
    }
    app.shutdown();
  }
}

TEST_F(WizardFlowTest, ARestoreChosenFirstIsStoredAndHandsOverWithoutAScan) {
  ui::WizardView wizard;
  wizard.show();
  bool handedOver = false;
  QObject::connect(&wizard, &ui::WizardView::finished, [&] { handedOver = true; });
  ui::RestorePresetsPage* page = wizard.restorePage();
  wizard.showRestore();
  page->dateRadio()->click();
  QDate day = QDate::currentDate().addDays(-3);
  page->calendar()->setSelectedDate(day);
  page->time()->setTime(QTime(14, 30));
  page->otherFolderRadio()->click();
  EXPECT_FALSE(page->restoreButton()->isEnabled()) << "another folder needs a folder";
  page->destination()->setText(QString::fromStdString(home_->path() + "/Restored"));
  page->replaceFilesBox()->setChecked(false);
  QTest::mouseClick(page->restoreButton(), Qt::LeftButton);
  ASSERT_TRUE(handedOver);

  Value presets = LocalSettings::sharedManager().presetsForRestore();
  EXPECT_EQ(presets["restoreLatest"], false);
  EXPECT_EQ(presets["restoreToOriginalPath"], false);
  EXPECT_EQ(presets["restoreAllData"], true);
  EXPECT_EQ(presets["restoreDestinationPath"], home_->path() + "/Restored");
  EXPECT_EQ(presets["dateValue"].get<double>(), static_cast<double>(QDateTime(day, QTime(14, 30)).toSecsSinceEpoch()));
  EXPECT_FALSE(CommonExtensions::sharedExtensionsManager().replaceFiles());
  EXPECT_TRUE(loggedTextsStartingWith("First scan initiated").empty());
}

}  // namespace
}  // namespace palvero::testing
