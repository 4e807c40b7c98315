// The backup page: the status area, the usage section (storage used, files
// backed up, time since backup and the pie chart, or the check-status rows
// in its place) and the buttons that open the largest files, the send-logs
// dialog and the folder settings for support. It shows what the core hands
// the window and forwards each button to the page's owner.
//
// Thread contract: GUI thread only.
#pragma once

#include <QWidget>

#include "app/StatusModel.h"
#include "app/UsageModel.h"

class QLabel;
class QPushButton;
class QStackedWidget;

namespace palvero::ui {

class CheckStatusView;
class StatusArea;
class UsagePieChart;

class BackupPage : public QWidget {
  Q_OBJECT

 public:
  explicit BackupPage(QWidget* parent = nullptr);

  void showStatus(const StatusModel& model);
  void showUsage(const UsageModel& model);
  void showCheckStatus(const CheckStatusModel& model);
  // The check-status rows in place of the pie chart, or the chart again.
  void setCheckStatusShown(bool shown);
  bool checkStatusShown() const;

  StatusArea* statusArea() const { return statusArea_; }
  UsagePieChart* pieChart() const { return pieChart_; }
  CheckStatusView* checkStatusView() const { return checkStatus_; }
  QLabel* timeSinceLabel() const { return timeSince_; }
  QLabel* storageUsedLabel() const { return storageUsed_; }
  QLabel* filesCountLabel() const { return filesCount_; }

 signals:
  void statusButtonClicked();
  void checkStatusRequested();
  void failedFilesRequested();
  void largestFilesRequested(const QString& category);
  void sendLogsRequested();
  void sendSettingsRequested();

 protected:
  void changeEvent(QEvent* event) override;

 private:
  void paintCaptions();

  StatusArea* statusArea_;
  QLabel* storageUsed_;
  QLabel* filesCount_;
  QLabel* timeSince_;
  QList<QLabel*> captions_;
  QStackedWidget* usageStack_;
  UsagePieChart* pieChart_;
  CheckStatusView* checkStatus_;
};

}  // namespace palvero::ui
