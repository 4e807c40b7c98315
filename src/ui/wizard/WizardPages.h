// The pages of the first-run wizard, as views: each shows its controls and
// reports the user's intent; WizardView decides what follows.
//
// Thread contract: GUI thread only.
#pragma once

#include <QWidget>
#include <memory>
#include <vector>

#include "base/Value.h"

class QButtonGroup;
class QCalendarWidget;
class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTableWidget;
class QTableWidgetItem;
class QTimeEdit;

namespace palvero {
class CommunicationServer;
}  // namespace palvero

namespace palvero::ui {

class ExclusionEditor;
class FolderTree;
class FolderTreeModel;
class RestoreTreeSource;

// Title and explanation at the top of a page.
QWidget* pageHeader(const QString& title, const QString& text, QWidget* parent);

class LoginPage : public QWidget {
  Q_OBJECT

 public:
  explicit LoginPage(QWidget* parent = nullptr);

  QLineEdit* userName() const { return userName_; }
  QLineEdit* password() const { return password_; }
  QCheckBox* licenseCheckBox() const { return license_; }
  QPushButton* licenseButton() const { return licenseButton_; }
  QPushButton* forgotPasswordButton() const { return forgot_; }
  QPushButton* nextButton() const { return next_; }
  QLabel* versionLabel() const { return version_; }

 signals:
  void nextPressed();
  void forgotPasswordPressed();
  void licensePressed();

 private:
  QLineEdit* userName_;
  QLineEdit* password_;
  QCheckBox* license_;
  QPushButton* licenseButton_;
  QPushButton* forgot_;
  QPushButton* next_;
  QLabel* version_;
};

class DevicePage : public QWidget {
  Q_OBJECT

 public:
  explicit DevicePage(QWidget* parent = nullptr);

  // The account's devices ("Name", "DeviceID", "DeviceType", "ComputerName").
  void setDevices(const std::vector<Value>& devices);
  QTableWidget* devicesTable() const { return table_; }
  QRadioButton* replaceExistingRadio() const { return replace_; }
  QRadioButton* addNewRadio() const { return addNew_; }
  QLineEdit* newDeviceName() const { return newName_; }
  QPushButton* nextButton() const { return next_; }
  // The text of the chosen row (the first row when none is chosen).
  QString chosenDeviceText() const;
  // What names the chosen device without doubt: its identifier, or its name
  // when the service sent none (two devices may share a name).
  QString chosenDeviceKey() const;

 signals:
  void nextPressed();

 private:
  void radioChanged();
  QTableWidgetItem* chosenItem() const;

  QTableWidget* table_;
  QRadioButton* replace_;
  QRadioButton* addNew_;
  QLineEdit* newName_;
  QPushButton* next_;
};

class ExclusionsPage : public QWidget {
  Q_OBJECT

 public:
  explicit ExclusionsPage(QWidget* parent = nullptr);

  ExclusionEditor* editor() const { return editor_; }
  QPushButton* restoreButton() const { return restore_; }
  QPushButton* nextButton() const { return next_; }

 signals:
  void nextPressed();
  void restorePressed();

 private:
  ExclusionEditor* editor_;
  QPushButton* restore_;
  QPushButton* next_;
};

class RestorePresetsPage : public QWidget {
  Q_OBJECT

 public:
  explicit RestorePresetsPage(QWidget* parent = nullptr);

  QRadioButton* latestRadio() const { return latest_; }
  QRadioButton* dateRadio() const { return atDate_; }
  QCalendarWidget* calendar() const { return calendar_; }
  QTimeEdit* time() const { return time_; }
  QRadioButton* allDataRadio() const { return allData_; }
  QRadioButton* chosenItemsRadio() const { return chosen_; }
  // The service's tree, listed through `server` (once; later calls keep it).
  void listTree(std::shared_ptr<CommunicationServer> server);
  FolderTreeModel* treeModel() const { return model_; }
  // What is ticked; null before the tree is listed.
  RestoreTreeSource* treeSource() const { return source_.get(); }
  QRadioButton* originalPlaceRadio() const { return original_; }
  QRadioButton* otherFolderRadio() const { return other_; }
  QLineEdit* destination() const { return destination_; }
  QPushButton* chooseFolderButton() const { return choose_; }
  QCheckBox* replaceFilesBox() const { return replace_; }
  QPushButton* restoreButton() const { return restore_; }
  QPushButton* cancelButton() const { return cancel_; }

 signals:
  void restorePressed();
  void cancelPressed();

 private:
  void updateEnabled();

  QRadioButton* latest_;
  QRadioButton* atDate_;
  QCalendarWidget* calendar_;
  QTimeEdit* time_;
  QRadioButton* allData_;
  QRadioButton* chosen_;
  FolderTree* tree_;
  std::shared_ptr<RestoreTreeSource> source_;
  FolderTreeModel* model_ = nullptr;
  QRadioButton* original_;
  QRadioButton* other_;
  QLineEdit* destination_;
  QPushButton* choose_;
  QCheckBox* replace_;
  QPushButton* restore_;
  QPushButton* cancel_;
};

class FinishPage : public QWidget {
  Q_OBJECT

 public:
  explicit FinishPage(QWidget* parent = nullptr);

  void setBackupFolder(const QString& folder);
  // The first scan: the label and the busy indicator, Done disabled.
  void setScanning(bool scanning);
  // The files the scan has queued so far.
  void setFilesFound(qint64 count);
  QLabel* initialScanLabel() const { return scanLabel_; }
  QProgressBar* progress() const { return progress_; }
  QPushButton* doneButton() const { return done_; }

 signals:
  void donePressed();

 private:
  QLabel* folder_;
  QLabel* scanLabel_;
  QProgressBar* progress_;
  QPushButton* done_;
};

}  // namespace palvero::ui
