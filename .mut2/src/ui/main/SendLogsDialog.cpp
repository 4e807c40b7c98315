#include "ui/main/SendLogsDialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/Text.h"

namespace palvero::ui {

SendLogsDialog::SendLogsDialog(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("sendLogsDialog"));
  setWindowTitle(T("sendLogs"));
  auto* layout = new QVBoxLayout(this);
  auto* info = new QLabel(T("sendLogsInfo"), this);
  info->setWordWrap(true);
  layout->addWidget(info);
  message_ = new QPlainTextEdit(this);
  message_->setObjectName(QStringLiteral("sendLogsMessage"));
  message_->setAccessibleName(T("sendLogsInfo"));
  message_->setTabChangesFocus(true);
  layout->addWidget(message_, 1);
  auto* buttons = new QDialogButtonBox(this);
  send_ = buttons->addButton(T("sendButton"), QDialogButtonBox::AcceptRole);
  send_->setObjectName(QStringLiteral("sendLogsButton"));
  send_->setDefault(true);
  QPushButton* cancel = buttons->addButton(T("cancel"), QDialogButtonBox::RejectRole);
  cancel->setObjectName(QStringLiteral("sendLogsCancelButton"));
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(send_, &QPushButton::clicked, this, [this] {
    emit sendRequested(message_->toPlainText());
    accept();
  });
  resize(480, 300);
}

}  // namespace palvero::ui
