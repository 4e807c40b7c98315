#include "ui/main/BackupPage.h"

#include <QEvent>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

#include "ui/Fonts.h"
#include "ui/Text.h"
#include "ui/main/CheckStatusView.h"
#include "ui/widgets/StatusArea.h"
#include "ui/widgets/UsagePieChart.h"

namespace palvero::ui {
namespace {

// Captions and values of the usage section: 12 points.
constexpr qreal kUsagePoints = 12;
constexpr qreal kTimeSincePoints = 36;
constexpr qreal kInProgressPoints = 18;

QLabel* valueLabel(const QString& name, QWidget* parent) {
  auto* label = new QLabel(QStringLiteral("-"), parent);
  label->setObjectName(name);
  label->setFont(Fonts::system(kUsagePoints, true));
  label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  return label;
}

}  // namespace

BackupPage::BackupPage(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("backupPage"));
  statusArea_ = new StatusArea(this);
  connect(statusArea_, &StatusArea::statusButtonClicked, this, &BackupPage::statusButtonClicked);

  auto* usage = new QFrame(this);
  usage->setObjectName(QStringLiteral("usageSection"));
  usage->setFrameShape(QFrame::StyledPanel);
  auto* usageLayout = new QGridLayout(usage);
  usageLayout->setContentsMargins(18, 14, 18, 14);
  usageLayout->setHorizontalSpacing(24);
  usageLayout->setVerticalSpacing(4);
  auto* usageTitle = new QLabel(T("Usage"), usage);
  usageTitle->setObjectName(QStringLiteral("usageTitle"));
  usageTitle->setFont(Fonts::system(14, true));
  usageLayout->addWidget(usageTitle, 0, 0, 1, 2);

  auto caption = [&](const char* key) {
    auto* label = new QLabel(T(key), usage);
    label->setFont(Fonts::system(kUsagePoints));
    captions_.append(label);
    return label;
  };
  storageUsed_ = valueLabel(QStringLiteral("storageUsedValue"), usage);
  filesCount_ = valueLabel(QStringLiteral("filesBackedUpValue"), usage);
  timeSince_ = new QLabel(T("ZeroHours"), usage);
  timeSince_->setObjectName(QStringLiteral("timeSinceBackupValueLabel"));
  timeSince_->setFont(Fonts::condensedBold(kTimeSincePoints));

  auto* figures = new QVBoxLayout();
  figures->setSpacing(2);
  figures->addWidget(caption("Storage used"));
  figures->addWidget(storageUsed_);
  figures->addSpacing(10);
  figures->addWidget(caption("Files backuped up"));
  figures->addWidget(filesCount_);
  figures->addSpacing(10);
  figures->addWidget(caption("Time since backup"));
  figures->addWidget(timeSince_);
  figures->addStretch(1);
  usageLayout->addLayout(figures, 1, 0);

  usageStack_ = new QStackedWidget(usage);
  pieChart_ = new UsagePieChart(usageStack_);
  checkStatus_ = new CheckStatusView(usageStack_);
  usageStack_->addWidget(pieChart_);
  usageStack_->addWidget(checkStatus_);
  usageLayout->addWidget(usageStack_, 1, 1);
  usageLayout->setColumnStretch(1, 1);
  usageLayout->setRowStretch(1, 1);
  connect(pieChart_, &UsagePieChart::categoryChosen, this, &BackupPage::largestFilesRequested);
  connect(checkStatus_, &CheckStatusView::failedFilesRequested, this, &BackupPage::failedFilesRequested);
  connect(checkStatus_, &CheckStatusView::closeRequested, this, [this] { setCheckStatusShown(false); });

  auto button = [&](const char* key, const char* name) {
    auto* b = new QPushButton(T(key), this);
    b->setObjectName(QString::fromLatin1(name));
    return b;
  };
  QPushButton* check = button("checkStatus", "checkStatusButton");
  QPushButton* largest = button("top10Title", "openTop10Button");
  QPushButton* logs = button("sendLogs", "sendLogsInfoButton");
  QPushButton* settings = button("sendSettings", "sendSettingsButton");
  connect(check, &QPushButton::clicked, this, &BackupPage::checkStatusRequested);
  connect(largest, &QPushButton::clicked, this, [this] { emit largestFilesRequested(QStringLiteral("documents")); });
  connect(logs, &QPushButton::clicked, this, &BackupPage::sendLogsRequested);
  connect(settings, &QPushButton::clicked, this, &BackupPage::sendSettingsRequested);
  auto* buttons = new QHBoxLayout();
  buttons->setSpacing(8);
  buttons->addWidget(check);
  buttons->addWidget(largest);
  buttons->addStretch(1);
  buttons->addWidget(logs);
  buttons->addWidget(settings);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(20, 20, 20, 20);
  layout->setSpacing(14);
  layout->addWidget(statusArea_);
  layout->addWidget(usage, 1);
  layout->addLayout(buttons);
  paintCaptions();
}

void BackupPage::showStatus(const StatusModel& model) {
  statusArea_->showStatus(model);
  timeSince_->setText(Q(model.timeSinceText.empty() ? L("ZeroHours") : model.timeSinceText));
  timeSince_->setFont(Fonts::condensedBold(model.timeSinceIsInProgressCaption ? kInProgressPoints : kTimeSincePoints));
}

void BackupPage::showUsage(const UsageModel& model) {
  storageUsed_->setText(model.storageUsedUnit.empty()
                            ? Q(model.storageUsedNumber)
                            : QStringLiteral("%1 %2").arg(Q(model.storageUsedNumber), Q(model.storageUsedUnit)));
  filesCount_->setText(Q(model.filesCount));
  pieChart_->showUsage(model);
}

void BackupPage::showCheckStatus(const CheckStatusModel& model) { checkStatus_->showRows(model); }

void BackupPage::setCheckStatusShown(bool shown) { usageStack_->setCurrentWidget(shown ? static_cast<QWidget*>(checkStatus_) : pieChart_); }

bool BackupPage::checkStatusShown() const { return usageStack_->currentWidget() == checkStatus_; }

void BackupPage::paintCaptions() {
  // Captions in the palette's dimmer text, values in its text colour: both
  // read on light and dark backgrounds.
  QPalette dim = palette();
  dim.setColor(QPalette::WindowText, palette().color(QPalette::PlaceholderText));
  for (QLabel* label : captions_) label->setPalette(dim);
}

void BackupPage::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::PaletteChange) paintCaptions();
}

}  // namespace palvero::ui
