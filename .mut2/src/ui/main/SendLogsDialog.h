// The send-logs dialog: a message for support and Send / Cancel.
//
// Thread contract: GUI thread only.
#pragma once

#include <QDialog>

class QPlainTextEdit;
class QPushButton;

namespace palvero::ui {

class SendLogsDialog : public QDialog {
  Q_OBJECT

 public:
  explicit SendLogsDialog(QWidget* parent = nullptr);

  QPlainTextEdit* message() const { return message_; }
  QPushButton* sendButton() const { return send_; }

 signals:
  void sendRequested(const QString& message);

 private:
  QPlainTextEdit* message_;
  QPushButton* send_;
};

}  // namespace palvero::ui
