// The restore page of the main window. Its controls come with the restore
// views; until then it says what the page is for.
//
// Thread contract: GUI thread only.
#pragma once

#include <QWidget>

namespace palvero::ui {

class RestorePage : public QWidget {
  Q_OBJECT

 public:
  explicit RestorePage(QWidget* parent = nullptr);
};

}  // namespace palvero::ui
