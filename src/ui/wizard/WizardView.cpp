#include "ui/wizard/WizardView.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QStackedWidget>
#include <QLineEdit>
#include <QUrl>
#include <QVBoxLayout>

#include "app/ForgotPassword.h"
#include "platform/Env.h"
#include "selection/CommonExtensions.h"
#include "ui/Alerts.h"
#include "ui/Text.h"
#include "ui/widgets/ExclusionEditor.h"
#include "ui/wizard/WizardPages.h"

namespace palvero::ui {

WizardView::WizardView(QWidget* parent) : QWidget(parent) {
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
  connect(exclusions_, &ExclusionsPage::restorePressed, this, &WizardView::showRestore);
  connect(restore_, &RestorePresetsPage::cancelPressed, this, &WizardView::showExclusions);
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

void WizardView::showRestore() { pages_->setCurrentWidget(restore_); }

void WizardView::showFinish() {
  finish_->setBackupFolder(Q(CommonExtensions::sharedExtensionsManager().defaultBackupFolder()));
  pages_->setCurrentWidget(finish_);
}

void WizardView::forgotPasswordPressed() {
  if (!forgotPassword_) forgotPassword_ = std::make_unique<ForgotPassword>();
  forgotPassword_->request(login_->userName()->text().toStdString(), [this](ForgotPassword::Outcome outcome) {
    Alerts::inform(this, Q(ForgotPassword::alertText(outcome)), QString());
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
