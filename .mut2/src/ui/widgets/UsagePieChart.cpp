#include "ui/widgets/UsagePieChart.h"

#include <QChart>
#include <QChartView>
#include <QEvent>
#include <QGraphicsLayout>
#include <QLegend>
#include <QLegendMarker>
#include <QPieSeries>
#include <QPieSlice>
#include <QVBoxLayout>

#include "ui/Text.h"

namespace palvero::ui {
namespace {

// One colour per category, in UsageModel::kCategories order; chosen to stay
// apart from each other on light and dark backgrounds.
const QColor kSliceColors[] = {QColor(0x2f, 0x8f, 0xd8), QColor(0xe0, 0x7b, 0x39), QColor(0x3f, 0xb0, 0x6a),
                               QColor(0xc9, 0x4f, 0x9b), QColor(0xd9, 0xb3, 0x2b), QColor(0x8a, 0x96, 0xa8)};

}  // namespace

UsagePieChart::UsagePieChart(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("usagePieChart"));
  series_ = new QPieSeries();
  series_->setHoleSize(0.45);
  chart_ = new QChart();
  chart_->addSeries(series_);
  chart_->setBackgroundVisible(false);
  chart_->setMargins(QMargins(0, 0, 0, 0));
  chart_->layout()->setContentsMargins(0, 0, 0, 0);
  chart_->legend()->setAlignment(Qt::AlignRight);
  chart_->legend()->setShowToolTips(true);
  chart_->setAnimationOptions(QChart::NoAnimation);
  view_ = new QChartView(chart_, this);
  view_->setRenderHint(QPainter::Antialiasing);
  view_->setMinimumSize(QSize(320, 180));
  view_->setStyleSheet(QStringLiteral("background: transparent"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(view_);
  connect(series_, &QPieSeries::clicked, this, [this](QPieSlice* slice) {
    QString category = slice->property("category").toString();
    if (!category.isEmpty()) emit categoryChosen(category);
  });
  showUsage(UsageModel());
}

void UsagePieChart::showUsage(const UsageModel& model) {
  model_ = model;
  series_->clear();
  int64_t total = 0;
  for (const auto& slice : model.slices) total += slice.bytes;
  if (total <= 0) {
    // Nothing stored yet: one grey ring, no categories to choose.
    auto* empty = series_->append(model.received ? T("nothingStored") : QStringLiteral("-"), 1);
    empty->setColor(palette().color(QPalette::Mid));
    empty->setBorderColor(palette().color(QPalette::Window));
  } else {
    for (size_t i = 0; i < model.slices.size(); ++i) {
      const UsageSlice& part = model.slices[i];
      QString label = QStringLiteral("%1  %2 %3").arg(Q(part.title), Q(part.number), Q(part.unit));
      auto* slice = series_->append(label, static_cast<qreal>(part.bytes));
      slice->setProperty("category", Q(part.category));
      slice->setColor(kSliceColors[i % std::size(kSliceColors)]);
      slice->setBorderColor(palette().color(QPalette::Window));
    }
  }
  applyPalette();
}

void UsagePieChart::applyPalette() {
  chart_->legend()->setLabelColor(palette().color(QPalette::WindowText));
  for (QPieSlice* slice : series_->slices()) slice->setBorderColor(palette().color(QPalette::Window));
}

void UsagePieChart::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::PaletteChange) showUsage(model_);
}

}  // namespace palvero::ui
