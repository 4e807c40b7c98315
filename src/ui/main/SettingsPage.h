// The settings page of the main window. Its controls come with the settings
// views; until then it says what the page is for.
//
// Thread contract: GUI thread only.
#pragma once

#include <QWidget>

namespace palvero::ui {

class SettingsPage : public QWidget {
  Q_OBJECT

 public:
  explicit SettingsPage(QWidget* parent = nullptr);
};

}  // namespace palvero::ui
