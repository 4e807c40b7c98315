// The settings page of the main window: when to back up, how many workers,
// alerts, the proxy, the upload limit, the switches of the backup selection
// and the exclusions editor. Every control writes its setting the moment it
// changes (SettingsControls, and MainViewController for timing and
// workers). The administrator's "AccessRights" lock the timing, the
// exclusions and the advanced settings.
//
// Thread contract: GUI thread only; "LoadSettingsOK" and settings taken
// from the command line, posted on any thread, are moved to it.
#pragma once

#include <QWidget>
#include <memory>

#include "app/ExclusionCleanup.h"
#include "base/NotificationCenter.h"

class QCheckBox;
class QComboBox;
class QDialog;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;
class QTimeEdit;

namespace palvero {
class ChangeWatcher;
class CommunicationServer;
class MainViewController;
}  // namespace palvero

namespace palvero::ui {

class ExclusionEditor;
class FitLabel;

class SettingsPage : public QWidget {
  Q_OBJECT

 public:
  explicit SettingsPage(QWidget* parent = nullptr);
  ~SettingsPage() override;

  // What the controls drive; any may be null (the control then only stores).
  void setCore(MainViewController* controller, ChangeWatcher* watcher, std::shared_ptr<CommunicationServer> server);

  // Fills every control from the stores, then applies the locks.
  void setSettingsValues();
  // The locks of "AccessRights"; a value that means nothing changes nothing.
  void setAccessRights();
  // Opens the exclusions editor; closing it with changes rescans and asks
  // the service to drop what the new exclusions leave out.
  void openExclusions();
  void closeExclusions();

  QComboBox* timingCombo() const { return timing_; }
  QCheckBox* onlyOnSetTimeBox() const { return onlyOnSetTime_; }
  QTimeEdit* dailyTimeEdit() const { return dailyTime_; }
  QSlider* threadSlider() const { return threads_; }
  QLabel* threadLabel() const { return threadLabel_; }
  QCheckBox* showAlertsBox() const { return showAlerts_; }
  QComboBox* proxyTypeCombo() const { return proxyType_; }
  QLineEdit* proxyServerField() const { return proxyServer_; }
  QLineEdit* proxyPortField() const { return proxyPort_; }
  QLineEdit* proxyUserField() const { return proxyUser_; }
  QLineEdit* proxyPasswordField() const { return proxyPassword_; }
  QSlider* bandwidthSlider() const { return bandwidth_; }
  FitLabel* bandwidthLabel() const { return bandwidthLabel_; }
  QCheckBox* externalDrivesBox() const { return externalDrives_; }
  QCheckBox* emptyFilesBox() const { return emptyFiles_; }
  QCheckBox* emptyExtensionBox() const { return emptyExtension_; }
  QPushButton* exclusionsButton() const { return exclusionsButton_; }
  QPushButton* advancedButton() const { return advancedButton_; }
  QWidget* advancedView() const { return advanced_; }
  QLabel* notice() const { return notice_; }
  QDialog* exclusionsDialog() const { return exclusionsDialog_; }
  ExclusionEditor* exclusionEditor() const { return editor_; }

 signals:
  // The service was asked to delete versions (tests wait for it).
  void cleanupSent(bool ok);

 private:
  QLabel* makeLock(const char* name);
  // Rebuilds the backup queue off the main thread: rescans the folders the
  // editor changed, or everything when a rule changed.
  void exclusionsChanged(bool rulesChanged);
  void sendCleanup(std::function<bool(ExclusionCleanup&)> request);

  MainViewController* controller_ = nullptr;
  ChangeWatcher* watcher_ = nullptr;
  std::shared_ptr<CommunicationServer> server_;
  NotificationCenter::Token settingsLoaded_ = 0;
  NotificationCenter::Token settingsTaken_ = 0;

  QComboBox* timing_;
  QCheckBox* onlyOnSetTime_;
  QTimeEdit* dailyTime_;
  QSlider* threads_;
  QLabel* threadLabel_;
  QCheckBox* showAlerts_;
  QComboBox* proxyType_;
  QLineEdit* proxyServer_;
  QLineEdit* proxyPort_;
  QLineEdit* proxyUser_;
  QLineEdit* proxyPassword_;
  QSlider* bandwidth_;
  FitLabel* bandwidthLabel_;
  QCheckBox* externalDrives_;
  QCheckBox* emptyFiles_;
  QCheckBox* emptyExtension_;
  QPushButton* exclusionsButton_;
  QPushButton* advancedButton_;
  QWidget* advanced_;
  QLabel* timingLock_;
  QLabel* exclusionsLock_;
  QLabel* advancedLock_;
  QLabel* notice_;
  QDialog* exclusionsDialog_ = nullptr;
  ExclusionEditor* editor_ = nullptr;
  // The rules when the editor opened: a change of any of them rebuilds the
  // whole queue, while folder changes rescan only those folders.
  struct Rules {
    ExclusionCleanup::FileTypes types;
    std::string maxSize;
    bool hiddenFiles = false;
    bool externalDrives = false;
    bool operator==(const Rules&) const = default;
  };
  static Rules currentRules();
  Rules rulesWhenOpened_;
  bool filling_ = false;  // controls set by the page itself write nothing
};

}  // namespace palvero::ui
