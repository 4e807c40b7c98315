// The application's alerts: window-modal message boxes that do not block the
// caller (the core's timers keep running behind them), with the buttons'
// texts from the localisation table.
//
// Thread contract: GUI thread only.
#pragma once

#include <QMessageBox>
#include <QString>
#include <functional>

namespace palvero::ui {

class Alerts {
 public:
  static constexpr const char* kObjectName = "alert";

  // One "ok" button.
  static QMessageBox* inform(QWidget* parent, const QString& title, const QString& text,
                             QMessageBox::Icon icon = QMessageBox::Information);
  // A warning with "ok" first and "cancel" second; `answer(true)` for ok.
  static QMessageBox* confirm(QWidget* parent, const QString& title, const QString& text,
                              std::function<void(bool)> answer);
  // The same question, waiting for the answer (quit, where the caller
  // cannot go on without it).
  static bool confirmNow(QWidget* parent, const QString& title, const QString& text);
};

}  // namespace palvero::ui
