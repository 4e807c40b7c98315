#include "ui/Fonts.h"

#include <QApplication>
#include <QFontDatabase>

namespace palvero::ui {

bool Fonts::hasCondensed() {
  static const bool has = QFontDatabase::families().contains(QString::fromLatin1(kCondensedFamily));
  return has;
}

QFont Fonts::condensedBold(qreal pointSize) {
  QFont font = hasCondensed() ? QFont(QString::fromLatin1(kCondensedFamily)) : QApplication::font();
  font.setBold(true);
  font.setPointSizeF(pointSize);
  return font;
}

QFont Fonts::system(qreal pointSize, bool bold) {
  QFont font = QApplication::font();
  font.setPointSizeF(pointSize);
  font.setBold(bold);
  return font;
}

}  // namespace palvero::ui
