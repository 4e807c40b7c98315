#include "ui/AppWindow.h"

#include <QCloseEvent>
#include <QStackedWidget>
#include <QVBoxLayout>

#include "ui/Images.h"
#include "ui/main/MainWindow.h"

namespace palvero::ui {

AppWindow::AppWindow(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("window"));
  setWindowTitle(QStringLiteral("Palvero"));
  setWindowIcon(Images::icon(QStringLiteral("logo")));
  stack_ = new QStackedWidget(this);
  main_ = new MainWindow(stack_);
  stack_->addWidget(main_);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(stack_);
  resize(900, 640);
  setMinimumSize(760, 560);
}

void AppWindow::showWizard(QWidget* wizard) {
  if (wizard_ != wizard) {
    wizard_ = wizard;
    stack_->addWidget(wizard);
  }
  stack_->setCurrentWidget(wizard);
}

void AppWindow::showMainWindow() { stack_->setCurrentWidget(main_); }

bool AppWindow::showsMainWindow() const { return stack_->currentWidget() == main_; }

void AppWindow::bringForward() {
  if (isMinimized()) setWindowState(windowState() & ~Qt::WindowMinimized);
  show();
  raise();
  activateWindow();
}

void AppWindow::closeEvent(QCloseEvent* event) {
  if (!showsMainWindow() && onWizardClosed_) {
    event->ignore();
    onWizardClosed_();
    return;
  }
  event->ignore();
  hide();
}

}  // namespace palvero::ui
