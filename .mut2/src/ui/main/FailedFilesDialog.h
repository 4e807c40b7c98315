// The files that failed five times or more, with the removal of one from the
// queue (it is not tried again until it changes).
//
// Thread contract: GUI thread only.
#pragma once

#include <QDialog>
#include <vector>

#include "app/StatusModel.h"

class QPushButton;
class QTreeWidget;

namespace palvero::ui {

class FailedFilesDialog : public QDialog {
  Q_OBJECT

 public:
  explicit FailedFilesDialog(QWidget* parent = nullptr);

  void showFiles(const std::vector<FailedFile>& files);
  QTreeWidget* list() const { return list_; }
  QPushButton* deleteButton() const { return deleteButton_; }

 signals:
  void deleteRequested(const QString& path);

 private:
  QTreeWidget* list_;
  QPushButton* deleteButton_;
};

}  // namespace palvero::ui
