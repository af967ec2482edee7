#include "ui/qt/AppIcon.h"

#include <QColor>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <cmath>

namespace kv5 {

QPixmap DrawAppIcon(int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  const double s = size;

  // A dark blue tile.
  QLinearGradient tile(0, 0, 0, s);
  tile.setColorAt(0, QColor(0x2B, 0x5C, 0x9E));
  tile.setColorAt(1, QColor(0x14, 0x2F, 0x5A));
  painter.setPen(Qt::NoPen);
  painter.setBrush(tile);
  painter.drawRoundedRect(QRectF(0.5, 0.5, s - 1, s - 1), s * 0.18, s * 0.18);

  // The socket: a ring with five pins on an arc and the key notch at the bottom.
  const QPointF centre(s * 0.5, s * 0.56);
  const double ring = s * 0.32;
  painter.setPen(QPen(QColor(0xF2, 0xF2, 0xF2), std::max(1.0, s * 0.07)));
  painter.setBrush(Qt::NoBrush);
  painter.drawEllipse(centre, ring, ring);
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(0xF2, 0xF2, 0xF2));
  const double pin = std::max(0.8, s * 0.045);
  for (int i = 0; i < 5; ++i) {
    const double angle = (180.0 + 45.0 * i) * M_PI / 180.0;
    const QPointF at(centre.x() + std::cos(angle) * ring * 0.62,
                     centre.y() + std::sin(angle) * ring * 0.62);
    painter.drawEllipse(at, pin, pin);
  }
  painter.drawRect(QRectF(centre.x() - s * 0.04, centre.y() + ring * 0.55, s * 0.08, ring * 0.4));

  // The update arrow, pointing down into the socket; too fine for the smallest size.
  if (size >= 32) {
    QPolygonF arrow;
    const double w = s * 0.13;
    const double top = s * 0.06;
    const double x = s * 0.5;
    arrow << QPointF(x - w * 0.45, top) << QPointF(x + w * 0.45, top)
          << QPointF(x + w * 0.45, top + s * 0.13) << QPointF(x + w, top + s * 0.13)
          << QPointF(x, top + s * 0.26) << QPointF(x - w, top + s * 0.13)
          << QPointF(x - w * 0.45, top + s * 0.13);
    painter.setBrush(QColor(0xFF, 0xA5, 0x1F));
    painter.drawPolygon(arrow);
  }
  return pixmap;
}

QIcon AppIcon() {
  QIcon icon;
  for (int size : {48, 32, 16}) icon.addPixmap(DrawAppIcon(size));
  return icon;
}

}  // namespace kv5
