#include "app/view_child.h"

#include <QImage>
#include <QPainter>

#include "view/view_state.h"

namespace roamgrid {
namespace {

// Byte 0 is white; every other byte value is marked and pure red.
QList<QRgb> RasterColours() {
  QList<QRgb> colours(256, qRgb(255, 0, 0));
  colours[0] = qRgb(255, 255, 255);
  return colours;
}

}  // namespace

ViewChild::ViewChild(QWidget* parent)
    : QFrame(parent), raster_(std::make_unique<uint8_t[]>(kRasterSize)) {
  setObjectName(QStringLiteral("ChildWnd"));
  setFrameStyle(QFrame::Box | QFrame::Plain);
  setLineWidth(1);
  // The raster covers what is drawn; no system background beneath it.
  setAutoFillBackground(false);
}

ViewChild::~ViewChild() = default;

void ViewChild::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  const QRect client = contentsRect();
  painter.fillRect(client, Qt::white);
  // The raster's bytes used directly as colour indices; image row 0 is the
  // top, so the rows are flipped to put raster row 0 (south) at the bottom.
  QImage image(raster_.get(), kRasterSide, kRasterSide, kRasterSide, QImage::Format_Indexed8);
  static const QList<QRgb> colours = RasterColours();
  image.setColorTable(colours);
  painter.setClipRect(client);
  painter.drawImage(client.topLeft(), image.mirrored(false, true));
  painter.end();
  QFrame::paintEvent(event);  // the border
}

}  // namespace roamgrid
