#include "ui/StatusItem.h"

#include <QApplication>
#include <QMenu>
#include <QSystemTrayIcon>

#include <string>

#include "ui/Images.h"
#include "ui/Text.h"

namespace palvero::ui {

StatusItem::StatusItem(Actions actions, QObject* parent) : QObject(parent), actions_(std::move(actions)) {
  menu_ = new QMenu();
  menu_->setObjectName(QStringLiteral("statusBarMenu"));
  fillMenu(menu_, actions_, true);
  tray_ = new QSystemTrayIcon(Images::icon(QStringLiteral("logo")), this);
  tray_->setObjectName(QStringLiteral("statusItem"));
  tray_->setToolTip(QStringLiteral("Palvero"));
  tray_->setContextMenu(menu_);
  connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::Trigger && actions_.openApp) actions_.openApp();
  });
}

StatusItem::~StatusItem() { delete menu_; }

bool StatusItem::show() {
  if (!QSystemTrayIcon::isSystemTrayAvailable()) return false;
  tray_->show();
  return true;
}

void StatusItem::fillMenu(QMenu* menu, const Actions& actions, bool withOpen) {
  struct Entry {
    const char* key;
    const char* name;
    std::function<void()> run;
  };
  const Entry entries[] = {{"Open", "openApp", actions.openApp},
                           {"Help", "helpButton", actions.openHelp},
                           {"Logout", "removeSettings", actions.logout},
                           {"Quit", "closeApp", actions.closeApp}};
  for (const Entry& entry : entries) {
    if (!withOpen && std::string(entry.name) == "openApp") continue;
    QAction* action = menu->addAction(T(entry.key));
    action->setObjectName(QString::fromLatin1(entry.name));
    // Queued: the handler may ask a question or end the process, which a
    // menu still closing must not be inside of.
    std::function<void()> run = entry.run;
    QObject::connect(action, &QAction::triggered, menu, [run] {
      if (run) QMetaObject::invokeMethod(qApp, run, Qt::QueuedConnection);
    }, Qt::DirectConnection);
  }
}

}  // namespace palvero::ui
