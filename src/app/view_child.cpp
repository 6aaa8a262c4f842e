#include "app/view_child.h"

#include <QImage>
#include <QPainter>

#include "app/tile_layer.h"
#include "view/view_state.h"

namespace roamgrid {
namespace {

// Byte 0 is white; every other byte value is marked and pure red.
QList<QRgb> RasterColours() {
  QList<QRgb> colours(256, qRgb(255, 0, 0));
  colours[0] = qRgb(255, 255, 255);
  return colours;
}

// Over a background byte 0 lets it show through.
QList<QRgb> MarkColours() {
  QList<QRgb> colours(256, qRgb(255, 0, 0));
  colours[0] = qRgba(0, 0, 0, 0);
  return colours;
}

constexpr int kScaleBarMargin = 6;         // from the view's left and bottom edges
constexpr int kScaleBarTick = 4;           // height of the end ticks
const QColor kScaleBarColour(80, 80, 90);  // dark grey: never taken for a mark

}  // namespace

ViewChild::ViewChild(QWidget* parent)
    : QFrame(parent),
      raster_(std::make_unique<uint8_t[]>(kRasterSize)),
      background_(kRasterSide, kRasterSide) {
  setObjectName(QStringLiteral("ChildWnd"));
  setFrameStyle(QFrame::Box | QFrame::Plain);
  setLineWidth(1);
  // The raster covers what is drawn; no system background beneath it.
  setAutoFillBackground(false);
}

ViewChild::~ViewChild() = default;

void ViewChild::SetBackground(BackgroundPainter painter) {
  painter_ = std::move(painter);
  InvalidateBackground();
}

void ViewChild::InvalidateBackground() {
  backgroundStale_ = true;
  update();
}

void ViewChild::SetTileLayer(const TileLayer* layer) {
  tiles_ = layer;
  update();
}

void ViewChild::paintEvent(QPaintEvent* event) {
  // Tiles that cover the whole view hide the coast lines: they are drawn
  // only when a view needs them.
  const bool tilesCover = tiles_ && tiles_->covers();
  if (painter_ && backgroundStale_ && !tilesCover) {
    background_.Fill(kWhite);
    backgroundDrawn_ = painter_(background_);
    backgroundStale_ = false;
  }
  QPainter painter(this);
  const QRect client = contentsRect();
  painter.fillRect(client, Qt::white);
  painter.setClipRect(client);
  // The raster's bytes used directly as colour indices; image row 0 is the
  // top, so the rows are flipped to put raster row 0 (south) at the bottom.
  QImage marks(raster_.get(), kRasterSide, kRasterSide, kRasterSide, QImage::Format_Indexed8);
  if (backgroundShown() || tiles_) {
    if (backgroundShown() && !tilesCover) {
      const QImage background(background_.bytes.data(), background_.width, background_.height,
                              background_.width * 3, QImage::Format_RGB888);
      painter.drawImage(client.topLeft(), background);
    }
    // Tiles over the coast lines, which show where a tile is missing.
    if (tiles_ && !tiles_->image().isNull()) painter.drawImage(client.topLeft(), tiles_->image());
    PaintScaleBar(painter, client.topLeft());
    static const QList<QRgb> markColours = MarkColours();
    marks.setColorTable(markColours);
  } else {
    static const QList<QRgb> colours = RasterColours();
    marks.setColorTable(colours);
  }
  painter.drawImage(client.topLeft(), marks.mirrored(false, true));
  if (tiles_) tiles_->PaintNotes(painter, QRect(client.topLeft(), QSize(kRasterSide, kRasterSide)));
  painter.end();
  QFrame::paintEvent(event);  // the border
}

void ViewChild::PaintScaleBar(QPainter& painter, QPoint topLeft) const {
  if (scaleBar_.pixels <= 0) return;
  const int left = topLeft.x() + kScaleBarMargin;
  const int bottom = topLeft.y() + kRasterSide - 1 - kScaleBarMargin;
  const int right = left + scaleBar_.pixels;
  painter.save();
  painter.setPen(QPen(kScaleBarColour, 1));
  painter.drawLine(left, bottom, right, bottom);
  painter.drawLine(left, bottom, left, bottom - kScaleBarTick);
  painter.drawLine(right, bottom, right, bottom - kScaleBarTick);
  QFont small = font();
  small.setPixelSize(10);
  painter.setFont(small);
  painter.drawText(QPoint(left + 5, bottom - 3), QString::fromStdString(scaleBar_.text));
  painter.restore();
}

}  // namespace roamgrid
