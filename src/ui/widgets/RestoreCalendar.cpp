#include "ui/widgets/RestoreCalendar.h"

#include <QEvent>
#include <QTextCharFormat>

namespace palvero::ui {

RestoreCalendar::RestoreCalendar(QSize minimumSize, QWidget* parent) : QCalendarWidget(parent) {
  setObjectName(QStringLiteral("restoreCalendar"));
  setGridVisible(false);
  setVerticalHeaderFormat(QCalendarWidget::NoVerticalHeader);
  setMaximumDate(QDate::currentDate());
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  setMinimumSize(minimumSize);
  colourWeekends();
}

void RestoreCalendar::changeEvent(QEvent* event) {
  QCalendarWidget::changeEvent(event);
  if (event->type() == QEvent::EnabledChange || event->type() == QEvent::PaletteChange) colourWeekends();
}

void RestoreCalendar::colourWeekends() {
  QTextCharFormat weekend;
  weekend.setForeground(palette().brush(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::Text));
  setWeekdayTextFormat(Qt::Saturday, weekend);
  setWeekdayTextFormat(Qt::Sunday, weekend);
}

}  // namespace palvero::ui
