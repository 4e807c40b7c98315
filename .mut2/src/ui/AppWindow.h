// The one application window. It holds the first-run wizard until the
// hand-over and the main window after it (the wizard stays behind, unused).
// Closing it hides it: the process keeps running for the tray, and a second
// launch shows it again. Closing the wizard, which has nothing running
// behind it, asks to quit instead.
//
// Thread contract: GUI thread only.
#pragma once

#include <QWidget>
#include <functional>

class QStackedWidget;

namespace palvero::ui {

class MainWindow;

class AppWindow : public QWidget {
  Q_OBJECT

 public:
  explicit AppWindow(QWidget* parent = nullptr);

  MainWindow* mainWindow() const { return main_; }
  void showWizard(QWidget* wizard);
  void showMainWindow();
  bool showsMainWindow() const;
  // Shows, raises and activates the window (the menu's Open, a reopen request).
  void bringForward();
  // Called when the user closes the window while the wizard shows.
  void setOnWizardClosed(std::function<void()> handler) { onWizardClosed_ = std::move(handler); }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  QStackedWidget* stack_;
  MainWindow* main_;
  QWidget* wizard_ = nullptr;
  std::function<void()> onWizardClosed_;
};

}  // namespace palvero::ui
