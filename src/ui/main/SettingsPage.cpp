#include "ui/main/SettingsPage.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDate>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTimeEdit>
#include <QVBoxLayout>

#include "app/MainViewController.h"
#include "app/SettingsControls.h"
#include "app/SettingsInbox.h"
#include "selection/ChangeWatcher.h"
#include "selection/CommonExtensions.h"
#include "selection/FileScanner.h"
#include "state/LocalSettings.h"
#include "ui/Background.h"
#include "ui/Fonts.h"
#include "ui/Images.h"
#include "ui/Text.h"
#include "ui/widgets/ExclusionEditor.h"
#include "ui/widgets/FitLabel.h"

namespace palvero::ui {
namespace {

template <class W>
W* named(W* widget, const char* name) {
  widget->setObjectName(QString::fromLatin1(name));
  return widget;
}

// The field the bandwidth text must fit.
constexpr QSize kBandwidthField(90, 26);

}  // namespace

SettingsPage::SettingsPage(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("settingsPage"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(20, 20, 20, 20);
  auto* title = new QLabel(T("leftSettings"), this);
  title->setFont(Fonts::system(16, true));
  auto* info = new QLabel(T("settingsPageInfo"), this);
  info->setObjectName(QStringLiteral("settingsPageInfo"));
  info->setWordWrap(true);
  layout->addWidget(title);
  layout->addWidget(info);

  // When.
  auto* timingBox = new QGroupBox(T("settingsTiming"), this);
  auto* timingLayout = new QGridLayout(timingBox);
  timing_ = named(new QComboBox(timingBox), "timingCombo");
  timing_->addItems({T("timingManual"), T("timingContinuous"), T("timingDaily")});
  timing_->setAccessibleName(T("settingsTiming"));
  onlyOnSetTime_ = named(new QCheckBox(T("onlyOnSetTime"), timingBox), "onlyOnSetTimeCheckbox");
  dailyTime_ = named(new QTimeEdit(timingBox), "dailyTimeEdit");
  dailyTime_->setDisplayFormat(QStringLiteral("HH:mm"));
  dailyTime_->setAccessibleName(T("dailyTime"));
  dailyTime_->setMaximumWidth(90);
  timingLock_ = makeLock("timingLock");
  timingLayout->addWidget(timing_, 0, 0);
  timingLayout->addWidget(dailyTime_, 0, 1);
  timingLayout->addWidget(timingLock_, 0, 2, Qt::AlignRight);
  timingLayout->addWidget(onlyOnSetTime_, 1, 0, 1, 2);
  timingLayout->setColumnStretch(2, 1);

  // What.
  auto* selectionBox = new QGroupBox(T("settingsSelection"), this);
  auto* selectionLayout = new QGridLayout(selectionBox);
  exclusionsButton_ = named(new QPushButton(T("editExclusions"), selectionBox), "exclusionsButton");
  exclusionsLock_ = makeLock("exclusionsLock");
  externalDrives_ = named(new QCheckBox(T("externalDrives"), selectionBox), "externalDrivesSettingsCheckbox");
  emptyFiles_ = named(new QCheckBox(T("backupEmptyFiles"), selectionBox), "emptyFilesCheckbox");
  emptyExtension_ = named(new QCheckBox(T("backupNoExtension"), selectionBox), "emptyExtensionCheckbox");
  selectionLayout->addWidget(exclusionsButton_, 0, 0);
  selectionLayout->addWidget(exclusionsLock_, 0, 2, Qt::AlignRight);
  selectionLayout->addWidget(externalDrives_, 1, 0, 1, 2);
  selectionLayout->addWidget(emptyFiles_, 2, 0, 1, 2);
  selectionLayout->addWidget(emptyExtension_, 3, 0, 1, 2);
  selectionLayout->setColumnStretch(1, 1);

  showAlerts_ = named(new QCheckBox(T("showAlertsBox"), this), "showAlertsCheckbox");

  // Advanced: workers, upload limit, proxy.
  auto* advancedRow = new QHBoxLayout();
  advancedButton_ = named(new QPushButton(T("advancedSettings"), this), "advancedButton");
  advancedButton_->setCheckable(true);
  advancedLock_ = makeLock("advancedLock");
  advancedRow->addWidget(advancedButton_);
  advancedRow->addStretch(1);
  advancedRow->addWidget(advancedLock_);
  advanced_ = named(new QWidget(this), "advancedView");
  auto* form = new QFormLayout(advanced_);
  auto* threadRow = new QHBoxLayout();
  threads_ = named(new QSlider(Qt::Horizontal, advanced_), "threadSlider");
  threads_->setRange(1, 5);
  threads_->setPageStep(1);
  threads_->setTickPosition(QSlider::TicksBelow);
  threads_->setAccessibleName(T("threadCount"));
  threads_->setFixedWidth(300);
  threadLabel_ = named(new QLabel(advanced_), "threadLabel");
  threadLabel_->setMinimumWidth(24);
  threadRow->addWidget(threads_);
  threadRow->addWidget(threadLabel_);
  threadRow->addStretch(1);
  form->addRow(T("threadCount"), threadRow);
  auto* bandwidthRow = new QHBoxLayout();
  bandwidth_ = named(new QSlider(Qt::Horizontal, advanced_), "bandwidthSlider");
  bandwidth_->setRange(1, LocalSettings::kUnlimitedBandwidth);
  bandwidth_->setAccessibleName(T("uploadLimit"));
  bandwidth_->setFixedWidth(300);
  bandwidthLabel_ = named(new FitLabel(advanced_), "bandwidthLabel");
  bandwidthLabel_->setFixedSize(kBandwidthField);
  bandwidthRow->addWidget(bandwidth_);
  bandwidthRow->addWidget(bandwidthLabel_);
  bandwidthRow->addStretch(1);
  form->addRow(T("uploadLimit"), bandwidthRow);
  proxyType_ = named(new QComboBox(advanced_), "proxyTypeCombo");
  proxyType_->addItems({T("proxyNone"), T("proxySystem"), T("proxyHTTP"), T("proxySOCKS")});
  proxyServer_ = named(new QLineEdit(advanced_), "proxyServerField");
  proxyPort_ = named(new QLineEdit(advanced_), "proxyPortField");
  proxyPort_->setMaximumWidth(90);
  proxyUser_ = named(new QLineEdit(advanced_), "proxyUserField");
  proxyPassword_ = named(new QLineEdit(advanced_), "proxyPasswordField");
  proxyPassword_->setEchoMode(QLineEdit::Password);
  form->addRow(T("proxyType"), proxyType_);
  form->addRow(T("proxyServer"), proxyServer_);
  form->addRow(T("proxyPort"), proxyPort_);
  form->addRow(T("proxyUser"), proxyUser_);
  form->addRow(T("password"), proxyPassword_);

  notice_ = named(new QLabel(T("adminNotice"), this), "adminNotice");
  notice_->setWordWrap(true);

  layout->addWidget(timingBox);
  layout->addWidget(selectionBox);
  layout->addWidget(showAlerts_);
  layout->addLayout(advancedRow);
  layout->addWidget(advanced_);
  layout->addWidget(notice_);
  layout->addStretch(1);
  advanced_->setVisible(false);

  connect(timing_, &QComboBox::currentIndexChanged, this, [this](int entry) {
    dailyTime_->setEnabled(timing_->isEnabled() && entry == 2);
    if (!filling_ && controller_) controller_->changeTiming(entry);
  });
  connect(onlyOnSetTime_, &QCheckBox::toggled, this, [this](bool on) {
    if (!filling_ && controller_) controller_->backupSetOnlyOnTimeCheckboxClicked(on);
  });
  connect(dailyTime_, &QTimeEdit::timeChanged, this, [this](QTime time) {
    if (filling_ || !controller_) return;
    QDate today = QDate::currentDate();
    controller_->dailyBackupDateChanged(
        Date::fromLocalComponents(today.year(), today.month(), today.day(), time.hour(), time.minute(), 0));
  });
  connect(threads_, &QSlider::valueChanged, this, [this](int position) {
    threadLabel_->setText(QString::number(MainViewController::threadsForSliderPosition(position)));
    if (!filling_ && controller_) controller_->changeNumberOfThreads(position);
  });
  connect(showAlerts_, &QCheckBox::toggled, this, [this](bool on) {
    if (!filling_) SettingsControls::changeShowAlerts(on);
  });
  connect(proxyType_, &QComboBox::currentIndexChanged, this, [this](int type) {
    bool enabled = SettingsControls::proxyFieldsEnabled(type);
    if (!filling_) enabled = SettingsControls::changeProxyType(type);
    proxyServer_->setEnabled(enabled);
    proxyPort_->setEnabled(enabled);
  });
  connect(proxyServer_, &QLineEdit::editingFinished, this,
          [this] { SettingsControls::changeProxyServer(proxyServer_->text().toStdString()); });
  connect(proxyPort_, &QLineEdit::editingFinished, this, [this] {
    if (!SettingsControls::changeProxyPort(proxyPort_->text().toStdString())) proxyPort_->clear();
  });
  connect(proxyUser_, &QLineEdit::editingFinished, this,
          [this] { SettingsControls::changeProxyUsername(proxyUser_->text().toStdString()); });
  connect(proxyPassword_, &QLineEdit::editingFinished, this,
          [this] { SettingsControls::changeProxyPassword(proxyPassword_->text().toStdString()); });
  connect(bandwidth_, &QSlider::valueChanged, this, [this](int percent) {
    std::string text =
        filling_ ? SettingsControls::bandwidthText(percent) : SettingsControls::changeBandwidth(percent);
    bandwidthLabel_->setFittedText(Q(text));
  });
  connect(externalDrives_, &QCheckBox::toggled, this, [this](bool on) {
    if (filling_) return;
    SettingsControls::externalDrivesPressed(on);
    FileScanner::sharedFileScanner().setIncludeExternalDrives(on);
    exclusionsChanged(true);
  });
  connect(emptyFiles_, &QCheckBox::toggled, this, [this](bool on) {
    if (filling_) return;
    SettingsControls::emptyFilesPressed(on);
    exclusionsChanged(true);
  });
  connect(emptyExtension_, &QCheckBox::toggled, this, [this](bool on) {
    if (filling_) return;
    SettingsControls::emptyExtensionPressed(on);
    exclusionsChanged(true);
  });
  connect(exclusionsButton_, &QPushButton::clicked, this, &SettingsPage::openExclusions);
  connect(advancedButton_, &QPushButton::toggled, advanced_, &QWidget::setVisible);

  // Settings loaded from the service or handed over from the command line.
  auto reload = [this](const Notification&) {
    QMetaObject::invokeMethod(this, [this] { setSettingsValues(); }, Qt::QueuedConnection);
  };
  settingsLoaded_ = NotificationCenter::defaultCenter().addObserver("LoadSettingsOK", nullptr, reload);
  settingsTaken_ = NotificationCenter::defaultCenter().addObserver(SettingsInbox::kSettingsTaken, nullptr, reload);
  setSettingsValues();
}

SettingsPage::~SettingsPage() {
  NotificationCenter::defaultCenter().removeObserver(settingsLoaded_);
  NotificationCenter::defaultCenter().removeObserver(settingsTaken_);
}

QLabel* SettingsPage::makeLock(const char* name) {
  auto* lock = named(new QLabel(this), name);
  lock->setPixmap(Images::tinted(QStringLiteral("lock"), 16, devicePixelRatioF(), palette().color(QPalette::Text)));
  lock->setToolTip(T("adminNotice"));
  lock->setVisible(false);
  return lock;
}

void SettingsPage::setCore(MainViewController* controller, ChangeWatcher* watcher,
                           std::shared_ptr<CommunicationServer> server) {
  controller_ = controller;
  watcher_ = watcher;
  server_ = std::move(server);
  setSettingsValues();
}

void SettingsPage::setSettingsValues() {
  SettingsControls::Values values = SettingsControls::setSettingsValues();
  filling_ = true;
  timing_->setCurrentIndex(values.timingEntry);
  onlyOnSetTime_->setChecked(values.onlyOnSetTime);
  if (values.dailyTime) {
    QDateTime at = QDateTime::fromSecsSinceEpoch(static_cast<qint64>(values.dailyTime->timeIntervalSince1970()));
    dailyTime_->setTime(at.time());
  }
  threads_->setValue(values.threadPosition);
  threadLabel_->setText(QString::number(MainViewController::threadsForSliderPosition(values.threadPosition)));
  showAlerts_->setChecked(values.showAlerts);
  proxyType_->setCurrentIndex(std::clamp(values.proxyType, 0, proxyType_->count() - 1));
  proxyServer_->setText(Q(values.proxyServer));
  proxyPort_->setText(Q(values.proxyPort));
  proxyUser_->setText(Q(values.proxyUsername));
  proxyPassword_->setText(Q(values.proxyPassword));
  proxyServer_->setEnabled(values.proxyFieldsEnabled);
  proxyPort_->setEnabled(values.proxyFieldsEnabled);
  bandwidth_->setValue(values.bandwidth);
  bandwidthLabel_->setFittedText(Q(values.bandwidthText));
  externalDrives_->setChecked(values.externalDrives);
  emptyFiles_->setChecked(values.emptyFiles);
  emptyExtension_->setChecked(values.emptyExtension);
  filling_ = false;
  setAccessRights();
}

void SettingsPage::setAccessRights() {
  std::optional<AccessLocks> locks = SettingsControls::locksFor(LocalSettings::sharedManager().accessRights());
  if (!locks) return;
  timing_->setEnabled(locks->timingEnabled);
  onlyOnSetTime_->setEnabled(locks->timingEnabled);
  dailyTime_->setEnabled(locks->timingEnabled && timing_->currentIndex() == 2);
  exclusionsButton_->setEnabled(locks->exclusionsEnabled);
  externalDrives_->setEnabled(locks->exclusionsEnabled);
  emptyFiles_->setEnabled(locks->exclusionsEnabled);
  emptyExtension_->setEnabled(locks->exclusionsEnabled);
  advancedButton_->setEnabled(locks->advancedEnabled);
  if (!locks->advancedVisible) {
    advancedButton_->setChecked(false);
    advanced_->setVisible(false);
  }
  timingLock_->setVisible(locks->locksShown);
  exclusionsLock_->setVisible(locks->locksShown);
  advancedLock_->setVisible(locks->locksShown);
  notice_->setVisible(locks->noticeShown);
}

void SettingsPage::openExclusions() {
  if (!exclusionsDialog_) {
    exclusionsDialog_ = named(new QDialog(this), "exclusionsDialog");
    exclusionsDialog_->setWindowTitle(T("exclusionsTitle"));
    exclusionsDialog_->resize(720, 520);
    auto* layout = new QVBoxLayout(exclusionsDialog_);
    editor_ = new ExclusionEditor(watcher_ ? &watcher_->folderChanges() : nullptr, exclusionsDialog_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, exclusionsDialog_);
    layout->addWidget(editor_, 1);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::rejected, this, &SettingsPage::closeExclusions);
    connect(exclusionsDialog_, &QDialog::rejected, this, &SettingsPage::closeExclusions);
    connect(editor_, &ExclusionEditor::sizeLimitStored, this, [this](qint64 bytes) {
      if (bytes > 0) sendCleanup([bytes](ExclusionCleanup& cleanup) { return cleanup.deleteFilesAboveSize(bytes); });
    });
  } else {
    editor_->reload();
  }
  rulesWhenOpened_ = currentRules();
  exclusionsDialog_->setWindowModality(Qt::WindowModal);
  exclusionsDialog_->open();
}

void SettingsPage::closeExclusions() {
  if (!exclusionsDialog_ || !exclusionsDialog_->isVisible()) return;
  exclusionsDialog_->hide();
  Rules now = currentRules();
  std::string added = ExclusionCleanup::newlyExcluded(rulesWhenOpened_.types, now.types);
  if (!added.empty()) {
    sendCleanup([added](ExclusionCleanup& cleanup) { return cleanup.deleteFilesWithExtensions(added); });
  }
  exclusionsChanged(!(now == rulesWhenOpened_));
  // The editor's external-drives box may have changed the page's.
  setSettingsValues();
}

SettingsPage::Rules SettingsPage::currentRules() {
  auto& catalogue = CommonExtensions::sharedExtensionsManager();
  Rules rules;
  rules.types = ExclusionCleanup::currentFileTypes();
  rules.maxSize = catalogue.maxSize() ? catalogue.maxSize()->dump() : std::string();
  rules.hiddenFiles = catalogue.backupHiddenFiles();
  rules.externalDrives = catalogue.externalhd();
  return rules;
}

void SettingsPage::exclusionsChanged(bool rulesChanged) {
  if (!watcher_) return;
  if (rulesChanged) watcher_->folderChanges().setExclusionsChanged(true);
  ChangeWatcher* watcher = watcher_;
  runInBackground(
      this,
      [watcher] {
        watcher->recalculateBackupQueue(false);
        return true;
      },
      [](bool) {});
}

void SettingsPage::sendCleanup(std::function<bool(ExclusionCleanup&)> request) {
  if (!server_) return;
  auto server = server_;
  runInBackground(
      this,
      [server, request] {
        ExclusionCleanup cleanup(server);
        return request(cleanup);
      },
      [this](bool ok) { emit cleanupSent(ok); });
}

}  // namespace palvero::ui
