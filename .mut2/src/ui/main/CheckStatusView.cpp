#include "ui/main/CheckStatusView.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

#include "ui/Images.h"
#include "ui/Text.h"

namespace palvero::ui {
namespace {

constexpr int kImageSize = 20;
const char* const kRowNames[] = {"server", "storage", "lastBackup", "other", "failedFiles", "version"};
const char* const kRowCaptions[] = {"statusServer", "statusStorage", "statusLastBackup",
                                    "statusOther",  "statusFailedFiles", "statusVersion"};

}  // namespace

CheckStatusView::CheckStatusView(QWidget* parent) : QFrame(parent) {
  setObjectName(QStringLiteral("checkStatusView"));
  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(4, 4, 4, 4);
  grid->setHorizontalSpacing(10);
  grid->setVerticalSpacing(6);
  auto* title = new QLabel(T("checkStatus"), this);
  title->setObjectName(QStringLiteral("checkStatusTitle"));
  QFont bold = title->font();
  bold.setBold(true);
  title->setFont(bold);
  grid->addWidget(title, 0, 0, 1, 3);
  int row = 1;
  for (const char* name : kRowNames) {
    auto* caption = new QLabel(T(kRowCaptions[row - 1]), this);
    QPalette dim = caption->palette();
    dim.setColor(QPalette::WindowText, dim.color(QPalette::PlaceholderText));
    caption->setPalette(dim);
    auto* image = new QLabel(this);
    image->setObjectName(QStringLiteral("%1Image").arg(QLatin1String(name)));
    image->setFixedSize(kImageSize, kImageSize);
    auto* text = new QLabel(this);
    text->setObjectName(QStringLiteral("%1Row").arg(QLatin1String(name)));
    text->setWordWrap(true);
    text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    grid->addWidget(image, row, 0, Qt::AlignTop);
    grid->addWidget(caption, row, 1, Qt::AlignTop);
    grid->addWidget(text, row, 2);
    rows_.push_back(Row{image, text});
    ++row;
  }
  failedFilesButton_ = new QPushButton(T("showFailedFiles"), this);
  failedFilesButton_->setObjectName(QStringLiteral("statusFailedFilesButton"));
  connect(failedFilesButton_, &QPushButton::clicked, this, &CheckStatusView::failedFilesRequested);
  auto* close = new QPushButton(T("closeView"), this);
  close->setObjectName(QStringLiteral("closeCheckStatusButton"));
  connect(close, &QPushButton::clicked, this, &CheckStatusView::closeRequested);
  auto* buttons = new QHBoxLayout();
  buttons->addWidget(failedFilesButton_);
  buttons->addStretch(1);
  buttons->addWidget(close);
  grid->addLayout(buttons, row, 0, 1, 3);
  grid->setColumnStretch(2, 1);
  grid->setRowStretch(row + 1, 1);
}

void CheckStatusView::showRows(const CheckStatusModel& model) {
  const CheckStatusRow* rows[] = {&model.server, &model.storage,     &model.lastBackup,
                                  &model.other,  &model.failedFiles, &model.version};
  qreal ratio = devicePixelRatioF();
  for (size_t i = 0; i < rows_.size(); ++i) {
    const CheckStatusRow& row = *rows[i];
    rows_[i].image->setPixmap(
        Images::pixmap(row.ok ? QStringLiteral("check") : QStringLiteral("cross"), kImageSize, ratio));
    rows_[i].image->setAccessibleName(row.ok ? T("statusOK") : T("statusProblem"));
    rows_[i].text->setText(Q(row.text));
    rows_[i].text->setEnabled(row.enabled);
  }
  failedFilesButton_->setEnabled(model.failedFiles.enabled);
}

}  // namespace palvero::ui
