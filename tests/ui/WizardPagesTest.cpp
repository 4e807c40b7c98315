// The wizard's pages and the shared exclusions editor on the real widgets:
// what each control stores, the device page's radios, the agreement
// document, and the label that fits its field.
#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QTest>
#include <QUrl>
#include <filesystem>

#include <QMessageBox>

#include "UiFixture.h"
#include "app/ForgotPassword.h"
#include "app/Localization.h"
#include "ui/Alerts.h"
#include "selection/CommonExtensions.h"
#include "ui/widgets/ExclusionEditor.h"
#include "ui/widgets/FitLabel.h"
#include "ui/widgets/FolderTree.h"
#include "ui/wizard/WizardPages.h"
#include "ui/wizard/WizardView.h"

namespace palvero::testing {
namespace {

namespace fs = std::filesystem;

class UrlCatcher : public QObject {
  Q_OBJECT

 public:
  QList<QUrl> opened;

 public slots:
  void open(const QUrl& url) { opened.append(url); }
};

class WizardPagesTest : public UiFixture {};

TEST_F(WizardPagesTest, ExclusionEditorStoresEachChangeAtOnce) {
  for (const char* folder : {"Music/album", "Documents/old", "Pictures"}) fs::create_directories(home_->path() + "/" + folder);
  ui::ExclusionEditor editor;
  editor.resize(800, 500);
  editor.show();
  auto& catalogue = CommonExtensions::sharedExtensionsManager();

  // A size limit, then a text that is no number: the field clears and the limit goes.
  editor.sizeField()->setText(QStringLiteral("10"));
  editor.sizeUnit()->setCurrentIndex(1);
  QTest::mouseClick(editor.sizeOkButton(), Qt::LeftButton);
  EXPECT_EQ(catalogue.selection()->maxSizeBytes(), 10737418240);
  editor.sizeField()->setText(QStringLiteral("80a"));
  QTest::mouseClick(editor.sizeOkButton(), Qt::LeftButton);
  EXPECT_EQ(catalogue.selection()->maxSizeBytes(), -1);
  EXPECT_TRUE(editor.sizeField()->text().isEmpty());

  // Hidden files and external drives.
  editor.hiddenFilesBox()->click();
  EXPECT_TRUE(catalogue.backupHiddenFiles());
  editor.externalDrivesBox()->click();
  EXPECT_TRUE(catalogue.externalhd());

  // A folder unticked in the tree leaves the backup; its parent shows it.
  ui::FolderTreeModel* model = editor.folderModel();
  ASSERT_TRUE(waitFor([&] { return model->pendingFetches() == 0 && model->rowCount() == 3; }));
  QModelIndex music = model->indexOfPath(home_->path() + "/Music");
  ASSERT_TRUE(music.isValid());
  EXPECT_EQ(model->data(music, Qt::CheckStateRole).toInt(), Qt::Checked);
  editor.folderTree()->expand(music);
  ASSERT_TRUE(waitFor([&] { return model->rowCount(music) == 1; }));
  QModelIndex album = model->index(0, 0, music);
  ASSERT_TRUE(model->setData(album, Qt::Unchecked, Qt::CheckStateRole));
  EXPECT_EQ(model->data(music, Qt::CheckStateRole).toInt(), Qt::PartiallyChecked);
  EXPECT_EQ(model->data(album, Qt::CheckStateRole).toInt(), Qt::Unchecked);
  CommonExtensions::resetForTesting();  // what was saved
  auto excluded = CommonExtensions::sharedExtensionsManager().foldersToBeExcludedFromBackup();
  EXPECT_NE(std::find(excluded.begin(), excluded.end(), home_->path() + "/Music/album"), excluded.end());
}

TEST_F(WizardPagesTest, DevicePageRadiosAndTheChosenRow) {
  ui::DevicePage page;
  page.show();
  page.setDevices({Value{{"Name", "Office"}, {"DeviceID", "d1"}, {"DeviceType", "31"}},
                   Value{{"Name", ""}, {"DeviceID", "d2"}, {"DeviceType", 12}}});
  QTableWidget* table = page.devicesTable();
  ASSERT_EQ(table->rowCount(), 2);
  EXPECT_EQ(table->item(1, 0)->text(), QStringLiteral("d2")) << "a device without a name shows its id";
  EXPECT_TRUE(page.replaceExistingRadio()->isChecked());
  EXPECT_EQ(page.chosenDeviceText(), QStringLiteral("Office"));
  EXPECT_FALSE(page.newDeviceName()->isEnabled());

  page.addNewRadio()->click();
  EXPECT_TRUE(table->selectedItems().isEmpty());
  EXPECT_TRUE(page.newDeviceName()->isEnabled());
  page.replaceExistingRadio()->click();
  EXPECT_FALSE(table->selectedItems().isEmpty()) << "replace with nothing chosen takes the first row";
  table->selectRow(1);
  EXPECT_EQ(page.chosenDeviceText(), QStringLiteral("d2"));

  // An account without devices can only add this computer.
  page.setDevices({});
  EXPECT_TRUE(page.addNewRadio()->isChecked());
  EXPECT_FALSE(page.replaceExistingRadio()->isEnabled());
}

TEST_F(WizardPagesTest, ForgotPasswordSendsOneRequestAtATime) {
  service_->addUser("ann", "secret");
  struct Case {
    const char* name;
    const char* user;
    int presses;
    size_t requests;
    std::string alert;
  } cases[] = {
      {"known user, pressed twice", "ann", 2, 1, L("New password has been sent to email")},
      {"empty user name", "", 1, 0, L("wrong username")},
      {"unknown user", "bob", 1, 1, "This user is deleted"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    service_->clearLog();
    ui::WizardView wizard;
    wizard.show();
    wizard.loginPage()->userName()->setText(QString::fromLatin1(c.user));
    for (int i = 0; i < c.presses; ++i) QTest::mouseClick(wizard.loginPage()->forgotPasswordButton(), Qt::LeftButton);
    QMessageBox* alert = nullptr;
    ASSERT_TRUE(waitFor([&] { return (alert = wizard.findChild<QMessageBox*>(QString::fromLatin1(ui::Alerts::kObjectName))) != nullptr; }));
    EXPECT_EQ(alert->text().toStdString(), c.alert);
    EXPECT_EQ(service_->requests("forgot_pas").size(), c.requests);
    // The guard is down again: a later press asks once more.
    alert->done(0);
    if (c.requests > 0) {
      QTest::mouseClick(wizard.loginPage()->forgotPasswordButton(), Qt::LeftButton);
      ASSERT_TRUE(waitFor([&] { return service_->requests("forgot_pas").size() == c.requests + 1; }));
      ASSERT_TRUE(waitFor([&] { return wizard.findChildren<QMessageBox*>().size() >= 1; }));
    }
  }
}

TEST_F(WizardPagesTest, AgreementOpensOurDocumentWithTheDefaultApplication) {
  UrlCatcher catcher;
  QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "open");
  ui::WizardView wizard;
  QTest::mouseClick(wizard.loginPage()->licenseButton(), Qt::LeftButton);
  QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
  ASSERT_EQ(catcher.opened.size(), 1);
  QFile document(catcher.opened[0].toLocalFile());
  ASSERT_TRUE(document.open(QIODevice::ReadOnly));
  EXPECT_TRUE(document.readAll().contains("Palvero end-user licence agreement"));
}

TEST_F(WizardPagesTest, FitLabelChoosesTheLargestSizeThatFits) {
  using ui::FitLabel;
  const QString text = QStringLiteral("Documents and settings");
  EXPECT_EQ(FitLabel::fittingPointSize(QStringLiteral("a"), QSize(800, 200)), FitLabel::kMaximumPoints);
  EXPECT_EQ(FitLabel::fittingPointSize(text, QSize(20, 200)), FitLabel::kMinimumPoints);
  EXPECT_EQ(FitLabel::fittingPointSize(text, QSize(800, 12)), FitLabel::kMinimumPoints) << "too low a field";
  int previous = 0;
  for (int width = 60; width <= 400; width += 20) {
    SCOPED_TRACE(width);
    int points = FitLabel::fittingPointSize(text, QSize(width, 60));
    EXPECT_GE(points, previous) << "a wider field never gets a smaller font";
    previous = points;
  }
  FitLabel label;
  label.resize(120, label.height());
  label.setFittedText(text);
  EXPECT_EQ(label.font().pointSize(), FitLabel::fittingPointSize(text, label.size()));
  EXPECT_EQ(label.toolTip(), text);
}

}  // namespace
}  // namespace palvero::testing

#include "WizardPagesTest.moc"
