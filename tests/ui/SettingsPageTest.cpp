// The settings page on the real widgets, with a main window controller that
// talks to palvero-service: what each control stores, the proxy port rule,
// the administrator's locks, the thread positions, the upload limit (also
// when set from the command line), and the service asked to drop what new
// exclusions leave out.
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTest>
#include <QTimeEdit>

#include "UiFixture.h"
#include "app/MainViewController.h"
#include "app/SettingsInbox.h"
#include "base/DispatchQueue.h"
#include "protocol/CommunicationServer.h"
#include "selection/CommonExtensions.h"
#include "state/LocalSettings.h"
#include "ui/Text.h"
#include "ui/main/SettingsPage.h"
#include "ui/widgets/FitLabel.h"
#include "ui/widgets/ExclusionEditor.h"

namespace palvero::testing {
namespace {

using ui::T;


class SettingsPageTest : public UiFixture {
 protected:
  void SetUp() override {
    UiFixture::SetUp();
    logIn();
    controller_ = startQuietController(nullptr, &hooks_);
    page_ = std::make_unique<ui::SettingsPage>();
    page_->setCore(controller_.get(), nullptr, CommunicationServer::create());
    page_->resize(760, 720);
    page_->show();
  }
  void TearDown() override {
    page_.reset();
    controller_.reset();
    UiFixture::TearDown();
  }

  static void type(QLineEdit* field, const QString& text) {
    field->setFocus();
    field->selectAll();
    QTest::keyClicks(field, text);
    emit field->editingFinished();
  }

  static LocalSettings& settings() { return LocalSettings::sharedManager(); }

  AwakeHooks hooks_;
  std::unique_ptr<MainViewController> controller_;
  std::unique_ptr<ui::SettingsPage> page_;
};

TEST_F(SettingsPageTest, TheProxyPortIsStoredOnlyWhenItIsANumber) {
  page_->proxyTypeCombo()->setCurrentIndex(2);
  EXPECT_EQ(settings().proxyType(), 2);
  ASSERT_TRUE(page_->proxyPortField()->isEnabled());
  type(page_->proxyPortField(), QStringLiteral("8080"));
  EXPECT_EQ(settings().proxyPort().value_or(""), "8080");
  EXPECT_EQ(page_->proxyPortField()->text(), QStringLiteral("8080"));
  type(page_->proxyPortField(), QStringLiteral("80a"));
  EXPECT_TRUE(page_->proxyPortField()->text().isEmpty()) << "a text that is no port clears the field";
  EXPECT_EQ(settings().proxyPort().value_or(""), "8080") << "and stores nothing";
  type(page_->proxyServerField(), QStringLiteral("proxy.example"));
  EXPECT_EQ(settings().proxyServer().value_or(""), "proxy.example");
  // Type 0 has no server of its own.
  page_->proxyTypeCombo()->setCurrentIndex(0);
  EXPECT_EQ(settings().proxyType(), 0);
  EXPECT_FALSE(page_->proxyServerField()->isEnabled());
  EXPECT_FALSE(page_->proxyPortField()->isEnabled());
}

TEST_F(SettingsPageTest, AccessRightsLockTheThreeAreasAndOtherValuesChangeNothing) {
  auto lock = [&](const char* name) { return page_->findChild<QLabel*>(QString::fromLatin1(name)); };
  auto expectLocked = [&](bool locked) {
    EXPECT_EQ(page_->timingCombo()->isEnabled(), !locked);
    EXPECT_EQ(page_->exclusionsButton()->isEnabled(), !locked);
    EXPECT_EQ(page_->advancedButton()->isEnabled(), !locked);
    for (const char* name : {"timingLock", "exclusionsLock", "advancedLock"}) {
      SCOPED_TRACE(name);
      ASSERT_NE(lock(name), nullptr);
      EXPECT_EQ(lock(name)->isVisible(), locked);
    }
    EXPECT_EQ(page_->notice()->isVisible(), locked);
    if (locked) {
      EXPECT_FALSE(page_->advancedView()->isVisible());
    }
  };
  expectLocked(false);
  page_->advancedButton()->setChecked(true);
  ASSERT_TRUE(page_->advancedView()->isVisible());
  settings().saveParameter("AccessRights", 2);
  page_->setSettingsValues();
  expectLocked(true);
  settings().saveParameter("AccessRights", 7);
  page_->setSettingsValues();
  expectLocked(true);
  settings().saveParameter("AccessRights", 0);
  page_->setSettingsValues();
  expectLocked(false);
}

// Every position's worker count is ThreadCountTest's; the slider reaches it.
TEST_F(SettingsPageTest, TheThreadSliderSetsTheWorkersAndShowsTheirNumber) {
  page_->advancedButton()->setChecked(true);
  page_->threadSlider()->setValue(5);
  EXPECT_EQ(settings().numberOfThreads(), 10);
  EXPECT_EQ(page_->threadLabel()->text(), QStringLiteral("10"));
  settings().saveParameter("numberOfThreads", 5);
  page_->setSettingsValues();
  EXPECT_EQ(page_->threadSlider()->value(), 4);
  EXPECT_EQ(settings().numberOfThreads(), 5) << "filling the page stores nothing";
}

TEST_F(SettingsPageTest, TheUploadLimitIsStoredAndShown) {
  page_->advancedButton()->setChecked(true);
  EXPECT_EQ(page_->bandwidthSlider()->value(), 100);
  EXPECT_EQ(page_->bandwidthLabel()->text(), T("UnlimitedSpeed"));
  page_->bandwidthSlider()->setValue(25);
  EXPECT_EQ(settings().bandwidthLimit(), 25);
  EXPECT_EQ(page_->bandwidthLabel()->text(), QStringLiteral("25 %"));
  LocalSettings::resetForTesting();
  page_->setSettingsValues();
  EXPECT_EQ(page_->bandwidthSlider()->value(), 25) << "kept across a restart";

  // Set from the command line while the app runs: the page shows it.
  ASSERT_TRUE(SettingsInbox::post(LocalSettings::kBandwidthLimitKey, 40));
  controller_->takeSettingsFromCommandLine();
  EXPECT_EQ(settings().bandwidthLimit(), 40);
  EXPECT_TRUE(waitFor([&] { return page_->bandwidthSlider()->value() == 40; }));
}

TEST_F(SettingsPageTest, SwitchesAndTimingAreStoredAtOnce) {
  auto& catalogue = CommonExtensions::sharedExtensionsManager();
  page_->emptyFilesBox()->setChecked(!page_->emptyFilesBox()->isChecked());
  EXPECT_EQ(catalogue.emptyfiles(), page_->emptyFilesBox()->isChecked());
  page_->emptyExtensionBox()->setChecked(!page_->emptyExtensionBox()->isChecked());
  EXPECT_EQ(catalogue.emptyExtension(), page_->emptyExtensionBox()->isChecked());
  page_->externalDrivesBox()->setChecked(!page_->externalDrivesBox()->isChecked());
  EXPECT_EQ(catalogue.externalhd(), page_->externalDrivesBox()->isChecked());
  page_->showAlertsBox()->setChecked(!page_->showAlertsBox()->isChecked());
  EXPECT_EQ(settings().showAlerts(), page_->showAlertsBox()->isChecked());
  page_->timingCombo()->setCurrentIndex(2);
  EXPECT_EQ(settings().backupTimingType(), LocalSettings::kTimingDaily);
  EXPECT_TRUE(page_->dailyTimeEdit()->isEnabled());
  page_->timingCombo()->setCurrentIndex(0);
  EXPECT_EQ(settings().backupTimingType(), 0);
  EXPECT_FALSE(page_->dailyTimeEdit()->isEnabled());
}

// A new size limit has the larger versions deleted at once; the file types
// newly left out go when the editor closes; a close without a change sends
// nothing. (The requests' forms are ExclusionCleanupTest's.)
TEST_F(SettingsPageTest, NewExclusionsHaveWhatTheyLeaveOutDeletedOnTheService) {
  page_->openExclusions();
  ui::ExclusionEditor* editor = page_->exclusionEditor();
  ASSERT_NE(editor, nullptr);
  QSignalSpy sent(page_.get(), &ui::SettingsPage::cleanupSent);
  editor->sizeField()->setText(QStringLiteral("10"));
  editor->sizeUnit()->setCurrentIndex(1);
  QTest::mouseClick(editor->sizeOkButton(), Qt::LeftButton);
  auto& catalogue = CommonExtensions::sharedExtensionsManager();
  EXPECT_EQ(catalogue.maxSize().value_or(Value()).get<int64_t>(), 10'737'418'240LL);
  ASSERT_TRUE(waitFor([&] { return sent.count() == 1; }));
  EXPECT_TRUE(sent.at(0).at(0).toBool());
  ASSERT_EQ(service_->requests("delete").size(), 1u);
  EXPECT_EQ(service_->requests("delete")[0]["fields"].value("size", ""), "10737418240");

  QCheckBox* mp4 = editor->extensionBox(QStringLiteral("videoValues"), QStringLiteral(".MP4"));
  ASSERT_NE(mp4, nullptr);
  ASSERT_FALSE(mp4->isChecked()) << "video files are backed up by default";
  mp4->setChecked(true);
  page_->closeExclusions();
  EXPECT_FALSE(page_->exclusionsDialog()->isVisible());
  ASSERT_TRUE(waitFor([&] { return sent.count() == 2; }));
  auto deletes = service_->requests("delete");
  ASSERT_EQ(deletes.size(), 2u);
  EXPECT_EQ(deletes[1]["fields"].value("extension", ""), "[\".mp4\"]");

  page_->openExclusions();
  page_->closeExclusions();
  QCoreApplication::processEvents();  // a request would be on the background queue by now
  DispatchQueue::global().waitUntilIdle();
  EXPECT_EQ(service_->requests("delete").size(), 2u);
}

}  // namespace
}  // namespace palvero::testing
