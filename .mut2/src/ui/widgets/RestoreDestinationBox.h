// Where a restore writes: its original place or another folder (typed or
// chosen), and whether files already there are replaced. The wizard's
// restore page and the main window's restore page show the same controls
// under the same object names, so tests and users find them alike.
//
// Thread contract: GUI thread only.
#pragma once

class QCheckBox;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QWidget;

namespace palvero::ui {

struct RestoreDestinationBox {
  // Builds the group (a child of parent) and the replace box beside it;
  // "original place" and "replace" start checked.
  static RestoreDestinationBox make(QWidget* parent);

  QGroupBox* group;
  QRadioButton* original;
  QRadioButton* other;
  QLineEdit* destination;
  QPushButton* choose;
  QCheckBox* replace;
};

}  // namespace palvero::ui
