// The pure red pixels of a widget as painted, top-left origin, row by row.
#pragma once

#include <QColor>
#include <QImage>
#include <QList>
#include <QPoint>
#include <QWidget>

namespace roamgrid::testing {

inline QList<QPoint> RedPixels(QWidget& widget) {
  const QImage image = widget.grab().toImage();
  QList<QPoint> red;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      if (image.pixelColor(x, y) == QColor(255, 0, 0)) red.append(QPoint(x, y));
    }
  }
  return red;
}

}  // namespace roamgrid::testing
