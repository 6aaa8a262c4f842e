#include "export/region_cells.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <unordered_map>

#include "tiles/tile_file.h"
#include "tiles/track_tile.h"

namespace roamgrid {

namespace {

constexpr int64_t kCellsPerGridUnitTimes5 = int64_t{kCellsPerSide} * 5 / kGridPerTile;  // 224
static_assert(kCellsPerGridUnitTimes5 == 224);

// Degrees to cells: values within a millionth of a cell of a boundary are
// that boundary (35.65 * 17920 is 638848 give or take the double's error);
// all others go down (floor) or up (ceil).
int64_t DegreesToCell(double degrees, bool up) {
  const double cells = degrees * double(kCellsPerDegree);
  const double nearest = std::nearbyint(cells);
  if (std::fabs(cells - nearest) < 1e-6) return int64_t(nearest);
  return int64_t(up ? std::ceil(cells) : std::floor(cells));
}

// The tile store's folder of a key: one per whole degree and hemisphere
// letter, so "W000" and "E000" differ.
int64_t FolderCode(int32_t key) { return key < 0 ? -1 - (-int64_t{key}) / 100 : key / 100; }

// Collects the visited cells of a tile's code stream inside a window of
// rows [r0, r1) and columns [c0, c1) as runs, in stream order.
struct RunCollector {
  std::vector<CellRun>& runs;
  int r0, r1, c0, c1;
  int row = -1, from = 0, to = 0;
  long long cells = 0;

  void Run(int, int) {}
  void Literal(int group, uint8_t bits) {
    if (bits == 0) return;
    const int r = group / kGroupsPerRow;
    if (r < r0 || r >= r1) return;
    const int first = (group % kGroupsPerRow) * kCellsPerGroup;
    for (int k = 0; k < kCellsPerGroup; ++k) {
      if (!(bits & (0x40 >> k))) continue;
      const int c = first + k;
      if (c < c0 || c >= c1) continue;
      if (r == row && c == to) {
        ++to;
        continue;
      }
      Flush();
      row = r;
      from = c;
      to = c + 1;
    }
  }
  void Flush() {
    if (row < 0) return;
    runs.push_back(CellRun{uint16_t(row), uint16_t(from), uint16_t(to)});
    cells += to - from;
    row = -1;
  }
};

}  // namespace

std::string RegionTile::Name() const {
  char path[kTilePathSize];
  if (!FormatTilePath(latKey, lonKey, path)) return {};
  const std::string text(path);
  const size_t slash = text.rfind('/');
  const size_t dot = text.rfind('.');
  return text.substr(slash + 1, dot - slash - 1);
}

CellRegion ViewCellRegion(const ViewState& view) {
  const int zoom = std::clamp<int32_t>(view.zoomIndex, kMinZoomIndex, kMaxZoomIndex);
  const int64_t step = AlignmentStep(zoom);
  const int64_t lat = FloorDiv(view.originLat, step) * step;
  const int64_t lon = FloorDiv(view.originLon, step) * step;
  // A multiple of 5 grid units is a whole number of cells (224).
  CellRegion region;
  region.south = lat / 5 * kCellsPerGridUnitTimes5;
  region.west = lon / 5 * kCellsPerGridUnitTimes5;
  const int64_t side = kZoomSpans[size_t(zoom)] / 5 * kCellsPerGridUnitTimes5;
  region.north = region.south + side;
  region.east = region.west + side;
  return region;
}

CellRegion DegreeBoxCells(double south, double west, double north, double east,
                          std::string* error) {
  const auto fail = [&](const char* why) {
    if (error) *error = why;
    return CellRegion{};
  };
  if (!(south >= -90 && south <= 90 && north >= -90 && north <= 90))
    return fail("latitudes must lie within -90 to 90");
  if (!(west >= -180 && west <= 180 && east >= -180 && east <= 180))
    return fail("longitudes must lie within -180 to 180");
  if (!(south < north)) return fail("the south edge must lie below the north edge");
  if (west == east) return fail("the west and east edges are equal");
  CellRegion region;
  region.south = DegreesToCell(south, false);
  region.north = DegreesToCell(north, true);
  region.west = DegreesToCell(west, false);
  // West above east: the box runs east across the antimeridian.
  region.east = DegreesToCell(west < east ? east : east + 360, true);
  return region;
}

CellRegion AlignToPixels(const CellRegion& region, int zoom) {
  const int64_t b = CellsPerPixel(zoom);
  return CellRegion{FloorDiv(region.south, b) * b, FloorDiv(region.west, b) * b,
                    -FloorDiv(-region.north, b) * b, -FloorDiv(-region.east, b) * b};
}

// Whether the folder of a tile exists, remembered per folder.
class RegionWalker::FolderCache {
 public:
  bool Exists(int32_t latKey, int32_t lonKey) {
    const int64_t code = FolderCode(latKey) * 4096 + FolderCode(lonKey);
    const auto found = known_.find(code);
    if (found != known_.end()) return found->second;
    if (known_.size() >= 4096) known_.clear();
    // "RGD/E139N035/E13975-N03500.map": the folder ends at the last '/'.
    char path[kTilePathSize];
    bool exists = false;
    if (FormatTilePath(latKey, lonKey, path)) {
      std::string folder(path);
      folder.resize(folder.rfind('/'));
      struct stat info;
      exists = stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
    }
    known_.emplace(code, exists);
    return exists;
  }

 private:
  std::unordered_map<int64_t, bool> known_;
};

namespace {

// The walk progress of this thread (one program, one thread).
ScopedRegionWalkProgress* gWalkProgress = nullptr;

}  // namespace

ScopedRegionWalkProgress::ScopedRegionWalkProgress(TaskProgress* progress)
    : progress_(progress), previous_(gWalkProgress) {
  gWalkProgress = this;
}

ScopedRegionWalkProgress::~ScopedRegionWalkProgress() { gWalkProgress = previous_; }

RegionWalker::RegionWalker(const CellRegion& region)
    : region_(region),
      south_(std::max(region.south, -kPoleCellRow)),
      north_(std::min(region.north, kPoleCellRow)),
      jA_(FloorDiv(region.west, kCellsPerSide)),
      jB_(FloorDiv(region.east - 1, kCellsPerSide)),
      i_(FloorDiv(north_ - 1, kCellsPerSide)),
      j_(jA_),
      file_(kMaxTileFileSize),
      folders_(std::make_unique<FolderCache>()) {
  // An empty region: no tile row at all.
  if (south_ >= north_ || region.west >= region.east) i_ = FloorDiv(south_, kCellsPerSide) - 1;
}

RegionWalker::~RegionWalker() = default;

bool RegionWalker::Next() {
  const int64_t lastRow = FloorDiv(south_, kCellsPerSide);
  for (; i_ >= lastRow; --i_, j_ = jA_) {
    ScopedRegionWalkProgress* told = gWalkProgress;
    if (told && told->progress_) {
      // Told once per tile row, at its start.
      const int64_t firstRow = FloorDiv(north_ - 1, kCellsPerSide);
      const int64_t rowsDone = firstRow - i_;
      if (rowsDone != rowsTold_) {
        rowsTold_ = rowsDone;
        told->progress_->Advance(rowsDone, firstRow - lastRow + 1);
        if (told->stopped_ || told->progress_->Cancelled()) {
          told->stopped_ = true;
          i_ = lastRow - 1;
          return false;
        }
      }
    }
    tile_.tileRow = i_;
    tile_.latKey = int32_t(kCentiPerTile * i_);
    const int r0 = int(std::max<int64_t>(south_ - tile_.FirstCellRow(), 0));
    const int r1 = int(std::min<int64_t>(north_ - tile_.FirstCellRow(), kCellsPerSide));
    while (j_ <= jB_) {
      tile_.tileColumn = j_++;
      tile_.lonKey = NormalizeLonKey(kCentiPerTile * tile_.tileColumn);
      if (!folders_->Exists(tile_.latKey, tile_.lonKey)) {
        // Pass over the rest of the folder's tiles in this row.
        const int64_t folder = FolderCode(tile_.lonKey);
        while (j_ <= jB_ && FolderCode(NormalizeLonKey(kCentiPerTile * j_)) == folder) ++j_;
        continue;
      }
      char path[kTilePathSize];
      if (!FormatTilePath(tile_.latKey, tile_.lonKey, path)) continue;
      const long size = ReadTileFile(path, file_.data());
      // No file, a damaged header or both masks 0: nothing visited.
      if (size < long(kTileHeaderSize) || file_[0] != 0x00 || (file_[1] | file_[2]) == 0) continue;
      runs_.clear();
      const int64_t west = tile_.FirstCellColumn();
      RunCollector collector{runs_, r0, r1, int(std::max<int64_t>(region_.west - west, 0)),
                             int(std::min<int64_t>(region_.east - west, kCellsPerSide))};
      WalkCodeStream(file_.data() + kTileHeaderSize, size_t(size) - kTileHeaderSize, collector);
      collector.Flush();
      if (runs_.empty()) continue;
      cells_ += collector.cells;
      return true;
    }
  }
  return false;
}

LoadResult CollectTileRuns(const uint8_t* file, size_t size, int rowFrom, int rowTo, int columnFrom,
                           int columnTo, std::vector<CellRun>& runs) {
  if (size < kTileHeaderSize || file[0] != 0x00) return kDamaged;
  RunCollector collector{runs, rowFrom, rowTo, columnFrom, columnTo};
  const LoadResult result =
      WalkCodeStream(file + kTileHeaderSize, size - kTileHeaderSize, collector);
  collector.Flush();
  return result;
}

void CoverRuns(const std::vector<CellRun>& runs, std::vector<CellRect>& rects) {
  rects.clear();
  // The rectangles that may still grow: those ending at the row below,
  // west to east.
  std::vector<CellRect> open, next;
  size_t at = 0;
  int previousRow = -2;
  while (at < runs.size()) {
    const int row = runs[at].row;
    if (row != previousRow + 1) {
      rects.insert(rects.end(), open.begin(), open.end());
      open.clear();
    }
    next.clear();
    size_t o = 0;
    for (; at < runs.size() && runs[at].row == row; ++at) {
      const CellRun& run = runs[at];
      while (o < open.size() && open[o].columnFrom < run.from) rects.push_back(open[o++]);
      if (o < open.size() && open[o].columnFrom == run.from && open[o].columnTo == run.to) {
        CellRect grown = open[o++];
        grown.rowTo = row + 1;
        next.push_back(grown);
      } else {
        next.push_back(CellRect{row, row + 1, run.from, run.to});
      }
    }
    for (; o < open.size(); ++o) rects.push_back(open[o]);
    open.swap(next);
    previousRow = row;
  }
  rects.insert(rects.end(), open.begin(), open.end());
}

}  // namespace roamgrid
