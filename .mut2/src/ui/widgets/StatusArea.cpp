#include "ui/widgets/StatusArea.h"

#include <QEvent>
#include <QGridLayout>
#include <QLabel>
#include <QProgressBar>
#include <QToolButton>
#include <algorithm>
#include <cmath>

#include "ui/Fonts.h"
#include "ui/Images.h"
#include "ui/Text.h"

namespace palvero::ui {

StatusArea::StatusArea(QWidget* parent) : QFrame(parent) {
  setObjectName(QStringLiteral("statusArea"));
  setFrameShape(QFrame::StyledPanel);

  filesLabel_ = new QLabel(this);
  filesLabel_->setObjectName(QStringLiteral("statusLabel"));
  filesLabel_->setFont(Fonts::system(16, true));
  filesLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);

  sizeField_ = new QLabel(this);
  sizeField_->setObjectName(QStringLiteral("sizeRemainingTextField"));

  progressBar_ = new QProgressBar(this);
  progressBar_->setObjectName(QStringLiteral("statusProgressBar"));
  progressBar_->setRange(0, 100);
  progressBar_->setTextVisible(false);
  progressBar_->setAccessibleName(QStringLiteral("progress"));

  timeField_ = new QLabel(this);
  timeField_->setObjectName(QStringLiteral("timeRemainingTextField"));
  lastBackupLabel_ = new QLabel(this);
  lastBackupLabel_->setObjectName(QStringLiteral("lastBackupLabel"));
  lastBackupLabel_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

  statusButton_ = new QToolButton(this);
  statusButton_->setObjectName(QStringLiteral("statusButton"));
  statusButton_->setIconSize(QSize(28, 28));
  statusButton_->setMinimumSize(QSize(44, 44));
  statusButton_->setAutoRaise(false);
  connect(statusButton_, &QToolButton::clicked, this, &StatusArea::statusButtonClicked);

  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(18, 16, 18, 16);
  grid->setHorizontalSpacing(16);
  grid->setVerticalSpacing(8);
  grid->addWidget(filesLabel_, 0, 0, 1, 2);
  grid->addWidget(statusButton_, 0, 2, 2, 1, Qt::AlignRight | Qt::AlignVCenter);
  grid->addWidget(sizeField_, 1, 0, 1, 2);
  grid->addWidget(progressBar_, 2, 0, 1, 3);
  grid->addWidget(timeField_, 3, 0);
  grid->addWidget(lastBackupLabel_, 3, 1, 1, 2);
  grid->setColumnStretch(0, 1);
  grid->setColumnStretch(1, 1);

  StatusModel empty;
  showStatus(empty);
}

void StatusArea::showStatus(const StatusModel& model) {
  filesLabel_->setText(Q(model.filesLabel));
  sizeField_->setText(Q(model.sizeText));
  // The figures of the last run would read as current ones.
  sizeField_->setVisible(model.backuping && !model.sizeText.empty());
  progressBar_->setValue(static_cast<int>(std::lround(std::clamp(model.progress, 0.0, 100.0))));
  timeField_->setText(Q(model.timeRemainingText));
  // Nothing left: the last backup stands where the estimate was.
  bool nothingLeft = model.filesToBackupCount == 0 && !model.backuping;
  lastBackupLabel_->setText(Q(model.lastBackupText));
  lastBackupLabel_->setVisible(nothingLeft && !model.lastBackupText.empty());
  statusButton_->setEnabled(model.buttonEnabled);
  if (model.buttonImage != image_ || statusButton_->icon().isNull()) {
    image_ = model.buttonImage;
    updateButtonIcon();
  }
}

void StatusArea::updateButtonIcon() {
  bool pause = image_ == StatusModel::ButtonImage::kPause;
  statusButton_->setIcon(Images::tintedIcon(pause ? QStringLiteral("pause") : QStringLiteral("resume"),
                                            palette().color(QPalette::ButtonText)));
  QString name = pause ? T("pauseBackup") : T("resumeBackup");
  statusButton_->setToolTip(name);
  statusButton_->setAccessibleName(name);
}

void StatusArea::changeEvent(QEvent* event) {
  QFrame::changeEvent(event);
  if (event->type() == QEvent::PaletteChange) updateButtonIcon();
}

}  // namespace palvero::ui
