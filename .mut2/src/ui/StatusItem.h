// The status item: our logo in the desktop's tray with the menu Open, Help,
// Logout, Quit. The same entries (less Open) are offered in the window for
// desktops without a tray.
//
// Thread contract: GUI thread only.
#pragma once

#include <QObject>
#include <functional>

class QMenu;
class QSystemTrayIcon;

namespace palvero::ui {

class StatusItem : public QObject {
  Q_OBJECT

 public:
  struct Actions {
    std::function<void()> openApp;
    std::function<void()> openHelp;
    std::function<void()> logout;
    std::function<void()> closeApp;
  };

  StatusItem(Actions actions, QObject* parent = nullptr);
  ~StatusItem() override;

  // Shows the icon when the desktop has a tray; false when it has none.
  bool show();
  QMenu* menu() const { return menu_; }
  QSystemTrayIcon* trayIcon() const { return tray_; }

  // Fills `menu` with the entries, in their order; Open only when asked.
  static void fillMenu(QMenu* menu, const Actions& actions, bool withOpen);

 private:
  Actions actions_;
  QMenu* menu_;
  QSystemTrayIcon* tray_;
};

}  // namespace palvero::ui
