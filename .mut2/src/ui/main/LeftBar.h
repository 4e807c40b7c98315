// The left bar of the main window: the logo, one entry per page (image and
// label; the chosen one highlighted, the others dimmed) and, at the bottom,
// the menu of the status item for desktops without a tray.
//
// Thread contract: GUI thread only.
#pragma once

#include <QFrame>
#include <vector>

class QButtonGroup;
class QMenu;
class QToolButton;

namespace palvero::ui {

class LeftBar : public QFrame {
  Q_OBJECT

 public:
  enum Page { kBackup = 0, kRestore = 1, kSettings = 2 };

  explicit LeftBar(QWidget* parent = nullptr);

  void setCurrentPage(int page);
  int currentPage() const { return current_; }
  QToolButton* entry(int page) const { return entries_.at(static_cast<size_t>(page)); }
  QToolButton* menuButton() const { return menuButton_; }
  // The entries of the menu button (Open is left out: the window is open).
  void setMenu(QMenu* menu);

 signals:
  void pageChosen(int page);

 protected:
  void changeEvent(QEvent* event) override;

 private:
  void paintEntries();

  std::vector<QToolButton*> entries_;
  QButtonGroup* group_;
  QToolButton* menuButton_;
  int current_ = kBackup;
};

}  // namespace palvero::ui
