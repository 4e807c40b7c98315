#include "ui/Alerts.h"

#include <QPushButton>

#include "ui/Text.h"

namespace palvero::ui {
namespace {

QMessageBox* makeBox(QWidget* parent, const QString& title, const QString& text, QMessageBox::Icon icon) {
  auto* box = new QMessageBox(parent);
  box->setObjectName(QString::fromLatin1(Alerts::kObjectName));
  box->setIcon(icon);
  box->setWindowTitle(QStringLiteral("Palvero"));
  box->setText(title);
  box->setInformativeText(text);
  box->setAttribute(Qt::WA_DeleteOnClose);
  // A sentence on one or two lines rather than a narrow column.
  box->setStyleSheet(QStringLiteral("QLabel#qt_msgbox_label, QLabel#qt_msgbox_informativelabel { min-width: 300px; }"));
  return box;
}

}  // namespace

QMessageBox* Alerts::inform(QWidget* parent, const QString& title, const QString& text, QMessageBox::Icon icon) {
  QMessageBox* box = makeBox(parent, title, text, icon);
  QPushButton* ok = box->addButton(T("ok"), QMessageBox::AcceptRole);
  ok->setObjectName(QStringLiteral("okButton"));
  box->setDefaultButton(ok);
  box->open();
  return box;
}

QMessageBox* Alerts::confirm(QWidget* parent, const QString& title, const QString& text,
                             std::function<void(bool)> answer) {
  QMessageBox* box = makeBox(parent, title, text, QMessageBox::Warning);
  QPushButton* ok = box->addButton(T("ok"), QMessageBox::AcceptRole);
  ok->setObjectName(QStringLiteral("okButton"));
  QPushButton* cancel = box->addButton(T("cancel"), QMessageBox::RejectRole);
  cancel->setObjectName(QStringLiteral("cancelButton"));
  box->setDefaultButton(ok);
  box->setEscapeButton(cancel);
  QObject::connect(box, &QMessageBox::finished, box, [box, ok, answer] {
    if (answer) answer(box->clickedButton() == ok);
  });
  box->open();
  return box;
}

bool Alerts::confirmNow(QWidget* parent, const QString& title, const QString& text) {
  QMessageBox box(parent);
  box.setObjectName(QString::fromLatin1(kObjectName));
  box.setIcon(QMessageBox::Warning);
  box.setWindowTitle(QStringLiteral("Palvero"));
  box.setText(title);
  box.setInformativeText(text);
  box.setStyleSheet(QStringLiteral("QLabel#qt_msgbox_label, QLabel#qt_msgbox_informativelabel { min-width: 300px; }"));
  QPushButton* ok = box.addButton(T("ok"), QMessageBox::AcceptRole);
  QPushButton* cancel = box.addButton(T("cancel"), QMessageBox::RejectRole);
  box.setDefaultButton(ok);
  box.setEscapeButton(cancel);
  box.exec();
  return box.clickedButton() == ok;
}

}  // namespace palvero::ui
