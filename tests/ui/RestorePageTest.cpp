// The restore page on the real widgets against palvero-service: another
// device's folder ticked in the tree and restored into a chosen folder byte
// for byte, a day chosen on the calendar bringing back the earlier
// revision, a deleted file shown and restored with show-deleted, the first
// run's choice of ticked items, why a restore cannot start, and an
// interrupted restore continued.
#include <QCalendarWidget>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimeEdit>
#include <QTreeWidget>
#include <filesystem>
#include <random>

#include "UiFixture.h"
#include "app/MainViewController.h"
#include "app/RestoreForm.h"
#include "app/RestorePresets.h"
#include "app/RestoreQueueControl.h"
#include "base/StringFormat.h"
#include "engine/format/BlockCutter.h"
#include "engine/format/FileDesc.h"
#include "engine/format/Security.h"
#include "engine/format/VersionFile.h"
#include "engine/format/util/Functions.h"
#include "protocol/CommunicationServer.h"
#include "restore/RestoreManager.h"
#include "selection/CommonExtensions.h"
#include "state/DBManager.h"
#include "state/LocalSettings.h"
#include "ui/Text.h"
#include "ui/main/RestorePage.h"
#include "ui/widgets/FolderTree.h"
#include "ui/wizard/WizardPages.h"
#include "ui/wizard/WizardView.h"

namespace palvero::testing {
namespace {

using ui::T;


std::string randomText(size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string out(size, '\0');
  for (char& c : out) c = static_cast<char>(random() & 0xff);
  return out;
}

class RestorePageTest : public UiFixture {
 protected:
  void SetUp() override {
    UiFixture::SetUp();
    own_ = logIn();
    laptop_ = service_->enrolDevice("ann", "secret", "old-laptop");
    ServiceProcess::useCredentials(laptop_);
    {
      auto server = CommunicationServer::create();
      ASSERT_TRUE(server->syncAuthorise());
      upload(*server, "/home/bob/Documents/report.txt", "20240105 10:00:00", "first draft");
      upload(*server, "/home/bob/Documents/report.txt", "20240301 10:00:00", reportText_);
      upload(*server, "/home/bob/Documents/gone.txt", "20240105 10:00:00", "deleted later");
      upload(*server, "/home/bob/Documents/cache/tmp.bin", "20240105 10:00:00", "scratch");
      std::string gone = "[\"/home/bob/Documents/gone.txt\"]";
      ASSERT_TRUE(server->syncDeleteVerFile(*Functions::UrlEncode(gone), 0, std::nullopt, false));
    }
    ServiceProcess::useCredentials(own_);
    controller_ = startQuietController(nullptr, &hooks_);
    control_ = std::make_unique<RestoreQueueControl>(CommunicationServer::create());
    controller_->setRestoreControl(control_.get());
    destination_ = home_->path() + "/restored";
    std::filesystem::create_directories(destination_);
  }
  void TearDown() override {
    if (page_) waitFor([&] { return !control_->isRestoring(); }, 30000);
    page_.reset();
    controller_.reset();
    control_.reset();
    UiFixture::TearDown();
  }

  // One revision of `path` as the laptop backs it up: short contents inline
  // in the block list, longer ones as one encrypted block.
  void upload(CommunicationServer& server, const std::string& path, const std::string& modified,
              const std::string& content) {
    Bytes bytes = bytesFromString(content);
    FileDesc desc(Date::parse(modified, Date::kSettingsPattern), path, static_cast<int64_t>(bytes.size()));
    FilePart part(path, static_cast<int64_t>(bytes.size()));
    FileBlock block;
    block.length = static_cast<int64_t>(bytes.size());
    block.offset = 0;
    bool offline = false;
    if (bytes.size() <= 256) {
      block.checksum = Functions::HexStr(bytes);
    } else {
      block.checksum = BlockCutter::sha256StringFromData(bytes);
      Bytes sealed = bytes;
      Security security;
      ASSERT_TRUE(security.EncryptStream(sealed, LocalSettings::sharedManager().accountCipher().value_or("")));
      ASSERT_TRUE(server.uploadDataBlockStream(sealed, block.checksum, std::to_string(bytes.size()), offline));
    }
    part.FileBlocks.push_back(block);
    desc.FileParts.push_back(part);
    Bytes text = bytesFromString(VersionFile::FormatFileVersionInfo(desc));
    Security security;
    ASSERT_TRUE(security.EncryptStream(text, LocalSettings::sharedManager().userCipher().value_or("")));
    ASSERT_TRUE(server.updateFileVersionWithFilename(path, desc.Length, modified, text, offline)) << path;
  }

  void openPage() {
    page_ = std::make_unique<ui::RestorePage>();
    page_->setRestoreControl(control_.get(), CommunicationServer::create());
    page_->resize(1000, 760);
    page_->show();
    ASSERT_TRUE(waitFor([&] { return page_->treeModel()->pendingFetches() == 0; }));
  }

  ui::FolderTreeModel* model() { return wizardModel_ ? wizardModel_ : page_->treeModel(); }

  // The row called `name` below `parent`, listed first when it was not.
  QModelIndex open(const QModelIndex& parent, const QString& name) {
    if (parent.isValid() && model()->canFetchMore(parent)) model()->fetchMore(parent);
    EXPECT_TRUE(waitFor([&] { return model()->pendingFetches() == 0; }));
    for (int row = 0; row < model()->rowCount(parent); ++row) {
      QModelIndex child = model()->index(row, 0, parent);
      if (child.data(Qt::DisplayRole).toString() == name) return child;
    }
    ADD_FAILURE() << name.toStdString() << " is not listed";
    return {};
  }

  QModelIndex documents() {
    QModelIndex node = open({}, QStringLiteral("old-laptop"));
    for (const char* step : {"/", "home", "bob", "Documents"}) node = open(node, QString::fromLatin1(step));
    return node;
  }

  void tick(const QModelIndex& index, bool checked) {
    ASSERT_TRUE(index.isValid());
    ASSERT_TRUE(model()->setData(index, checked ? Qt::Checked : Qt::Unchecked, Qt::CheckStateRole));
  }

  void intoOtherFolder() {
    page_->findChild<QRadioButton*>(QStringLiteral("restoreOtherFolderRadio"))->setChecked(true);
    page_->destinationField()->setText(QString::fromStdString(destination_));
  }

  // Presses Restore and waits for the run to end.
  void restoreAndWait() {
    QTest::mouseClick(page_->findChild<QPushButton*>(QStringLiteral("restoreStartButton")), Qt::LeftButton);
    EXPECT_TRUE(page_->problemLabel()->text().isEmpty()) << page_->problemLabel()->text().toStdString();
    ASSERT_TRUE(waitFor([&] { return !control_->isRestoring(); }, 60000));
    page_->refreshStatus();
  }

  std::string restored(const std::string& relative) { return readFile(destination_ + relative); }

  const std::string reportText_ = randomText(70000, 7);
  AwakeHooks hooks_;
  ServiceProcess::Credentials own_;
  ServiceProcess::Credentials laptop_;
  std::unique_ptr<MainViewController> controller_;
  std::unique_ptr<RestoreQueueControl> control_;
  std::unique_ptr<ui::RestorePage> page_;
  ui::FolderTreeModel* wizardModel_ = nullptr;  // the wizard's tree, when a test browses that
  std::string destination_;
};

// Another device's folder comes back into a chosen folder without what was
// unticked; a deleted file is shown with show-deleted and restored; a day
// chosen on the calendar brings back that day's revision. A file chosen
// alone goes straight into the folder.
TEST_F(RestorePageTest, AnotherDevicesFolderADeletedFileAndADaysRevisionComeBack) {
  openPage();
  QModelIndex docs = documents();
  tick(docs, true);
  tick(open(docs, QStringLiteral("cache")), false);
  EXPECT_EQ(docs.data(Qt::CheckStateRole).toInt(), Qt::PartiallyChecked);
  EXPECT_EQ(open(docs, QStringLiteral("report.txt")).data(Qt::CheckStateRole).toInt(), Qt::Checked);
  EXPECT_FALSE(open(docs, QStringLiteral("report.txt")).data(Qt::FontRole).value<QFont>().strikeOut());
  EXPECT_EQ(model()->rowCount(docs), 2) << "cache and report.txt, not the deleted file";
  intoOtherFolder();
  restoreAndWait();
  EXPECT_EQ(page_->failuresList()->topLevelItemCount(), 0);
  EXPECT_TRUE(restored("/home/bob/Documents/report.txt") == reportText_) << "not byte for byte";
  EXPECT_FALSE(std::filesystem::exists(destination_ + "/home/bob/Documents/cache"));
  EXPECT_FALSE(std::filesystem::exists(destination_ + "/home/bob/Documents/gone.txt")) << "deleted, not shown";

  tick(docs, false);
  page_->showDeletedBox()->setChecked(true);
  ASSERT_TRUE(waitFor([&] { return model()->pendingFetches() == 0; }));
  QModelIndex gone = open(documents(), QStringLiteral("gone.txt"));
  ASSERT_TRUE(gone.isValid());
  EXPECT_TRUE(gone.data(Qt::FontRole).value<QFont>().strikeOut()) << "a deleted file is drawn apart";
  tick(gone, true);
  restoreAndWait();
  EXPECT_EQ(restored("/gone.txt"), "deleted later");

  tick(open(documents(), QStringLiteral("gone.txt")), false);
  tick(open(documents(), QStringLiteral("report.txt")), true);
  page_->findChild<QRadioButton*>(QStringLiteral("restoreDateRadio"))->setChecked(true);
  ASSERT_TRUE(page_->calendar()->isEnabled());
  page_->calendar()->setSelectedDate(QDate(2024, 2, 1));
  page_->timeEdit()->setTime(QTime(12, 0));
  restoreAndWait();
  EXPECT_EQ(restored("/report.txt"), "first draft");
}

// The first run's restore page offers the same tree: the ticked folder
// without what was unticked in it is the restore the main window then runs.
TEST_F(RestorePageTest, TheFirstRunRestoresTheItemsTickedInItsTree) {
  ui::WizardView wizard;
  bool handedOver = false;
  QObject::connect(&wizard, &ui::WizardView::finished, [&] { handedOver = true; });
  wizard.show();
  wizard.showRestore();
  ui::RestorePresetsPage* page = wizard.restorePage();
  wizardModel_ = page->treeModel();
  ASSERT_TRUE(waitFor([&] { return model()->pendingFetches() == 0; }));
  page->chosenItemsRadio()->click();
  EXPECT_FALSE(page->restoreButton()->isEnabled()) << "nothing is ticked yet";
  QModelIndex docs = documents();
  tick(docs, true);
  tick(open(docs, QStringLiteral("cache")), false);
  page->otherFolderRadio()->click();
  page->destination()->setText(QString::fromStdString(destination_));
  ASSERT_TRUE(page->restoreButton()->isEnabled());
  QTest::mouseClick(page->restoreButton(), Qt::LeftButton);
  ASSERT_TRUE(handedOver);

  auto choice = RestorePresets::take();
  ASSERT_TRUE(choice);
  EXPECT_FALSE(choice->restoreAllData);
  control_->startNewRestore(*choice);
  ASSERT_TRUE(waitFor([&] { return !control_->isRestoring(); }, 60000));
  EXPECT_TRUE(restored("/home/bob/Documents/report.txt") == reportText_) << "not byte for byte";
  EXPECT_FALSE(std::filesystem::exists(destination_ + "/home/bob/Documents/cache")) << "unticked";
}

// Every reason is the form's own (RestoreFormTest): one shows it reaches the page.
TEST_F(RestorePageTest, SaysWhyARestoreCannotStart) {
  openPage();
  tick(open(documents(), QStringLiteral("report.txt")), true);
  page_->findChild<QRadioButton*>(QStringLiteral("restoreOtherFolderRadio"))->setChecked(true);
  page_->destinationField()->clear();
  QTest::mouseClick(page_->findChild<QPushButton*>(QStringLiteral("restoreStartButton")), Qt::LeftButton);
  EXPECT_EQ(page_->problemLabel()->text(), T(RestoreForm::kNoDestination));
  EXPECT_FALSE(control_->isRestoring());
}

TEST_F(RestorePageTest, AnInterruptedRestoreShowsAsSuchAndIsContinuedFromThePage) {
  // A restore of the laptop's report left in the table, as a quit leaves it.
  RestoreEntry entry{"/home/bob/Documents/report.txt", -1, laptop_.clientId,
                     static_cast<int64_t>(reportText_.size())};
  ASSERT_TRUE(DBManager::sharedDBManager().InsertOrUpdateFileToDatabase(Value::array({entry.toValue()}), false));
  {
    RestoreManager planner(CommunicationServer::create(), CommonExtensions::sharedExtensionsManager());
    RestoreChoice choice;
    choice.restoreToOriginalPath = false;
    choice.restoreDestinationPath = destination_;
    planner.setChoice(choice);
    planner.saveChoice();
  }
  openPage();
  EXPECT_TRUE(page_->filesLabel()->text().startsWith(T("restoreInterrupted"))) << page_->filesLabel()->text().toStdString();
  EXPECT_TRUE(page_->filesLabel()->text().contains(QStringLiteral(" 1 ")));
  ASSERT_TRUE(page_->statusButton()->isVisible());
  ASSERT_TRUE(page_->statusButton()->isEnabled());
  QTest::mouseClick(page_->statusButton(), Qt::LeftButton);
  ASSERT_TRUE(waitFor([&] { return !control_->isRestoring(); }, 60000));
  EXPECT_TRUE(restored("/home/bob/Documents/report.txt") == reportText_);
  page_->refreshStatus();
  EXPECT_TRUE(page_->filesLabel()->text().isEmpty());
  EXPECT_FALSE(page_->statusButton()->isVisible());
}

}  // namespace
}  // namespace palvero::testing
