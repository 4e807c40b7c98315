#include "ui/main/RestorePage.h"

#include <QCalendarWidget>
#include <QCheckBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTimeEdit>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/RestoreForm.h"
#include "app/RestoreQueueControl.h"
#include "app/RestoreStatus.h"
#include "ui/Fonts.h"
#include "ui/Images.h"
#include "ui/Text.h"
#include "ui/widgets/RestoreDestinationBox.h"
#include "ui/widgets/RestoreTreeSource.h"
#include "ui/widgets/FolderTree.h"
#include "ui/widgets/RestoreCalendar.h"

namespace palvero::ui {
namespace {

QRadioButton* radio(const QString& text, const char* name, QWidget* parent) {
  auto* button = new QRadioButton(text, parent);
  button->setObjectName(QString::fromLatin1(name));
  return button;
}

}  // namespace

RestorePage::RestorePage(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("restorePage"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(20, 20, 20, 20);
  auto* title = new QLabel(T("leftRestore"), this);
  title->setFont(Fonts::system(16, true));
  auto* info = new QLabel(T("restorePageInfo"), this);
  info->setObjectName(QStringLiteral("restorePageInfo"));
  info->setWordWrap(true);
  layout->addWidget(title);
  layout->addWidget(info);

  // Left: the tree of the service's devices.
  auto* treeColumn = new QVBoxLayout();
  tree_ = new FolderTree(this);
  tree_->setObjectName(QStringLiteral("restoreTree"));
  tree_->setMinimumWidth(260);
  showDeleted_ = new QCheckBox(T("showDeletedFiles"), this);
  showDeleted_->setObjectName(QStringLiteral("showDeletedCheckbox"));
  treeColumn->addWidget(tree_, 1);
  treeColumn->addWidget(showDeleted_);

  // Right: when, what, where.
  auto* when = new QGroupBox(T("restoreWhen"), this);
  auto* whenLayout = new QGridLayout(when);
  latest_ = radio(T("restoreLatest"), "restoreLatestRadio", when);
  atDate_ = radio(T("restoreAtDate"), "restoreDateRadio", when);
  latest_->setChecked(true);
  calendar_ = new RestoreCalendar(QSize(300, 230), when);
  time_ = new QTimeEdit(QTime(23, 59), when);
  time_->setObjectName(QStringLiteral("restoreTime"));
  time_->setDisplayFormat(QStringLiteral("HH:mm"));
  time_->setAccessibleName(T("restoreTime"));
  whenLayout->addWidget(latest_, 0, 0, 1, 2);
  whenLayout->addWidget(atDate_, 1, 0, 1, 2);
  whenLayout->addWidget(calendar_, 2, 0);
  whenLayout->addWidget(time_, 2, 1, Qt::AlignTop);

  auto* what = new QGroupBox(T("restoreWhat"), this);
  auto* whatLayout = new QVBoxLayout(what);
  chosen_ = radio(T("restoreChosenItems"), "restoreChosenRadio", what);
  allData_ = radio(T("restoreAllData"), "restoreAllDataRadio", what);
  chosen_->setChecked(true);
  whatLayout->addWidget(chosen_);
  whatLayout->addWidget(allData_);

  RestoreDestinationBox destination = RestoreDestinationBox::make(this);
  QGroupBox* where = destination.group;
  original_ = destination.original;
  other_ = destination.other;
  destination_ = destination.destination;
  choose_ = destination.choose;
  replace_ = destination.replace;
  restore_ = new QPushButton(T("restoreButton"), this);
  restore_->setObjectName(QStringLiteral("restoreStartButton"));
  restore_->setDefault(true);
  problem_ = new QLabel(this);
  problem_->setObjectName(QStringLiteral("restoreProblem"));
  problem_->setWordWrap(true);

  auto* options = new QVBoxLayout();
  options->addWidget(when);
  options->addWidget(what);
  options->addWidget(where);
  options->addWidget(replace_);
  auto* buttonRow = new QHBoxLayout();
  buttonRow->addWidget(problem_, 1);
  buttonRow->addWidget(restore_, 0, Qt::AlignRight | Qt::AlignTop);
  options->addLayout(buttonRow);
  options->addStretch(1);

  auto* columns = new QHBoxLayout();
  columns->addLayout(treeColumn, 1);
  columns->addLayout(options, 0);
  layout->addLayout(columns, 1);

  // Bottom: the restore's status and its failures.
  auto* status = new QFrame(this);
  statusArea_ = status;
  status->setObjectName(QStringLiteral("restoreStatusArea"));
  status->setFrameShape(QFrame::StyledPanel);
  auto* statusLayout = new QGridLayout(status);
  filesLabel_ = new QLabel(status);
  filesLabel_->setObjectName(QStringLiteral("restoreFilesLabel"));
  sizeLabel_ = new QLabel(status);
  sizeLabel_->setObjectName(QStringLiteral("restoreSizeLabel"));
  progress_ = new QProgressBar(status);
  progress_->setObjectName(QStringLiteral("restoreProgress"));
  progress_->setRange(0, 100);
  progress_->setTextVisible(false);
  statusButton_ = new QPushButton(status);
  statusButton_->setObjectName(QStringLiteral("restoreStatusButton"));
  failures_ = new QTreeWidget(status);
  failures_->setObjectName(QStringLiteral("restoreFailures"));
  failures_->setHeaderLabels({T("columnPath"), T("columnError")});
  failures_->setRootIsDecorated(false);
  failures_->header()->setSectionResizeMode(0, QHeaderView::Stretch);
  failures_->setMaximumHeight(110);
  statusLayout->addWidget(filesLabel_, 0, 0);
  statusLayout->addWidget(sizeLabel_, 0, 1, Qt::AlignRight);
  statusLayout->addWidget(statusButton_, 0, 2, 2, 1, Qt::AlignVCenter);
  statusLayout->addWidget(progress_, 1, 0, 1, 2);
  statusLayout->addWidget(failures_, 2, 0, 1, 3);
  statusLayout->setColumnStretch(0, 1);
  layout->addWidget(status);

  timer_ = new QTimer(this);
  timer_->setInterval(1000);
  connect(timer_, &QTimer::timeout, this, &RestorePage::refreshStatus);
  connect(atDate_, &QRadioButton::toggled, this, [this] { updateEnabled(); });
  connect(allData_, &QRadioButton::toggled, this, [this] { updateEnabled(); });
  connect(other_, &QRadioButton::toggled, this, [this] { updateEnabled(); });
  connect(choose_, &QPushButton::clicked, this, [this] {
    QString folder = QFileDialog::getExistingDirectory(this, T("chooseFolder"), destination_->text());
    if (folder.isEmpty()) return;
    destination_->setText(folder);
    other_->setChecked(true);
  });
  connect(showDeleted_, &QCheckBox::toggled, this, [this] { reloadTree(); });
  connect(restore_, &QPushButton::clicked, this, &RestorePage::restorePressed);
  connect(statusButton_, &QPushButton::clicked, this, &RestorePage::statusButtonPressed);
  updateEnabled();
  refreshStatus();
}

RestorePage::~RestorePage() = default;

void RestorePage::setRestoreControl(RestoreQueueControl* control, std::shared_ptr<CommunicationServer> server) {
  control_ = control;
  if (!control_ || !server) return;
  // The choices of the last restore fill the form again.
  RestoreForm stored = RestoreForm::stored();
  allData_->setChecked(stored.allData);
  chosen_->setChecked(!stored.allData);
  other_->setChecked(!stored.originalPlace);
  original_->setChecked(stored.originalPlace);
  destination_->setText(Q(stored.destination));
  replace_->setChecked(stored.replaceFiles);
  if (!stored.latest && stored.day) {
    atDate_->setChecked(true);
    QDateTime at = QDateTime::fromSecsSinceEpoch(static_cast<qint64>(stored.day->timeIntervalSince1970()));
    calendar_->setSelectedDate(at.date());
    time_->setTime(QTime(stored.hour, stored.minute));
  }
  source_ = std::make_shared<RestoreTreeSource>(std::make_shared<RemoteBrowser>(std::move(server)));
  reloadTree();
  refreshStatus();
}

void RestorePage::reloadTree() {
  if (!source_) return;
  source_->browser().setShowDeleted(showDeleted_->isChecked());
  // A new model: rows listed before the box changed would keep the old view.
  auto source = source_;
  auto* model = new FolderTreeModel(
      source, [source](const std::string& key) { return source->stateOf(key); },
      [source](const std::string& key, bool checked) { source->setChecked(key, checked); }, tree_);
  tree_->setFolderModel(model);
  connect(model, &FolderTreeModel::fetchFailed, this, [this] { problem_->setText(T("restoreListingFailed")); });
  if (model_) model_->deleteLater();
  model_ = model;
  model_->setRoot(RestoreTreeSource::rootKey());
}

RestoreForm RestorePage::form() const {
  RestoreForm form;
  form.latest = latest_->isChecked();
  QDate day = calendar_->selectedDate();
  form.day = Date::fromLocalComponents(day.year(), day.month(), day.day(), 0, 0, 0);
  form.hour = time_->time().hour();
  form.minute = time_->time().minute();
  form.allData = allData_->isChecked();
  form.originalPlace = original_->isChecked();
  form.destination = destination_->text().trimmed().toStdString();
  form.replaceFiles = replace_->isChecked();
  form.showDeleted = showDeleted_->isChecked();
  return form;
}

void RestorePage::restorePressed() {
  if (!control_) return;
  RestoreForm current = form();
  std::string problem;
  std::optional<RestoreChoice> choice =
      current.choice(source_ ? source_->selection() : RestoreSelection(), problem);
  if (choice) RestoreForm::start(*control_, *choice, current.replaceFiles, problem);
  problem_->setText(problem.empty() ? QString() : T(problem.c_str()));
  refreshStatus();
}

void RestorePage::statusButtonPressed() {
  if (!control_) return;
  control_->statusButtonPressed();
  refreshStatus();
}

void RestorePage::refreshStatus() {
  RestoreStatus status = control_ ? RestoreStatus::of(*control_) : RestoreStatus();
  filesLabel_->setText(Q(status.filesLabel));
  sizeLabel_->setText(Q(status.sizeText));
  progress_->setValue(static_cast<int>(status.progress));
  progress_->setVisible(status.shown());
  bool resume = status.buttonShowsResume;
  statusButton_->setIcon(Images::icon(resume ? QStringLiteral("resume") : QStringLiteral("pause")));
  statusButton_->setToolTip(resume ? T("resumeRestore") : T("pauseRestore"));
  statusButton_->setAccessibleName(statusButton_->toolTip());
  statusButton_->setVisible(status.shown());
  statusButton_->setEnabled(status.buttonEnabled);
  // A paused or interrupted restore may give way to a new one; a running one may not.
  restore_->setEnabled(status.phase != RestoreStatus::Phase::kRunning &&
                       status.phase != RestoreStatus::Phase::kPreparing);
  if (static_cast<int>(status.failures.size()) != failures_->topLevelItemCount()) {
    failures_->clear();
    for (const FailedRestore& failure : status.failures) {
      failures_->addTopLevelItem(new QTreeWidgetItem({Q(failure.path), Q(failure.error)}));
    }
  }
  failures_->setVisible(!status.failures.empty());
  // An empty frame would only take room from the calendar above it.
  statusArea_->setVisible(status.shown() || !status.failures.empty() || !status.filesLabel.empty());
}

void RestorePage::updateEnabled() {
  calendar_->setEnabled(atDate_->isChecked());
  time_->setEnabled(atDate_->isChecked());
  tree_->setEnabled(!allData_->isChecked());
  destination_->setEnabled(other_->isChecked());
}

void RestorePage::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  refreshStatus();
  timer_->start();
}

void RestorePage::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  timer_->stop();
}

}  // namespace palvero::ui
