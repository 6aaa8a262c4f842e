// The map view window: a bordered child window of the main dialog that owns
// the view raster and paints it, one window pixel per raster pixel from the
// top-left corner inside the border, the view's south edge at the bottom.
// Without a background it is white with every marked pixel pure red; with
// one it paints the background layers, the scale bar and the tiles'
// attribution, then the marks over all of them, so a marked pixel is the
// same red either way.
#pragma once

#include <QFrame>
#include <cstdint>
#include <functional>
#include <memory>

#include "geo/map_scale.h"
#include "geo/rgb_image.h"

namespace roamgrid {

class TileLayer;

class ViewChild : public QFrame {
 public:
  // Draws the background layers into a white 448 x 448 picture, row 0 at
  // the north; returns false when there is nothing to draw it from (no data
  // installed), true also for a view where no line falls.
  using BackgroundPainter = std::function<bool(RgbImage&)>;

  // Allocates the raster (kRasterSize bytes, all unmarked); the window is
  // placed and shown by the dialog.
  explicit ViewChild(QWidget* parent = nullptr);
  ~ViewChild() override;

  // The 448 x 448 raster (row-major, row 0 at the south edge): filled by the
  // raster builder, read by the painter and the exporter.
  uint8_t* raster() { return raster_.get(); }
  const uint8_t* raster() const { return raster_.get(); }

  // Sets the background (an empty painter: none, today's red-on-white view)
  // and repaints. The painter runs at the next paint, never before, and
  // again only after InvalidateBackground.
  void SetBackground(BackgroundPainter painter);
  // The view moved: the background is drawn afresh at the next paint.
  void InvalidateBackground();
  // The scale bar shown in the bottom-left corner, dark on a light halo,
  // whenever a background is shown (coast lines in view or not) or tiles.
  void SetScaleBar(ScaleBar bar) { scaleBar_ = std::move(bar); }
  bool backgroundShown() const { return painter_ && backgroundDrawn_; }
  // The map tile layer, painted over the background and under the marks,
  // with its attribution and status over all (null: no tiles). Not owned;
  // the caller repaints when the layer's picture changes.
  void SetTileLayer(const TileLayer* layer);

  // The 448 x 448 picture of the view exactly as the window shows it inside
  // its border: background, tiles, scale bar, attribution and marks. Draws
  // a stale background first, as a paint would.
  QImage Picture();

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void PaintScaleBar(QPainter& painter) const;

  std::unique_ptr<uint8_t[]> raster_;
  BackgroundPainter painter_;
  RgbImage background_;
  bool backgroundStale_ = true;
  bool backgroundDrawn_ = false;
  ScaleBar scaleBar_;
  const TileLayer* tiles_ = nullptr;
};

}  // namespace roamgrid
