// The largest stored files of one category, ten at a time ("show more"
// appends the next ten), and their removal from the backup after a
// confirmation. The service is asked off the GUI thread.
//
// Thread contract: GUI thread only.
#pragma once

#include <QDialog>
#include <cstdint>

class QComboBox;
class QLabel;
class QPushButton;
class QTreeWidget;

namespace palvero::ui {

class LargestFilesDialog : public QDialog {
  Q_OBJECT

 public:
  explicit LargestFilesDialog(QWidget* parent = nullptr);

  // Shows page 0 of `category` ("documents", "music", ...).
  void showCategory(const QString& category);

  QTreeWidget* list() const { return list_; }
  QPushButton* showMoreButton() const { return showMore_; }
  QPushButton* deleteButton() const { return delete_; }
  QComboBox* categoryBox() const { return category_; }
  // True while a request is out (tests wait for it).
  bool busy() const { return busy_; }

 signals:
  void pageShown();
  void fileDeleted(const QString& path);

 private:
  void fetch(int64_t page);
  void askToDelete();
  void setBusy(bool busy);

  QComboBox* category_;
  QTreeWidget* list_;
  QLabel* note_;
  QPushButton* showMore_;
  QPushButton* delete_;
  int64_t nextPage_ = 0;
  bool busy_ = false;
  uint64_t generation_ = 0;  // a reply for an earlier category is dropped
};

}  // namespace palvero::ui
