#include "ui/Images.h"

#include <QIconEngine>
#include <algorithm>
#include <QPainter>
#include <QSvgRenderer>

namespace palvero::ui {
namespace {

QString pathOf(const QString& name) { return QStringLiteral(":/images/%1.svg").arg(name); }

// Renders the SVG at the size asked for, so icons stay sharp at scale 2.
class SvgIconEngine : public QIconEngine {
 public:
  SvgIconEngine(QString name, QColor tint) : name_(std::move(name)), tint_(std::move(tint)) {}

  void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override {
    QSvgRenderer renderer(pathOf(name_));
    if (!renderer.isValid()) return;
    if (!tint_.isValid() && mode != QIcon::Disabled) {
      renderer.render(painter, QRectF(rect));
      return;
    }
    qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
    QColor color = tint_.isValid() ? tint_ : QColor(Qt::gray);
    if (mode == QIcon::Disabled) color.setAlphaF(0.4);
    painter->drawPixmap(rect, Images::tinted(name_, std::max(rect.width(), rect.height()), ratio, color));
  }
  QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
    QPixmap out(size);
    out.fill(Qt::transparent);
    QPainter painter(&out);
    paint(&painter, QRect(QPoint(0, 0), size), mode, state);
    return out;
  }
  QIconEngine* clone() const override { return new SvgIconEngine(name_, tint_); }

 private:
  QString name_;
  QColor tint_;
};

}  // namespace

QPixmap Images::pixmap(const QString& name, int size, qreal devicePixelRatio) {
  QSvgRenderer renderer(pathOf(name));
  if (!renderer.isValid()) return {};
  int pixels = qRound(size * devicePixelRatio);
  QPixmap out(pixels, pixels);
  out.fill(Qt::transparent);
  QPainter painter(&out);
  painter.setRenderHint(QPainter::Antialiasing);
  renderer.render(&painter, QRectF(0, 0, pixels, pixels));
  painter.end();
  out.setDevicePixelRatio(devicePixelRatio);
  return out;
}

QPixmap Images::tinted(const QString& name, int size, qreal devicePixelRatio, const QColor& color) {
  QPixmap out = pixmap(name, size, devicePixelRatio);
  if (out.isNull()) return out;
  QPainter painter(&out);
  painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
  painter.fillRect(out.rect(), color);
  return out;
}

QIcon Images::icon(const QString& name) { return QIcon(new SvgIconEngine(name, QColor())); }

QIcon Images::tintedIcon(const QString& name, const QColor& color) { return QIcon(new SvgIconEngine(name, color)); }

QString Images::deviceImage(int32_t deviceType) {
  switch (deviceType) {
    case 1:
    case 11:
    case 31:
      return QStringLiteral("device-desktop");
    case 2:
    case 12:
    case 21:
      return QStringLiteral("device-phone");
    case 0:
    case 3:
      return QStringLiteral("device-server");
    default:
      return QStringLiteral("device-unknown");
  }
}

}  // namespace palvero::ui
