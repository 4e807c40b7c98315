// The day picker of the restore pages: up to today, no week numbers, a
// fixed size, and weekends drawn like the other days in the colour of the
// picker's state (the default red is hard to read on dark themes, and a
// colour fixed once would stay dark while the picker is disabled).
//
// Thread contract: GUI thread only.
#pragma once

#include <QCalendarWidget>

namespace palvero::ui {

class RestoreCalendar : public QCalendarWidget {
  Q_OBJECT

 public:
  RestoreCalendar(QSize minimumSize, QWidget* parent);

 protected:
  void changeEvent(QEvent* event) override;

 private:
  void colourWeekends();
};

}  // namespace palvero::ui
