#include "geo/gshhg_store.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace roamgrid {
namespace {

// Minutes of arc in the full circle and in the half circle of latitude.
constexpr int kMinutesAround = 360 * 60;
constexpr int kMinutesPoleToPole = 180 * 60;
// A bin's points are read in one slice when the slice wastes little;
// segments scattered further apart are read one by one.
constexpr size_t kSliceSlack = 4096;
// The highest shoreline level filled: a pond in an island in a lake.
constexpr int kMaxShoreLevel = 4;

void ReportToStandardError(const std::string& line) {
  std::fprintf(stderr, "roamgrid: %s\n", line.c_str());
}

bool IsIntegerType(NetcdfType type) {
  return type == NetcdfType::kByte || type == NetcdfType::kShort || type == NetcdfType::kInt;
}

}  // namespace

struct GshhgStore::File {
  std::string path;
  bool checked = false;  // presence looked up
  bool present = false;
  bool opened = false;
  bool failed = false;  // a check failed: the file gives nothing from now on
  std::unique_ptr<NetcdfFile> netcdf;
  int binMinutes = 0;
  int binsAcross = 0;  // bins in 360 degrees of longitude
  int binsDown = 0;    // bins in 180 degrees of latitude
  size_t segmentTotal = 0;
  size_t pointTotal = 0;
  std::vector<int32_t> firstSegment;  // per bin
  std::vector<int16_t> segmentCount;  // per bin
  std::vector<int16_t> cornerLevels;  // per bin, shores only: four 3-bit levels
  // Shores pack each segment's point count, level and entry/exit sides in
  // one integer; borders and rivers keep count and level apart.
  NetcdfVariable segmentInfo;
  NetcdfVariable segmentPoints;
  NetcdfVariable segmentLevel;
  NetcdfVariable segmentStart;
  NetcdfVariable dx;
  NetcdfVariable dy;
};

std::string GshhgFolderFromEnvironment() {
  const char* folder = std::getenv("ROAMGRID_GSHHG_DIR");
  return folder && *folder ? std::string(folder) : std::string(kGshhgFolder);
}

char ResolutionLetter(GshhgResolution resolution) {
  static constexpr char kLetters[kGshhgResolutionCount] = {'c', 'l', 'i', 'h', 'f'};
  return kLetters[static_cast<int>(resolution)];
}

std::string GshhgFileName(GshhgLayer layer, GshhgResolution resolution) {
  const char* stem = layer == GshhgLayer::kShore    ? "binned_GSHHS_"
                     : layer == GshhgLayer::kBorder ? "binned_border_"
                                                    : "binned_river_";
  return std::string(stem) + ResolutionLetter(resolution) + ".nc";
}

std::vector<GshhgResolution> ResolutionsForZoom(int zoomIndex) {
  using R = GshhgResolution;
  if (zoomIndex >= 6) return {R::kIntermediate, R::kLow, R::kHigh, R::kCrude, R::kFull};
  if (zoomIndex >= 4) return {R::kHigh, R::kIntermediate, R::kFull, R::kLow, R::kCrude};
  return {R::kFull, R::kHigh, R::kIntermediate, R::kLow, R::kCrude};
}

std::vector<GshhgResolution> ResolutionsForMercator(double metresPerPixel) {
  // The detail each resolution keeps (GSHHG's own figures): crude 25 km,
  // low 5 km, intermediate 1 km, high 200 m, full everything. A resolution
  // serves while its detail spans at most two and a half pixels: finer
  // data would cost more to draw than it shows.
  static constexpr double kDetailMetres[kGshhgResolutionCount - 1] = {25000, 5000, 1000, 200};
  static constexpr double kPixelsPerDetail = 2.5;
  int need = kGshhgResolutionCount - 1;  // full
  for (int r = 0; r < kGshhgResolutionCount - 1; ++r) {
    if (!(metresPerPixel * kPixelsPerDetail < kDetailMetres[r])) {
      need = r;
      break;
    }
  }
  std::vector<GshhgResolution> order;
  for (int r = need; r >= 0; --r) order.push_back(GshhgResolution(r));
  for (int r = need + 1; r < kGshhgResolutionCount; ++r) order.push_back(GshhgResolution(r));
  return order;
}

GshhgStore::GshhgStore(std::string folder, size_t cacheBytes,
                       std::function<void(const std::string&)> report, NetcdfOpener opener)
    : folder_(std::move(folder)),
      cacheLimit_(cacheBytes),
      report_(report ? std::move(report) : ReportToStandardError),
      opener_(opener ? std::move(opener) : OpenNetcdfFile) {
  files_.resize(kGshhgLayerCount * kGshhgResolutionCount);
  for (int layer = 0; layer < kGshhgLayerCount; ++layer) {
    for (int resolution = 0; resolution < kGshhgResolutionCount; ++resolution) {
      auto file = std::make_unique<File>();
      file->path = folder_ + "/" + GshhgFileName(GshhgLayer(layer), GshhgResolution(resolution));
      files_[layer * kGshhgResolutionCount + resolution] = std::move(file);
    }
  }
}

GshhgStore::~GshhgStore() = default;

GshhgStore::File& GshhgStore::FileOf(GshhgLayer layer, GshhgResolution resolution) const {
  return *files_[size_t(int(layer) * kGshhgResolutionCount + int(resolution))];
}

bool GshhgStore::Installed(GshhgLayer layer, GshhgResolution resolution) const {
  File& file = FileOf(layer, resolution);
  if (!file.checked) {
    std::error_code error;
    file.present = std::filesystem::is_regular_file(file.path, error);
    file.checked = true;
  }
  return file.present;
}

bool GshhgStore::Failed(GshhgLayer layer, GshhgResolution resolution) const {
  return FileOf(layer, resolution).failed;
}

std::optional<GshhgResolution> GshhgStore::ChooseResolution(GshhgLayer layer, int zoomIndex) const {
  return ChooseResolution(layer, ResolutionsForZoom(zoomIndex));
}

std::optional<GshhgResolution> GshhgStore::ChooseResolution(
    GshhgLayer layer, std::vector<GshhgResolution> order) const {
  if (layer != GshhgLayer::kShore) {
    std::stable_partition(order.begin(), order.end(),
                          [](GshhgResolution r) { return r != GshhgResolution::kFull; });
  }
  for (GshhgResolution resolution : order) {
    if (Installed(layer, resolution) && !Failed(layer, resolution)) return resolution;
  }
  return std::nullopt;
}

void GshhgStore::Fail(File& file, const std::string& what) const {
  if (file.failed) return;
  file.failed = true;
  file.netcdf.reset();  // nothing more is read from it
  problems_.push_back(file.path + ": " + what + "; the map background leaves it out");
  report_(problems_.back());
}

GshhgStore::File* GshhgStore::OpenFile(GshhgLayer layer, GshhgResolution resolution) const {
  File& file = FileOf(layer, resolution);
  if (file.failed || !Installed(layer, resolution)) return nullptr;
  if (file.opened) return &file;
  file.opened = true;

  // The netCDF library (HDF5 below it) trusts what it reads; it sees only
  // files that look whole.
  if (const std::string problem = CheckNetcdfFileOnDisk(file.path, kGshhgMaxFileBytes);
      !problem.empty()) {
    Fail(file, problem);
    return nullptr;
  }
  std::string error;
  file.netcdf = opener_(file.path, &error);
  if (!file.netcdf) {
    // Without the netCDF reader no file opens: one line for them all.
    if (const std::string problem = NetcdfPluginProblem(); !problem.empty()) {
      file.failed = true;
      if (!pluginProblemSaid_) {
        pluginProblemSaid_ = true;
        problems_.push_back(problem + "; the map background is left out");
        report_(problems_.back());
      }
      return nullptr;
    }
    Fail(file, error.empty() ? "cannot be opened" : error);
    return nullptr;
  }
  if (const std::string problem = ReadIndex(file, layer); !problem.empty()) {
    Fail(file, problem);
    return nullptr;
  }
  return &file;
}

// Reads and checks the bin layout and the bin table; what is wrong, or
// empty when nothing is.
std::string GshhgStore::ReadIndex(File& file, GshhgLayer layer) const {
  NetcdfFile& nc = *file.netcdf;
  std::string why;
  const auto fail = [&](std::string what) {
    why = std::move(what);
    return false;
  };
  // A one-dimensional variable of whole numbers with `length` values (any
  // length when 0).
  const auto variable = [&](const char* name, size_t length, NetcdfVariable& out) {
    std::optional<NetcdfVariable> found = nc.FindVariable(name);
    if (!found) return fail(nc.error().empty() ? std::string(name) + " is missing" : nc.error());
    if (!IsIntegerType(found->type) || !found->OneDimensional()) {
      return fail(std::string(name) + " is not a list of whole numbers");
    }
    if (length != 0 && found->shape[0] != length) {
      return fail(std::string(name) + " holds " + std::to_string(found->shape[0]) +
                  " values where " + std::to_string(length) + " belong");
    }
    out = *found;
    return true;
  };
  const auto scalar = [&](const char* name, int& value) {
    NetcdfVariable found;
    if (!variable(name, 1, found)) return false;
    int32_t read = 0;
    if (!nc.Read(found, 0, 1, &read)) return fail(std::string(name) + ": " + nc.error());
    value = read;
    return true;
  };

  bool ok = scalar("Bin_size_in_minutes", file.binMinutes) &&
            scalar("N_bins_in_360_longitude_range", file.binsAcross) &&
            scalar("N_bins_in_180_degree_latitude_range", file.binsDown);
  // The layout is checked before it sizes anything: at least half-degree
  // bins that tile the globe.
  if (ok && (file.binMinutes < kGshhgMinBinMinutes || kMinutesPoleToPole % file.binMinutes != 0 ||
             file.binsAcross != kMinutesAround / file.binMinutes ||
             file.binsDown != kMinutesPoleToPole / file.binMinutes)) {
    ok = fail("a bin layout of " + std::to_string(file.binMinutes) + " minutes, " +
              std::to_string(file.binsAcross) + " x " + std::to_string(file.binsDown) + " bins");
  }
  const size_t binCount = ok ? size_t(file.binsAcross) * size_t(file.binsDown) : 0;

  NetcdfVariable first;
  NetcdfVariable count;
  NetcdfVariable corners;
  ok = ok && variable("Id_of_first_segment_in_a_bin", binCount, first) &&
       variable("N_segments_in_a_bin", binCount, count) &&
       variable("Id_of_first_point_in_a_segment", 0, file.segmentStart) &&
       variable("Relative_longitude_from_SW_corner_of_bin", 0, file.dx) &&
       variable("Relative_latitude_from_SW_corner_of_bin", file.dx.shape[0], file.dy);
  if (ok) {
    file.segmentTotal = file.segmentStart.shape[0];
    file.pointTotal = file.dx.shape[0];
  }
  if (ok && layer == GshhgLayer::kShore) {
    ok = variable("Embedded_npts_levels_exit_entry_for_a_segment", file.segmentTotal,
                  file.segmentInfo) &&
         variable("Embedded_node_levels_in_a_bin", binCount, corners);
  } else if (ok) {
    ok = variable("N_points_for_a_segment", file.segmentTotal, file.segmentPoints) &&
         variable("Hierarchial_level_of_a_segment", file.segmentTotal, file.segmentLevel);
  }
  if (ok) {
    file.firstSegment.resize(binCount);
    file.segmentCount.resize(binCount);
    ok = (nc.Read(first, 0, binCount, file.firstSegment.data()) &&
          nc.Read(count, 0, binCount, file.segmentCount.data())) ||
         fail("the bin table: " + nc.error());
  }
  if (ok && layer == GshhgLayer::kShore) {
    file.cornerLevels.resize(binCount);
    ok = nc.Read(corners, 0, binCount, file.cornerLevels.data()) ||
         fail("the corner levels: " + nc.error());
  }
  // Each bin's segments lie in the file's list, after those of the bin
  // before it: a sound file lists them bin by bin.
  size_t lastEnd = 0;
  for (size_t bin = 0; ok && bin < binCount; ++bin) {
    const int64_t from = file.firstSegment[bin];
    const int64_t n = file.segmentCount[bin];
    if (n == 0) continue;
    if (from < 0 || n < 0 || size_t(from) < lastEnd || size_t(from + n) > file.segmentTotal) {
      ok = fail("bin " + std::to_string(bin) + " names segments the file does not hold");
    }
    lastEnd = size_t(from + n);
  }
  if (!ok) {
    file.firstSegment.clear();
    file.segmentCount.clear();
    file.cornerLevels.clear();
  }
  return why;
}

// Reads the segments first .. first + count - 1 of `file` into `decoded`
// (counts, levels, sides; firstPoint still 0) and their first points' index
// in the file into `starts`. False, with the file failed, on anything a
// sound file does not hold.
bool GshhgStore::ReadSegments(File& file, GshhgLayer layer, size_t first, size_t count,
                              GshhgBin& decoded, std::vector<int32_t>& starts) const {
  NetcdfFile& nc = *file.netcdf;
  starts.resize(count);
  decoded.segments.resize(count);
  if (!nc.Read(file.segmentStart, first, count, starts.data())) {
    Fail(file, "segments: " + nc.error());
    return false;
  }
  if (layer == GshhgLayer::kShore) {
    std::vector<int32_t> info(count);
    if (!nc.Read(file.segmentInfo, first, count, info.data())) {
      Fail(file, "segments: " + nc.error());
      return false;
    }
    for (size_t s = 0; s < count; ++s) {
      // Bits 0-2 exit side, 3-5 entry side, 6-8 level, 9 up the point count.
      const uint32_t packed = static_cast<uint32_t>(info[s]);
      GshhgBin::Segment& segment = decoded.segments[s];
      segment.pointCount = packed >> 9;
      segment.level = uint8_t((packed >> 6) & 7);
      segment.entrySide = uint8_t((packed >> 3) & 7);
      segment.exitSide = uint8_t(packed & 7);
      // A segment crosses the bin from side to side or closes inside it.
      if (segment.entrySide > kGshhgInside || segment.exitSide > kGshhgInside ||
          (segment.entrySide == kGshhgInside) != (segment.exitSide == kGshhgInside)) {
        Fail(file, "a segment enters or leaves its bin by no side");
        return false;
      }
    }
  } else {
    std::vector<int16_t> points(count);
    std::vector<int16_t> levels(count);
    if (!nc.Read(file.segmentPoints, first, count, points.data()) ||
        !nc.Read(file.segmentLevel, first, count, levels.data())) {
      Fail(file, "segments: " + nc.error());
      return false;
    }
    for (size_t s = 0; s < count; ++s) {
      if (points[s] < 0 || levels[s] < 0 || levels[s] > 255) {
        Fail(file, "a segment of " + std::to_string(points[s]) + " points at level " +
                       std::to_string(levels[s]));
        return false;
      }
      decoded.segments[s].pointCount = uint32_t(points[s]);
      decoded.segments[s].level = uint8_t(levels[s]);
    }
  }
  size_t total = 0;
  for (size_t s = 0; s < count; ++s) {
    const uint32_t n = decoded.segments[s].pointCount;
    if (starts[s] < 0 || n > kGshhgMaxBinPoints || size_t(starts[s]) > file.pointTotal ||
        n > file.pointTotal - size_t(starts[s])) {
      Fail(file, "a segment names points the file does not hold");
      return false;
    }
    total += n;
    if (total > kGshhgMaxBinPoints || total > file.pointTotal) {
      Fail(file, "a bin holds more points than the file or any sound bin");
      return false;
    }
  }
  return true;
}

// Reads the points of decoded.segments (their first points at `starts`)
// into decoded.points, setting each segment's firstPoint.
bool GshhgStore::ReadPoints(File& file, const std::vector<int32_t>& starts,
                            GshhgBin& decoded) const {
  NetcdfFile& nc = *file.netcdf;
  size_t lowest = file.pointTotal;
  size_t highest = 0;
  size_t total = 0;
  for (size_t s = 0; s < decoded.segments.size(); ++s) {
    lowest = std::min(lowest, size_t(starts[s]));
    highest = std::max(highest, size_t(starts[s]) + decoded.segments[s].pointCount);
    total += decoded.segments[s].pointCount;
  }
  decoded.points.resize(total * 2);
  std::vector<int16_t> dx;
  std::vector<int16_t> dy;
  const auto read = [&](size_t from, size_t points) {
    dx.resize(points);
    dy.resize(points);
    return nc.Read(file.dx, from, points, dx.data()) && nc.Read(file.dy, from, points, dy.data());
  };
  // Segments of a bin lie together in the file: one read serves them all.
  const bool oneSlice = highest > lowest && highest - lowest <= 2 * total + kSliceSlack;
  bool ok = !oneSlice || read(lowest, highest - lowest);
  size_t filled = 0;
  for (size_t s = 0; ok && s < decoded.segments.size(); ++s) {
    GshhgBin::Segment& segment = decoded.segments[s];
    size_t from = 0;
    if (oneSlice) {
      from = size_t(starts[s]) - lowest;
    } else {
      ok = read(size_t(starts[s]), segment.pointCount);
    }
    segment.firstPoint = uint32_t(filled);
    for (size_t p = 0; ok && p < segment.pointCount; ++p) {
      // The offsets are unsigned 16-bit numbers stored in signed shorts.
      decoded.points[(filled + p) * 2] = static_cast<uint16_t>(dx[from + p]);
      decoded.points[(filled + p) * 2 + 1] = static_cast<uint16_t>(dy[from + p]);
    }
    filled += segment.pointCount;
  }
  if (!ok) Fail(file, "points: " + nc.error());
  return ok;
}

std::shared_ptr<const GshhgBin> GshhgStore::LoadBin(File& file, GshhgLayer layer, int bin) const {
  auto decoded = std::make_shared<GshhgBin>();
  const double size = file.binMinutes / 60.0;
  decoded->sizeDeg = size;
  decoded->westDeg = (bin % file.binsAcross) * size;
  decoded->southDeg = 90.0 - (bin / file.binsAcross + 1) * size;
  if (layer == GshhgLayer::kShore) {
    // Four 3-bit levels: south-west in bits 9-11, then south-east,
    // north-east and north-west.
    const auto packed = static_cast<uint16_t>(file.cornerLevels[size_t(bin)]);
    for (int corner = 0; corner < 4; ++corner) {
      decoded->cornerLevels[size_t(corner)] =
          uint8_t(std::min((packed >> (9 - 3 * corner)) & 7, kMaxShoreLevel));
    }
  }
  const size_t count = size_t(file.segmentCount[size_t(bin)]);
  if (count == 0) return decoded;
  std::vector<int32_t> starts;
  if (!ReadSegments(file, layer, size_t(file.firstSegment[size_t(bin)]), count, *decoded, starts) ||
      !ReadPoints(file, starts, *decoded)) {
    return nullptr;
  }
  return decoded;
}

void GshhgStore::Keep(const BinKey& key, std::shared_ptr<const GshhgBin> bin) const {
  recent_.push_front(key);
  cachedBytes_ += bin->Bytes();
  cache_[key] = {std::move(bin), recent_.begin()};
  // The bin just read stays, whatever its size.
  while (cachedBytes_ > cacheLimit_ && recent_.size() > 1) {
    const auto oldest = cache_.find(recent_.back());
    cachedBytes_ -= oldest->second.first->Bytes();
    cache_.erase(oldest);
    recent_.pop_back();
  }
}

std::vector<PlacedBin> GshhgStore::Bins(GshhgLayer layer, GshhgResolution resolution,
                                        double southDeg, double northDeg, double westDeg,
                                        double eastDeg) const {
  std::vector<PlacedBin> placed;
  File* file = OpenFile(layer, resolution);
  if (!file || !(southDeg < northDeg) || !(westDeg < eastDeg)) return placed;
  const double size = file->binMinutes / 60.0;
  // Rows count from the north pole, columns east from longitude 0.
  const double rowTop = std::floor((90.0 - std::min(northDeg, 90.0)) / size);
  const double rowBottom = std::ceil((90.0 - std::max(southDeg, -90.0)) / size) - 1;
  const double columnWest = std::floor(westDeg / size);
  const double columnEast =
      std::min(std::ceil(eastDeg / size) - 1, columnWest + file->binsAcross - 1);
  if (!std::isfinite(columnWest) || !std::isfinite(columnEast) || std::fabs(columnWest) > 1e9 ||
      !std::isfinite(rowTop) || !std::isfinite(rowBottom)) {
    return placed;
  }
  for (int64_t row = std::max<int64_t>(int64_t(rowTop), 0);
       row <= std::min<int64_t>(int64_t(rowBottom), file->binsDown - 1); ++row) {
    for (int64_t column = int64_t(columnWest); column <= int64_t(columnEast); ++column) {
      const int64_t turns =
          column >= 0 ? column / file->binsAcross : -((-column - 1) / file->binsAcross) - 1;
      const int64_t wrapped = column - turns * file->binsAcross;
      const int bin = int(row * file->binsAcross + wrapped);
      const BinKey key{int(layer), int(resolution), bin};
      std::shared_ptr<const GshhgBin> decoded;
      if (auto found = cache_.find(key); found != cache_.end()) {
        recent_.splice(recent_.begin(), recent_, found->second.second);
        decoded = found->second.first;
      } else {
        decoded = LoadBin(*file, layer, bin);
        if (!decoded) return {};  // the file failed: none of it is drawn
        Keep(key, decoded);
      }
      placed.push_back({std::move(decoded), double(turns) * 360.0});
    }
  }
  return placed;
}

}  // namespace roamgrid
