#include "geo/coast_background.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <optional>

#include "tiles/grid_units.h"
#include "view/view_state.h"

namespace roamgrid {
namespace {

// The sphere of Web Mercator, for the ground size of a pixel.
constexpr double kEarthRadiusMetres = 6378137.0;
// Below this many metres a pixel, rivers of the lesser permanent levels
// are drawn too: about the main view's closest four zooms. From this many
// up (continents and the world) only the major rivers.
constexpr double kCloseMetresPerPixel = 60.0;
constexpr double kWideMetresPerPixel = 5000.0;
// Images larger than this on a side are not drawn (no screen is), nor
// Mercator views showing the world more often than this side by side.
constexpr int kMaxImageSide = 1 << 14;
constexpr double kMaxWorldsAcross = 16;

// How a view places longitudes and latitudes on its pixels: columns are
// linear in longitude; rows follow latitude through the plate carrée's
// linear map (the main view) or Web Mercator's. Pixel (c, r) covers
// [c, c + 1) x [r, r + 1); row 0 is the top (north).
class ViewGeometry {
 public:
  // The main view: `westDeg` and `northDeg` at the top-left corner,
  // `spanDeg` across and down.
  static ViewGeometry PlateCarree(int width, int height, double westDeg, double northDeg,
                                  double spanDeg) {
    ViewGeometry g(width, height, westDeg, spanDeg / width);
    g.northDeg_ = northDeg;
    g.rowsPerDeg_ = height / spanDeg;
    for (int row = 0; row < height; ++row) {
      g.rowLatDeg_[size_t(row)] = northDeg - (row + 0.5) / g.rowsPerDeg_;
    }
    return g;
  }

  static ViewGeometry Mercator(const MercatorView& view) {
    ViewGeometry g(view.width, view.height, LongitudeOfWorldX(view.WorldX(0)),
                   360.0 / view.Scale());
    g.mercator_ = view;
    g.isMercator_ = true;
    g.endRow_ = 0;
    for (int row = 0; row < view.height; ++row) {
      const double worldY = view.WorldY(row + 0.5);
      // Rows north and south of the Mercator square show no latitude.
      if (worldY < 0.0) g.firstRow_ = row + 1;
      if (worldY <= 1.0) g.endRow_ = row + 1;
      g.rowLatDeg_[size_t(row)] = LatitudeOfWorldY(std::clamp(worldY, 0.0, 1.0));
    }
    g.endRow_ = std::max(g.endRow_, g.firstRow_);
    // Rows of the latitudes the view shows, every quarter of a pixel's
    // height: read between two entries, a point's row is off by far less
    // than a thousandth of a pixel, and costs no tangent.
    const double north = LatitudeOfWorldY(std::clamp(view.WorldY(0), 0.0, 1.0));
    const double south = LatitudeOfWorldY(std::clamp(view.WorldY(view.height), 0.0, 1.0));
    if (south < north) {
      const size_t entries = size_t(view.height) * kTableEntriesPerRow + 1;
      g.tableSouthDeg_ = south;
      g.tableStepDeg_ = (north - south) / double(entries - 1);
      g.tableY_.resize(entries);
      for (size_t at = 0; at < entries; ++at) {
        g.tableY_[at] = view.ScreenY(MercatorWorldY(south + double(at) * g.tableStepDeg_));
      }
    }
    return g;
  }

  int width() const { return width_; }
  int height() const { return height_; }
  double westDeg() const { return westDeg_; }
  double eastDeg() const { return westDeg_ + width_ * degPerColumn_; }
  double degPerColumn() const { return degPerColumn_; }
  // Latitude of the centre of each row, north to south.
  const std::vector<double>& rowLatDeg() const { return rowLatDeg_; }
  // The rows that show a latitude: Mercator rows north and south of the
  // square show none.
  int firstRow() const { return firstRow_; }
  int endRow() const { return endRow_; }
  // Pixel coordinates of a longitude (unwrapped: the view's own) and of a
  // latitude.
  double X(double lonDeg) const { return (lonDeg - westDeg_) / degPerColumn_; }
  double Y(double latDeg) const {
    if (!isMercator_) return (northDeg_ - latDeg) * rowsPerDeg_;
    const double at = (latDeg - tableSouthDeg_) / tableStepDeg_;
    if (at >= 0.0 && at < double(tableY_.size()) - 1.0) {
      const size_t below = size_t(at);
      const double part = at - double(below);
      return tableY_[below] + part * (tableY_[below + 1] - tableY_[below]);
    }
    return mercator_.ScreenY(MercatorWorldY(latDeg));
  }

 private:
  ViewGeometry(int width, int height, double westDeg, double degPerColumn)
      : width_(width),
        height_(height),
        westDeg_(westDeg),
        degPerColumn_(degPerColumn),
        rowLatDeg_(size_t(height)),
        endRow_(height) {}

  int width_;
  int height_;
  double westDeg_;
  double degPerColumn_;
  std::vector<double> rowLatDeg_;
  int firstRow_ = 0;
  int endRow_;
  bool isMercator_ = false;
  MercatorView mercator_;
  // Mercator rows of latitudes from tableSouthDeg_ in steps of tableStepDeg_.
  static constexpr size_t kTableEntriesPerRow = 4;
  std::vector<double> tableY_;
  double tableSouthDeg_ = 0;
  double tableStepDeg_ = 1;
  double northDeg_ = 0;
  double rowsPerDeg_ = 0;
};

// The longitude pieces of a view, each within one turn of the globe
// (-180 + 360 k to 180 + 360 k), so that a view wider than the world
// shows it again and each piece can be asked of GshhgStore::Bins.
std::vector<std::pair<double, double>> LongitudePieces(double westDeg, double eastDeg) {
  std::vector<std::pair<double, double>> pieces;
  if (!(westDeg < eastDeg) || !std::isfinite(westDeg) || !std::isfinite(eastDeg)) return pieces;
  const double firstTurn = std::floor((westDeg + 180.0) / 360.0);
  const double lastTurn = std::floor((eastDeg + 180.0) / 360.0);
  for (double turn = firstTurn; turn <= lastTurn && pieces.size() < 64; ++turn) {
    const double west = std::max(westDeg, -180.0 + 360.0 * turn);
    const double east = std::min(eastDeg, 180.0 + 360.0 * turn);
    if (west < east) pieces.emplace_back(west, east);
  }
  return pieces;
}

// ---- Lines ----------------------------------------------------------------

// Cuts the line from (x0, y0) to (x1, y1) to the rectangle [0, maxX] x
// [0, maxY] (Liang-Barsky). False when nothing of it is inside.
bool Clip(double& x0, double& y0, double& x1, double& y1, double maxX, double maxY) {
  const double dx = x1 - x0;
  const double dy = y1 - y0;
  double enter = 0.0;
  double leave = 1.0;
  const double p[4] = {-dx, dx, -dy, dy};
  const double q[4] = {x0, maxX - x0, y0, maxY - y0};
  for (int edge = 0; edge < 4; ++edge) {
    if (p[edge] == 0.0) {
      if (q[edge] < 0.0) return false;  // parallel to this edge and outside it
      continue;
    }
    const double t = q[edge] / p[edge];
    if (p[edge] < 0.0) {
      if (t > leave) return false;
      enter = std::max(enter, t);
    } else {
      if (t < enter) return false;
      leave = std::min(leave, t);
    }
  }
  const double startX = x0 + enter * dx;
  const double startY = y0 + enter * dy;
  x1 = x0 + leave * dx;
  y1 = y0 + leave * dy;
  x0 = startX;
  y0 = startY;
  return true;
}

// A one-pixel line between the pixels that hold the two points (Bresenham),
// cut to the image, whose last column and row end just before maxX and maxY.
int64_t DrawLine(RgbImage& image, double maxX, double maxY, double x0, double y0, double x1,
                 double y1, Rgb colour) {
  // Wholly beyond one edge: the common case for the lines of a bin that
  // reaches into the view.
  if ((x0 < 0 && x1 < 0) || (y0 < 0 && y1 < 0) || (x0 > maxX && x1 > maxX) ||
      (y0 > maxY && y1 > maxY)) {
    return 0;
  }
  if (!Clip(x0, y0, x1, y1, maxX, maxY)) return 0;
  int px = std::clamp(int(std::floor(x0)), 0, image.width - 1);
  int py = std::clamp(int(std::floor(y0)), 0, image.height - 1);
  const int ex = std::clamp(int(std::floor(x1)), 0, image.width - 1);
  const int ey = std::clamp(int(std::floor(y1)), 0, image.height - 1);
  const int dx = std::abs(ex - px);
  const int dy = -std::abs(ey - py);
  const int stepX = px < ex ? 1 : -1;
  const int stepY = py < ey ? 1 : -1;
  int error = dx + dy;
  int64_t set = 0;
  for (;;) {
    image.Set(px, py, colour);
    ++set;
    if (px == ex && py == ey) break;
    const int twice = 2 * error;
    if (twice >= dy) {
      error += dy;
      px += stepX;
    }
    if (twice <= dx) {
      error += dx;
      py += stepY;
    }
  }
  return set;
}

// How much of the smaller features a view shows.
enum class Detail { kWide, kRegional, kClose };

// The colour of a segment of `layer` at `level`, or nothing when the view
// leaves that kind out.
std::optional<Rgb> LineColour(GshhgLayer layer, int level, Detail detail) {
  switch (layer) {
    case GshhgLayer::kShore:
      if (level == 1) return kSeaShoreColour;
      if (level >= 2 && level <= 4) return kLakeShoreColour;
      return std::nullopt;  // the alternative Antarctic grounding line
    case GshhgLayer::kBorder:
      if (level == 1) return kNationalBorderColour;
      if (level == 2) return kInternalBorderColour;
      return std::nullopt;  // maritime boundaries
    case GshhgLayer::kRiver: {
      // Double-lined and major rivers (1, 2) at every zoom, the other
      // major ones (3) from a region down, the lesser permanent ones (4, 5)
      // up close; no intermittent rivers or canals.
      const int highest = detail == Detail::kWide ? 2 : detail == Detail::kRegional ? 3 : 5;
      if (level >= 1 && level <= highest) return kRiverColour;
      return std::nullopt;
    }
  }
  return std::nullopt;
}

// Draws the segments of `layer` (of level `onlyLevel` alone when it is not
// 0) at `resolution` as lines.
int64_t DrawLines(const GshhgStore& store, GshhgLayer layer, GshhgResolution resolution,
                  const ViewGeometry& view, double southDeg, double northDeg, Detail detail,
                  int onlyLevel, RgbImage& image) {
  // Inside the last pixel, so that floor() never names a pixel past the edge.
  const double maxX = std::nextafter(double(image.width), 0.0);
  const double maxY = std::nextafter(double(image.height), 0.0);
  int64_t set = 0;
  for (const auto& [west, east] : LongitudePieces(view.westDeg(), view.eastDeg())) {
    for (const PlacedBin& placed : store.Bins(layer, resolution, southDeg, northDeg, west, east)) {
      const GshhgBin& bin = *placed.bin;
      const double step = bin.sizeDeg / kGshhgBinSteps;
      const double westDeg = bin.westDeg + placed.lonOffsetDeg;
      // Columns are linear in longitude; rows are projected point by point.
      const double originX = view.X(westDeg);
      const double scaleX = step / view.degPerColumn();
      const auto point = [&](const uint16_t* p) {
        return std::pair{originX + p[0] * scaleX, view.Y(bin.southDeg + p[1] * step)};
      };
      for (const GshhgBin::Segment& segment : bin.segments) {
        if (onlyLevel != 0 && segment.level != onlyLevel) continue;
        const std::optional<Rgb> colour = LineColour(layer, segment.level, detail);
        if (!colour || segment.pointCount == 0) continue;
        const uint16_t* p = bin.points.data() + size_t(segment.firstPoint) * 2;
        auto [lastX, lastY] = point(p);
        if (segment.pointCount == 1) {
          set += DrawLine(image, maxX, maxY, lastX, lastY, lastX, lastY, *colour);
        }
        // Points in the pixel of the last one drawn add nothing but work
        // (most of them, at the wide zooms); the last point is always drawn.
        for (uint32_t at = 1; at < segment.pointCount; ++at) {
          const auto [x, y] = point(p + size_t(at) * 2);
          if (at + 1 < segment.pointCount && std::floor(x) == std::floor(lastX) &&
              std::floor(y) == std::floor(lastY)) {
            continue;
          }
          set += DrawLine(image, maxX, maxY, lastX, lastY, x, y, *colour);
          lastX = x;
          lastY = y;
        }
      }
    }
  }
  return set;
}

// ---- Land and water -------------------------------------------------------

// The colour of the area at a shoreline level: 0 sea, 1 land, 2 lake,
// 3 island in a lake, 4 pond in such an island.
Rgb LevelColour(int level) {
  static constexpr Rgb kColours[5] = {kSeaColour, kLandColour, kLakeColour, kLandColour,
                                      kLakeColour};
  return kColours[std::clamp(level, 0, 4)];
}

// Crossing a shoreline of level L moves between the areas of levels L - 1
// and L.
int Cross(int level, int shoreLevel) { return level >= shoreLevel ? shoreLevel - 1 : shoreLevel; }

bool Fillable(const GshhgBin::Segment& segment) {
  return segment.level >= 1 && segment.level <= 4 && segment.pointCount >= 2;
}

// Where a pixel row crosses a shoreline: the row (within the bin's rows),
// the bin x of the crossing and the shoreline's level.
struct Crossing {
  int32_t row;
  uint8_t level;
  double x;
};

// What the fill of one bin reuses from the last.
struct FillScratch {
  std::vector<double> rowY;  // bin y of each row's centre
  std::vector<Crossing> crossings;
  std::vector<Crossing> byRow;     // crossings sorted by row, then x
  std::vector<uint32_t> rowStart;  // where each row's crossings begin in byRow
  std::vector<uint32_t> place;
  std::vector<std::pair<uint16_t, uint8_t>> westEnds;  // bin y and level
  std::vector<uint8_t> rowStartLevel;
};

// Fills the pixels whose centres lie in `bin` (placed lonOffsetDeg east)
// with the colour of their level. Each pixel row is a line across the bin
// at its centre's latitude: its level starts at the west edge as the
// south-west corner's level changed by every shoreline that leaves the
// bin by the west edge below the row, and changes again at each shoreline
// the row crosses going east. The shorelines a row crosses are found with
// half-open spans (a point exactly at a row's height counts below it), so
// every crossing counts once. Returns the pixels filled.
int64_t FillBin(const GshhgBin& bin, double lonOffsetDeg, const ViewGeometry& view, RgbImage& image,
                FillScratch& scratch) {
  const std::vector<double>& rowLat = view.rowLatDeg();
  const double southDeg = bin.southDeg;
  const double northDeg = bin.southDeg + bin.sizeDeg;
  // Rows run north to south; those of the bin have southDeg <= lat < northDeg.
  const auto shown = rowLat.begin() + view.endRow();
  const auto firstRow = std::partition_point(rowLat.begin() + view.firstRow(), shown,
                                             [&](double lat) { return lat >= northDeg; });
  const auto endRow =
      std::partition_point(firstRow, shown, [&](double lat) { return lat >= southDeg; });
  const int row0 = int(firstRow - rowLat.begin());
  const int rows = int(endRow - firstRow);
  const double westDeg = bin.westDeg + lonOffsetDeg;
  const double toBin = kGshhgBinSteps / bin.sizeDeg;
  // Columns whose centres lie in [westDeg, westDeg + size): the same
  // formula on both edges, so neighbouring bins share none and miss none.
  const auto firstColumn = [&](double lonDeg) {
    return int(std::clamp(std::ceil((lonDeg - view.westDeg()) / view.degPerColumn() - 0.5), 0.0,
                          double(view.width())));
  };
  const int column0 = firstColumn(westDeg);
  const int columnEnd = firstColumn(westDeg + bin.sizeDeg);
  if (rows <= 0 || columnEnd <= column0) return 0;
  // The bin x of column c's centre is columnX0 + c * columnStep.
  const double columnStep = view.degPerColumn() * toBin;
  const double columnX0 = (view.westDeg() + 0.5 * view.degPerColumn() - westDeg) * toBin;

  std::vector<double>& rowY = scratch.rowY;
  rowY.resize(size_t(rows));
  for (int r = 0; r < rows; ++r) rowY[size_t(r)] = (rowLat[size_t(row0 + r)] - southDeg) * toBin;

  // Every crossing of a row with a shoreline edge; rowY falls row by row.
  std::vector<Crossing>& crossings = scratch.crossings;
  crossings.clear();
  auto& westEnds = scratch.westEnds;
  westEnds.clear();
  const auto addEdge = [&](const uint16_t* a, const uint16_t* b, uint8_t level) {
    const double y0 = a[1];
    const double y1 = b[1];
    if (y0 == y1) return;
    const double low = std::min(y0, y1);
    const double high = std::max(y0, y1);
    // Rows with low <= y < high.
    const auto from =
        std::partition_point(rowY.begin(), rowY.end(), [&](double y) { return y >= high; });
    const auto to = std::partition_point(from, rowY.end(), [&](double y) { return y >= low; });
    const double slope = (double(b[0]) - double(a[0])) / (y1 - y0);
    for (auto at = from; at != to; ++at) {
      crossings.push_back({int32_t(at - rowY.begin()), level, a[0] + (*at - y0) * slope});
    }
  };
  for (const GshhgBin::Segment& segment : bin.segments) {
    if (!Fillable(segment)) continue;
    const uint16_t* p = bin.points.data() + size_t(segment.firstPoint) * 2;
    const uint16_t* last = p + size_t(segment.pointCount - 1) * 2;
    for (const uint16_t* at = p; at != last; at += 2) addEdge(at, at + 2, segment.level);
    // A shoreline inside the bin closes on itself; one crossing the bin
    // continues beyond its edges.
    if (segment.entrySide == kGshhgInside) addEdge(last, p, segment.level);
    if (segment.entrySide == kGshhgWest) westEnds.push_back({p[1], segment.level});
    if (segment.exitSide == kGshhgWest) westEnds.push_back({last[1], segment.level});
  }
  // By row (counting), then by x within each row (a handful each).
  std::vector<uint32_t>& rowStart = scratch.rowStart;
  rowStart.assign(size_t(rows) + 1, 0);
  for (const Crossing& crossing : crossings) ++rowStart[size_t(crossing.row) + 1];
  for (int r = 0; r < rows; ++r) rowStart[size_t(r) + 1] += rowStart[size_t(r)];
  std::vector<Crossing>& byRow = scratch.byRow;
  byRow.resize(crossings.size());
  {
    std::vector<uint32_t>& place = scratch.place;
    place.assign(rowStart.begin(), rowStart.end() - 1);
    for (const Crossing& crossing : crossings) byRow[place[size_t(crossing.row)]++] = crossing;
  }
  for (int r = 0; r < rows; ++r) {
    std::sort(byRow.begin() + rowStart[size_t(r)], byRow.begin() + rowStart[size_t(r) + 1],
              [](const Crossing& a, const Crossing& b) { return a.x < b.x; });
  }
  std::sort(westEnds.begin(), westEnds.end());

  // The level at the west edge of each row, walking north from the
  // south-west corner (the last row is the southernmost).
  std::vector<uint8_t>& startLevel = scratch.rowStartLevel;
  startLevel.resize(size_t(rows));
  int level = bin.cornerLevels[0];
  size_t west = 0;
  for (int r = rows - 1; r >= 0; --r) {
    for (; west < westEnds.size() && westEnds[west].first <= rowY[size_t(r)]; ++west) {
      level = Cross(level, westEnds[west].second);
    }
    startLevel[size_t(r)] = uint8_t(level);
  }

  for (int r = 0; r < rows; ++r) {
    uint8_t* pixels = image.bytes.data() + size_t(row0 + r) * size_t(image.width) * 3;
    const auto fill = [&](int from, int to, int areaLevel) {
      const Rgb colour = LevelColour(areaLevel);
      for (int c = from; c < to; ++c) {
        pixels[size_t(c) * 3] = colour.red;
        pixels[size_t(c) * 3 + 1] = colour.green;
        pixels[size_t(c) * 3 + 2] = colour.blue;
      }
    };
    int rowLevel = startLevel[size_t(r)];
    int column = column0;
    for (uint32_t at = rowStart[size_t(r)]; at < rowStart[size_t(r) + 1]; ++at) {
      // Columns whose centre lies east of the crossing take the new level.
      const double after = std::floor((byRow[at].x - columnX0) / columnStep) + 1.0;
      const int boundary = int(std::clamp(after, double(column), double(columnEnd)));
      fill(column, boundary, rowLevel);
      column = boundary;
      rowLevel = Cross(rowLevel, byRow[at].level);
    }
    fill(column, columnEnd, rowLevel);
  }
  return int64_t(rows) * (columnEnd - column0);
}

// Fills land and water over the whole view from the shoreline layer,
// trying the resolutions in `order` until one is read without failing.
CoastDrawing FillView(const GshhgStore& store, const std::vector<GshhgResolution>& order,
                      const ViewGeometry& view, double southDeg, double northDeg, RgbImage& image) {
  CoastDrawing drawn;
  FillScratch scratch;
  while (const std::optional<GshhgResolution> resolution =
             store.ChooseResolution(GshhgLayer::kShore, order)) {
    drawn.pixels = 0;
    for (const auto& [west, east] : LongitudePieces(view.westDeg(), view.eastDeg())) {
      for (const PlacedBin& placed :
           store.Bins(GshhgLayer::kShore, *resolution, southDeg, northDeg, west, east)) {
        drawn.pixels += FillBin(*placed.bin, placed.lonOffsetDeg, view, image, scratch);
      }
    }
    // A file that fails part-way is left out from now on: the next one
    // fills the view afresh.
    if (!store.Failed(GshhgLayer::kShore, *resolution)) {
      drawn.filled = true;
      return drawn;
    }
  }
  return drawn;
}

// Draws the fill and then the lines, each layer at the first sound
// resolution of `order`.
CoastDrawing DrawView(const GshhgStore& store, const std::vector<GshhgResolution>& order,
                      const ViewGeometry& view, double southDeg, double northDeg, Detail detail,
                      RgbImage& image) {
  CoastDrawing drawn = FillView(store, order, view, southDeg, northDeg, image);
  // Rivers first, then internal and national borders, shorelines on top.
  const std::pair<GshhgLayer, int> layers[] = {{GshhgLayer::kRiver, 0},
                                               {GshhgLayer::kBorder, 2},
                                               {GshhgLayer::kBorder, 1},
                                               {GshhgLayer::kShore, 0}};
  for (const auto& [layer, onlyLevel] : layers) {
    if (const std::optional<GshhgResolution> resolution = store.ChooseResolution(layer, order)) {
      drawn.pixels +=
          DrawLines(store, layer, *resolution, view, southDeg, northDeg, detail, onlyLevel, image);
    }
  }
  return drawn;
}

}  // namespace

CoastDrawing DrawCoastBackground(const GshhgStore& store, int32_t originLat, int32_t originLon,
                                 int zoomIndex, RgbImage& image) {
  if (image.width <= 0 || image.height <= 0 || image.width > kMaxImageSide ||
      image.height > kMaxImageSide) {
    return {};
  }
  zoomIndex = std::clamp(zoomIndex, kMinZoomIndex, kMaxZoomIndex);
  const double spanDeg = double(kZoomSpans[size_t(zoomIndex)]) / kGridPerDegree;
  const double southDeg = double(originLat) / kGridPerDegree;
  const ViewGeometry view = ViewGeometry::PlateCarree(
      image.width, image.height, double(originLon) / kGridPerDegree, southDeg + spanDeg, spanDeg);
  // The lesser rivers from the fourth zoom in (0.2 degrees, about 50 m a
  // pixel), as the main view has always shown them.
  return DrawView(store, ResolutionsForZoom(zoomIndex), view, southDeg, southDeg + spanDeg,
                  zoomIndex <= 3 ? Detail::kClose : Detail::kRegional, image);
}

CoastDrawing DrawCoastMercator(const GshhgStore& store, const MercatorView& view, RgbImage& image) {
  // Views of no size, of more than a screen, or of many worlds side by side
  // (the world is 256 pixels wide at zoom 0) are not drawn.
  if (view.width <= 0 || view.height <= 0 || view.width > kMaxImageSide ||
      view.height > kMaxImageSide || !std::isfinite(view.Scale()) || !std::isfinite(view.centerX) ||
      !std::isfinite(view.centerY) || view.width > kMaxWorldsAcross * view.Scale()) {
    return {};
  }
  if (image.width != view.width || image.height != view.height) {
    image = RgbImage(view.width, view.height);
  }
  const ViewGeometry geometry = ViewGeometry::Mercator(view);
  // Latitudes shown: the Mercator square cut to the view.
  const double northDeg = LatitudeOfWorldY(std::clamp(view.WorldY(0), 0.0, 1.0));
  const double southDeg = LatitudeOfWorldY(std::clamp(view.WorldY(view.height), 0.0, 1.0));
  if (!(southDeg < northDeg)) return {};
  // The ground size of a pixel at the view's centre.
  const double centreLat = LatitudeOfWorldY(std::clamp(view.centerY, 0.0, 1.0));
  const double metresPerPixel = 2.0 * std::numbers::pi * kEarthRadiusMetres *
                                std::cos(centreLat * std::numbers::pi / 180.0) / view.Scale();
  const Detail detail = metresPerPixel < kCloseMetresPerPixel  ? Detail::kClose
                        : metresPerPixel < kWideMetresPerPixel ? Detail::kRegional
                                                               : Detail::kWide;
  return DrawView(store, ResolutionsForMercator(metresPerPixel), geometry, southDeg, northDeg,
                  detail, image);
}

}  // namespace roamgrid
