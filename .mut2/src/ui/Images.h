// The images of the application, drawn by us as SVG and compiled in
// (resources/images). Monochrome drawings are tinted with a palette colour so
// that they read in light and dark themes; coloured ones keep their colours.
//
// Thread contract: GUI thread only.
#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>
#include <cstdint>

namespace palvero::ui {

class Images {
 public:
  // ":/images/NAME.svg" rendered at `size` logical pixels for the screen's
  // scale; a null pixmap when there is no such drawing.
  static QPixmap pixmap(const QString& name, int size, qreal devicePixelRatio);
  // The drawing with every opaque pixel painted `color`.
  static QPixmap tinted(const QString& name, int size, qreal devicePixelRatio, const QColor& color);
  // An icon that renders the drawing sharply at any size.
  static QIcon icon(const QString& name);
  static QIcon tintedIcon(const QString& name, const QColor& color);
  // The drawing for a device type code of the service.
  static QString deviceImage(int32_t deviceType);
};

}  // namespace palvero::ui
