// What is left out of the backup, as the first-run wizard and the settings
// page edit it: the folder tree of the backup folder, the file types of
// each category, the size limit with its unit, and the hidden-files and
// external-drives switches. Every change is stored at once.
//
// Thread contract: GUI thread only.
#pragma once

#include <QWidget>
#include <map>
#include <memory>

#include "app/FolderSelection.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTabWidget;

namespace palvero {
class FolderChanges;
}

namespace palvero::ui {

class FolderTree;
class FolderTreeModel;

class ExclusionEditor : public QWidget {
  Q_OBJECT

 public:
  // `changes` receives the folders checked and unchecked (the main window's
  // rescan); null in the wizard, whose first scan comes after.
  explicit ExclusionEditor(FolderChanges* changes = nullptr, QWidget* parent = nullptr);

  // Reads everything from the catalogue again (after the service's exclusions arrived).
  void reload();

  FolderTree* folderTree() const { return tree_; }
  FolderTreeModel* folderModel() const { return model_; }
  QTabWidget* tabs() const { return tabs_; }
  QListWidget* categoryList() const { return categories_; }
  QCheckBox* extensionBox(const QString& valuesKey, const QString& extension) const;
  QLineEdit* sizeField() const { return sizeField_; }
  QComboBox* sizeUnit() const { return sizeUnit_; }
  QPushButton* sizeOkButton() const { return sizeOk_; }
  QCheckBox* hiddenFilesBox() const { return hiddenFiles_; }
  QCheckBox* externalDrivesBox() const { return externalDrives_; }

 signals:
  // Something was stored (the wizard sends the exclusions when it leaves).
  void changed();
  void sizeLimitStored(qint64 bytes);

 private:
  QWidget* makeFolderTab();
  QWidget* makeTypesTab();
  QWidget* makeSizeTab();

  FolderChanges* changes_;
  std::unique_ptr<FolderSelection> selection_;
  QTabWidget* tabs_;
  FolderTree* tree_;
  FolderTreeModel* model_;
  QListWidget* categories_;
  std::map<QString, QCheckBox*> extensionBoxes_;
  QLineEdit* sizeField_;
  QComboBox* sizeUnit_;
  QPushButton* sizeOk_;
  QCheckBox* hiddenFiles_;
  QCheckBox* externalDrives_;
};

}  // namespace palvero::ui
