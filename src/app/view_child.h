// The map view window: a bordered child window of the main dialog that owns
// the view raster and paints it, white with every marked pixel pure red,
// the view's south edge at the bottom, one window pixel per raster pixel
// from the top-left corner inside the border.
#pragma once

#include <QFrame>
#include <cstdint>
#include <memory>

namespace roamgrid {

class ViewChild : public QFrame {
 public:
  // Allocates the raster (kRasterSize bytes, all unmarked); the window is
  // placed and shown by the dialog.
  explicit ViewChild(QWidget* parent = nullptr);
  ~ViewChild() override;

  // The 448 x 448 raster (row-major, row 0 at the south edge): filled by the
  // raster builder, read by the painter and the exporter.
  uint8_t* raster() { return raster_.get(); }
  const uint8_t* raster() const { return raster_.get(); }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::unique_ptr<uint8_t[]> raster_;
};

}  // namespace roamgrid
