#include "ui/widgets/FitLabel.h"

#include <QFontMetricsF>
#include <algorithm>

#include "ui/Fonts.h"

namespace palvero::ui {

FitLabel::FitLabel(QWidget* parent) : QLabel(parent) {
  // A fixed height keeps a font change from resizing the field it is fitted to.
  setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
  setFixedHeight(QFontMetrics(Fonts::system(kMaximumPoints)).height() + 12);
  setMinimumWidth(40);
}

int FitLabel::fittingPointSize(const QString& text, const QSize& field) {
  const qreal maxWidth = field.width() - 10;
  const qreal maxHeight = field.height() - 10;
  int points = 8;
  // Beyond the largest size shown there is nothing left to learn.
  for (; points <= kMaximumPoints + 1; ++points) {
    QFontMetricsF metrics(Fonts::condensedBold(points));
    QRectF bounds = metrics.boundingRect(text);
    if (bounds.width() > maxWidth || metrics.height() > maxHeight) break;
  }
  return std::clamp(points - 1, kMinimumPoints, kMaximumPoints);
}

void FitLabel::setFittedText(const QString& text) {
  setText(text);
  setToolTip(text);
  refit();
}

void FitLabel::resizeEvent(QResizeEvent* event) {
  QLabel::resizeEvent(event);
  refit();
}

void FitLabel::refit() {
  QFont wanted = Fonts::system(fittingPointSize(text(), size()));
  if (wanted != font()) setFont(wanted);
}

}  // namespace palvero::ui
