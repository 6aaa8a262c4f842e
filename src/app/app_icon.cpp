#include "app/app_icon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

namespace roamgrid {

QImage DrawAppIconImage(int side) {
  QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing, side >= 32);
  // Drawn on a 48-unit grid and scaled, so the three sizes show one picture.
  painter.scale(side / 48.0, side / 48.0);
  const qreal outline = side >= 32 ? 1.5 : 2.5;

  // Dotted yellow line from the cube down to the right.
  QPen dots(QColor(255, 214, 0), side >= 32 ? 3.0 : 4.0, Qt::DotLine, Qt::RoundCap);
  painter.setPen(dots);
  painter.drawLine(QPointF(14, 15), QPointF(38, 36));

  // Red track lines crossing near the bottom.
  QPen track(QColor(220, 0, 0), side >= 32 ? 2.5 : 4.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
  painter.setPen(track);
  painter.setBrush(Qt::NoBrush);
  QPainterPath first;
  first.moveTo(4, 44);
  first.cubicTo(16, 34, 30, 46, 45, 34);
  painter.drawPath(first);
  QPainterPath second;
  second.moveTo(12, 32);
  second.cubicTo(20, 42, 28, 40, 34, 47);
  painter.drawPath(second);

  // Grey cube at the upper left: front, top and side faces outlined black.
  painter.setPen(QPen(Qt::black, outline, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
  const QPolygonF front({{3, 9}, {15, 9}, {15, 21}, {3, 21}});
  const QPolygonF top({{3, 9}, {9, 3}, {21, 3}, {15, 9}});
  const QPolygonF right({{15, 9}, {21, 3}, {21, 15}, {15, 21}});
  painter.setBrush(QColor(160, 160, 160));
  painter.drawPolygon(front);
  painter.setBrush(QColor(200, 200, 200));
  painter.drawPolygon(top);
  painter.setBrush(QColor(120, 120, 120));
  painter.drawPolygon(right);
  painter.end();
  return image;
}

QPixmap DrawAppIconPixmap(int side) { return QPixmap::fromImage(DrawAppIconImage(side)); }

QIcon MakeAppIcon() {
  QIcon icon;
  for (int side : {16, 32, 48}) icon.addPixmap(DrawAppIconPixmap(side));
  return icon;
}

}  // namespace roamgrid
