// The check-status rows of the backup page (server, storage, last backup,
// other, failed files, version), each with our check or cross image, as the
// core's status check evaluated them. The failed-files row opens the list.
//
// Thread contract: GUI thread only.
#pragma once

#include <QFrame>
#include <vector>

#include "app/StatusModel.h"

class QLabel;
class QPushButton;

namespace palvero::ui {

class CheckStatusView : public QFrame {
  Q_OBJECT

 public:
  explicit CheckStatusView(QWidget* parent = nullptr);

  void showRows(const CheckStatusModel& model);

  struct Row {
    QLabel* image;
    QLabel* text;
  };
  const std::vector<Row>& rows() const { return rows_; }
  QPushButton* failedFilesButton() const { return failedFilesButton_; }

 signals:
  void failedFilesRequested();
  void closeRequested();

 private:
  std::vector<Row> rows_;
  QPushButton* failedFilesButton_;
};

}  // namespace palvero::ui
