#include "app/view_child.h"

#include <QImage>
#include <QPainter>
#include <QPainterPath>

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
const QColor kScaleBarHalo(255, 255, 255, 210);

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

QImage ViewChild::Picture() {
  // Tiles that cover the whole view hide the coast lines: they are drawn
  // only when a view needs them.
  const bool tilesCover = tiles_ && tiles_->covers();
  if (painter_ && backgroundStale_ && !tilesCover) {
    background_.Fill(kWhite);
    backgroundDrawn_ = painter_(background_);
    backgroundStale_ = false;
  }
  QImage picture(kRasterSide, kRasterSide, QImage::Format_RGB32);
  picture.fill(Qt::white);
  QPainter painter(&picture);
  painter.setFont(font());
  // The raster's bytes used directly as colour indices; image row 0 is the
  // top, so the rows are flipped to put raster row 0 (south) at the bottom.
  QImage marks(raster_.get(), kRasterSide, kRasterSide, kRasterSide, QImage::Format_Indexed8);
  // The scale bar comes with any background, lines in view or not.
  if (backgroundShown() || tiles_) {
    if (backgroundShown() && !tilesCover) {
      const QImage background(background_.bytes.data(), background_.width, background_.height,
                              background_.width * 3, QImage::Format_RGB888);
      painter.drawImage(0, 0, background);
    }
    // Tiles over the coast lines, which show where a tile is missing.
    if (tiles_ && !tiles_->image().isNull()) painter.drawImage(0, 0, tiles_->image());
    PaintScaleBar(painter);
    if (tiles_) tiles_->PaintNotes(painter, picture.rect());
    static const QList<QRgb> markColours = MarkColours();
    marks.setColorTable(markColours);
  } else {
    static const QList<QRgb> colours = RasterColours();
    marks.setColorTable(colours);
  }
  // The marks last: no box, bar or text ever tints a visited pixel.
  painter.drawImage(0, 0, marks.mirrored(false, true));
  painter.end();
  return picture;
}

void ViewChild::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  const QRect client = contentsRect();
  // Beyond the 448 x 448 picture the client area stays white.
  painter.fillRect(client, Qt::white);
  painter.setClipRect(client);
  painter.drawImage(client.topLeft(), Picture());
  painter.end();
  QFrame::paintEvent(event);  // the border
}

void ViewChild::PaintScaleBar(QPainter& painter) const {
  if (scaleBar_.pixels <= 0) return;
  const int left = kScaleBarMargin;
  const int bottom = kRasterSide - 1 - kScaleBarMargin;
  const int right = left + scaleBar_.pixels;
  QPainterPath bar;
  bar.moveTo(left, bottom - kScaleBarTick);
  bar.lineTo(left, bottom);
  bar.lineTo(right, bottom);
  bar.lineTo(right, bottom - kScaleBarTick);
  QFont small = painter.font();
  small.setPixelSize(11);
  QPainterPath text;
  text.addText(QPointF(left + 5, bottom - 3), small, QString::fromStdString(scaleBar_.text));
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing, false);
  // A light halo keeps the dark bar and its text readable on dark tiles
  // and on any line beneath.
  painter.strokePath(bar, QPen(kScaleBarHalo, 3, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
  painter.setRenderHint(QPainter::Antialiasing, true);
  painter.strokePath(text, QPen(kScaleBarHalo, 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  painter.fillPath(text, kScaleBarColour);
  // A thin outline of the same colour thickens the small glyphs inside
  // their halo.
  painter.strokePath(text, QPen(kScaleBarColour, 0.6));
  painter.setRenderHint(QPainter::Antialiasing, false);
  painter.strokePath(bar, QPen(kScaleBarColour, 1, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
  painter.restore();
}

}  // namespace roamgrid
