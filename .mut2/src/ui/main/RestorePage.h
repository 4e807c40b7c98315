// The restore page of the main window: the service's tree of the account's
// devices with three-state boxes and the show-deleted box, the choices of a
// restore (latest or a day and time, all data or the ticked items, the
// original place or another folder, replacing local files), the Restore
// button, and the restore's status area with its failures. An interrupted
// restore shows as such and is continued from here.
//
// Thread contract: GUI thread only; listings run on the background queue.
#pragma once

#include <QWidget>
#include <memory>

class QCalendarWidget;
class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTimeEdit;
class QTimer;
class QTreeWidget;

namespace palvero {
class CommunicationServer;
class RestoreQueueControl;
struct RestoreForm;
}  // namespace palvero

namespace palvero::ui {

class FolderTree;
class FolderTreeModel;
class RestoreTreeSource;

class RestorePage : public QWidget {
  Q_OBJECT

 public:
  explicit RestorePage(QWidget* parent = nullptr);
  ~RestorePage() override;

  // The restore the page starts and shows; null until the core has one.
  // The tree is listed through `server`.
  void setRestoreControl(RestoreQueueControl* control, std::shared_ptr<CommunicationServer> server);

  // The form as the widgets say it.
  RestoreForm form() const;
  // Restore pressed: starts the run, or shows why it cannot.
  void restorePressed();
  // Reads the restore's figures again (also every second while shown).
  void refreshStatus();

  FolderTree* tree() const { return tree_; }
  FolderTreeModel* treeModel() const { return model_; }
  RestoreTreeSource* treeSource() const { return source_.get(); }
  QCheckBox* showDeletedBox() const { return showDeleted_; }
  QCalendarWidget* calendar() const { return calendar_; }
  QTimeEdit* timeEdit() const { return time_; }
  QLineEdit* destinationField() const { return destination_; }
  QLabel* problemLabel() const { return problem_; }
  QLabel* filesLabel() const { return filesLabel_; }
  QLabel* sizeLabel() const { return sizeLabel_; }
  QPushButton* statusButton() const { return statusButton_; }
  QTreeWidget* failuresList() const { return failures_; }

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void updateEnabled();
  void reloadTree();
  void statusButtonPressed();

  RestoreQueueControl* control_ = nullptr;
  std::shared_ptr<RestoreTreeSource> source_;
  FolderTree* tree_;
  FolderTreeModel* model_ = nullptr;
  QCheckBox* showDeleted_;
  QRadioButton* latest_;
  QRadioButton* atDate_;
  QCalendarWidget* calendar_;
  QTimeEdit* time_;
  QRadioButton* allData_;
  QRadioButton* chosen_;
  QRadioButton* original_;
  QRadioButton* other_;
  QLineEdit* destination_;
  QPushButton* choose_;
  QCheckBox* replace_;
  QPushButton* restore_;
  QLabel* problem_;
  QLabel* filesLabel_;
  QLabel* sizeLabel_;
  QProgressBar* progress_;
  QPushButton* statusButton_;
  QTreeWidget* failures_;
  QFrame* statusArea_;
  QTimer* timer_;
};

}  // namespace palvero::ui
