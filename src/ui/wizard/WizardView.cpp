#include "ui/wizard/WizardView.h"

#include <QCalendarWidget>
#include <QCheckBox>
#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTimeEdit>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include "app/ForgotPassword.h"
#include "platform/Env.h"
#include "protocol/CommunicationServer.h"
#include "selection/CommonExtensions.h"
#include "state/DBManager.h"
#include "state/LogWriter.h"
#include "ui/Alerts.h"
#include "ui/Background.h"
#include "ui/Text.h"
#include "ui/widgets/ExclusionEditor.h"
#include "ui/widgets/RestoreTreeSource.h"
#include "ui/wizard/WizardPages.h"

namespace palvero::ui {

WizardView::WizardView(QWidget* parent)
    : QWidget(parent), server_(CommunicationServer::create()), firstRun_(std::make_unique<FirstRun>(server_)) {
  setObjectName(QStringLiteral("wizardView"));
  pages_ = new QStackedWidget(this);
  login_ = new LoginPage(pages_);
  device_ = new DevicePage(pages_);
  exclusions_ = new ExclusionsPage(pages_);
  restore_ = new RestorePresetsPage(pages_);
  finish_ = new FinishPage(pages_);
  for (QWidget* page : {static_cast<QWidget*>(login_), static_cast<QWidget*>(device_),
                        static_cast<QWidget*>(exclusions_), static_cast<QWidget*>(restore_),
                        static_cast<QWidget*>(finish_)}) {
    pages_->addWidget(page);
  }
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(pages_);
  connect(login_, &LoginPage::licensePressed, this, &WizardView::openAgreement);
  connect(login_, &LoginPage::forgotPasswordPressed, this, &WizardView::forgotPasswordPressed);
  connect(login_, &LoginPage::nextPressed, this, &WizardView::loginNextPressed);
  connect(device_, &DevicePage::nextPressed, this, &WizardView::deviceNextPressed);
  connect(exclusions_, &ExclusionsPage::nextPressed, this, &WizardView::exclusionsNextPressed);
  connect(exclusions_->editor(), &ExclusionEditor::changed, this, [this] { exclusionsChanged_ = true; });
  connect(exclusions_, &ExclusionsPage::restorePressed, this, &WizardView::showRestore);
  connect(restore_, &RestorePresetsPage::restorePressed, this, &WizardView::restorePressed);
  connect(restore_, &RestorePresetsPage::cancelPressed, this, [this] { pages_->setCurrentWidget(exclusions_); });
  connect(finish_, &FinishPage::donePressed, this, &WizardView::donePressed);
  scanProgress_ = new QTimer(this);
  scanProgress_->setInterval(500);
  connect(scanProgress_, &QTimer::timeout, this, [this] {
    // The count waits for the scanner's writes: asked off the GUI thread, one at a time.
    if (countAsked_) return;
    countAsked_ = true;
    runInBackground(
        this, [] { return DBManager::sharedDBManager().GetTotalNumberOfFiles(true); },
        [this](int64_t count) {
          countAsked_ = false;
          if (scanProgress_->isActive()) finish_->setFilesFound(count);
        });
  });
  LogWriter::sharedLogger().logEntry(kGeneralLogEvent, kSessionOther, "Wizard initialized", kLogEvent);
  showLogin();
}

WizardView::~WizardView() = default;

QWidget* WizardView::currentPage() const { return pages_->currentWidget(); }

void WizardView::showLogin() { pages_->setCurrentWidget(login_); }

void WizardView::showDevices(const std::vector<Value>& devices) {
  device_->setDevices(devices);
  pages_->setCurrentWidget(device_);
}

void WizardView::showExclusions() {
  // The service's exclusions may have arrived, and folders may be new.
  exclusions_->editor()->reload();
  pages_->setCurrentWidget(exclusions_);
}

void WizardView::showRestore() {
  // Listed once the login has stored the device's credentials, through a
  // client of its own (the listings run on the background queue).
  restore_->listTree(CommunicationServer::create());
  pages_->setCurrentWidget(restore_);
}

void WizardView::showFinish() {
  finish_->setBackupFolder(Q(CommonExtensions::sharedExtensionsManager().defaultBackupFolder()));
  pages_->setCurrentWidget(finish_);
}

void WizardView::forgotPasswordPressed() {
  if (!forgotPassword_) forgotPassword_ = std::make_unique<ForgotPassword>(server_);
  forgotPassword_->request(login_->userName()->text().toStdString(), [this](ForgotPassword::Outcome outcome) {
    Alerts::inform(this, Q(ForgotPassword::alertText(outcome)), QString());
  });
}

void WizardView::refuse(QWidget* button, const QString& text) {
  button->setEnabled(true);
  Alerts::inform(this, text, QString());
}

void WizardView::loginNextPressed() {
  QPushButton* next = login_->nextButton();
  if (!next->isEnabled()) return;  // a login is under way (Return in the password field)
  next->setEnabled(false);
  if (!login_->licenseCheckBox()->isChecked()) {
    refuse(next, T("you must accept with end-user license agreement"));
    return;
  }
  std::string user = login_->userName()->text().toStdString();
  std::string password = login_->password()->text().toStdString();
  if (user.empty() || password.empty()) {
    refuse(next, T("wrong username or password"));
    return;
  }
  firstRun_->login(user, password, [this, next](const FirstRun::Report& report) { stepDone(next, report); });
}

void WizardView::deviceNextPressed() {
  QPushButton* next = device_->nextButton();
  next->setEnabled(false);
  auto done = [this, next](const FirstRun::Report& report) { stepDone(next, report); };
  if (device_->addNewRadio()->isChecked()) {
    QString name = device_->newDeviceName()->text().trimmed();
    if (name.isEmpty()) {
      refuse(next, T("enterDeviceName"));
      return;
    }
    firstRun_->addNewDevice(name.toStdString(), done);
  } else {
    firstRun_->replaceDevice(device_->chosenDeviceKey().toStdString(), done);
  }
}

void WizardView::stepDone(QWidget* button, const FirstRun::Report& report) {
  using Outcome = FirstRun::Outcome;
  if (report.outcome == Outcome::kBusy) return;  // the step under way answers for the button
  button->setEnabled(true);
  switch (report.outcome) {
    case Outcome::kExclusions:
      showExclusions();
      break;
    case Outcome::kChooseDevice:
      showDevices(report.devices);
      break;
    case Outcome::kWrongPassword:
      // The service's refusal comes first, then what kind it was.
      Alerts::inform(this, T("regUserFailAlert"), QString());
      Alerts::inform(this, T("wrong username or password"), QString());
      break;
    case Outcome::kRefused:
      Alerts::inform(this, T("regUserFailAlert"), QString());
      break;
    case Outcome::kDeviceRefused:
      Alerts::inform(this, T("error"), Q(report.message), QMessageBox::Warning);
      break;
    case Outcome::kNoSuchDevice:
    case Outcome::kBusy:
      break;
  }
}

void WizardView::leaveExclusions() {
  firstRun_->leaveExclusions();
  if (!exclusionsChanged_) return;
  exclusionsChanged_ = false;
  // Kept locally when this fails; the main window's later saves send them.
  firstRun_->sendExclusions([](bool) {});
}

void WizardView::exclusionsNextPressed() {
  leaveExclusions();
  showFinish();
}

void WizardView::restorePressed() {
  RestorePresetsPage* page = restore_;
  Value presets = {{"restoreLatest", page->latestRadio()->isChecked()},
                   {"restoreToOriginalPath", page->originalPlaceRadio()->isChecked()},
                   {"restoreAllData", page->allDataRadio()->isChecked()},
                   {"restoreSingleFile", false}};
  if (page->otherFolderRadio()->isChecked()) {
    presets["restoreDestinationPath"] = page->destination()->text().trimmed().toStdString();
  }
  if (page->dateRadio()->isChecked()) {
    QDateTime at(page->calendar()->selectedDate(), page->time()->time());
    presets["dateValue"] = static_cast<double>(at.toSecsSinceEpoch());
  }
  Value items = Value::object();
  if (page->chosenItemsRadio()->isChecked() && page->treeSource()) {
    const RestoreSelection& selection = page->treeSource()->selection();
    items = selection.filesAndFoldersForRestore();
    Value removed = selection.filesAndFoldersRemovedFromRestore();
    if (!removed.empty()) presets["filesAndFoldersRemovedFromRestore"] = removed;
  }
  auto& extensions = CommonExtensions::sharedExtensionsManager();
  extensions.setReplaceFiles(page->replaceFilesBox()->isChecked());
  leaveExclusions();
  firstRun_->chooseRestore(presets, items);
  // The restore runs first; the main window's start begins it, without a first scan.
  emit finished();
}

void WizardView::donePressed() {
  finish_->setScanning(true);
  scanProgress_->start();
  runInBackground(
      this, [] { return FirstRun::finish(); },
      [this](const FirstScan::Result& result) {
        scanProgress_->stop();
        finish_->setFilesFound(result.waitingFiles);
        emit finished();
      });
}

void WizardView::openAgreement() {
  // A viewer opens a file, not a compiled-in resource: it is copied out first.
  QString folder = Q(Env::cachesDirectory());
  QDir().mkpath(folder);
  QString path = folder + QStringLiteral("/EULA-EN.html");
  QFile::remove(path);
  if (!QFile::copy(QStringLiteral(":/documents/EULA-EN.html"), path)) return;
  QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
  QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

}  // namespace palvero::ui
