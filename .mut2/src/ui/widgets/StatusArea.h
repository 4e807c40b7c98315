// The status area of a page: what is left (files label), how much is done
// (size field, progress bar), the time remaining or the last backup, and the
// pause/resume button. It renders a StatusModel of the core as it is.
//
// Thread contract: GUI thread only.
#pragma once

#include <QFrame>

#include "app/StatusModel.h"

class QLabel;
class QProgressBar;
class QToolButton;

namespace palvero::ui {

class StatusArea : public QFrame {
  Q_OBJECT

 public:
  explicit StatusArea(QWidget* parent = nullptr);

  void showStatus(const StatusModel& model);

  QLabel* filesLabel() const { return filesLabel_; }
  QLabel* sizeField() const { return sizeField_; }
  QLabel* timeField() const { return timeField_; }
  QLabel* lastBackupLabel() const { return lastBackupLabel_; }
  QProgressBar* progressBar() const { return progressBar_; }
  QToolButton* statusButton() const { return statusButton_; }

 signals:
  void statusButtonClicked();

 protected:
  void changeEvent(QEvent* event) override;

 private:
  void updateButtonIcon();

  QLabel* filesLabel_;
  QLabel* sizeField_;
  QLabel* timeField_;
  QLabel* lastBackupLabel_;
  QProgressBar* progressBar_;
  QToolButton* statusButton_;
  StatusModel::ButtonImage image_ = StatusModel::ButtonImage::kResume;
};

}  // namespace palvero::ui
