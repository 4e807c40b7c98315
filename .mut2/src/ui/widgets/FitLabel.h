// A label that must fit a fixed field: its font size is chosen from the
// text and the field (measured in the condensed bold face at 8, 9, ...
// points; the last size that still fits 10 points inside the field becomes
// the system font's size, 7 to 15 points). The whole text shows on hover.
//
// Thread contract: GUI thread only.
#pragma once

#include <QLabel>

namespace palvero::ui {

class FitLabel : public QLabel {
  Q_OBJECT

 public:
  static constexpr int kMinimumPoints = 7;
  static constexpr int kMaximumPoints = 15;

  explicit FitLabel(QWidget* parent = nullptr);

  void setFittedText(const QString& text);
  // The system font size for `text` in a field of `field` logical pixels.
  static int fittingPointSize(const QString& text, const QSize& field);

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void refit();
};

}  // namespace palvero::ui
