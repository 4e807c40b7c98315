// The pie chart of the stored data by file category (Qt Charts), with a
// legend of titles and sizes. Choosing a slice asks for the category's
// largest files.
//
// Thread contract: GUI thread only.
#pragma once

#include <QWidget>

#include "app/UsageModel.h"

class QChart;
class QChartView;
class QPieSeries;

namespace palvero::ui {

class UsagePieChart : public QWidget {
  Q_OBJECT

 public:
  explicit UsagePieChart(QWidget* parent = nullptr);

  void showUsage(const UsageModel& model);
  QPieSeries* series() const { return series_; }

 signals:
  void categoryChosen(const QString& category);

 protected:
  void changeEvent(QEvent* event) override;

 private:
  void applyPalette();

  QChartView* view_;
  QChart* chart_;
  QPieSeries* series_;
  UsageModel model_;
};

}  // namespace palvero::ui
