#include "geo/gshhg_store.h"

#include <netcdf.h>

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
// Point offsets count 1/65535 of a bin's side.
constexpr double kOffsetSteps = 65535.0;
// A bin's points are read in one slice when the slice wastes little;
// segments scattered further apart are read one by one.
constexpr size_t kSliceSlack = 4096;

// The bookkeeping of the libnetcdf chunk cache for each variable read. The
// decoded bins are kept by the store itself, so one chunk or two suffice.
constexpr size_t kChunkCacheBytes = size_t(1) << 20;
constexpr size_t kChunkCacheSlots = 521;
constexpr float kChunkCachePreemption = 0.75f;

void ReportToStandardError(const std::string& line) {
  std::fprintf(stderr, "roamgrid: %s\n", line.c_str());
}

}  // namespace

struct GshhgStore::File {
  std::string path;
  bool checked = false;  // presence looked up
  bool present = false;
  bool opened = false;
  bool failed = false;  // a read failed: the file gives nothing from now on
  int ncid = -1;
  int binMinutes = 0;
  int binsAcross = 0;  // bins in 360 degrees of longitude
  int binsDown = 0;    // bins in 180 degrees of latitude
  size_t segmentTotal = 0;
  size_t pointTotal = 0;
  std::vector<int32_t> firstSegment;  // per bin
  std::vector<int16_t> segmentCount;  // per bin
  // Shores pack each segment's point count, level and entry/exit sides in
  // one integer; borders and rivers keep count and level apart.
  int varSegmentInfo = -1;
  int varSegmentPoints = -1;
  int varSegmentLevel = -1;
  int varSegmentStart = -1;
  int varDx = -1;
  int varDy = -1;
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

GshhgStore::GshhgStore(std::string folder, size_t cacheBytes,
                       std::function<void(const std::string&)> report)
    : folder_(std::move(folder)),
      cacheLimit_(cacheBytes),
      report_(report ? std::move(report) : ReportToStandardError) {
  files_.resize(kGshhgLayerCount * kGshhgResolutionCount);
  for (int layer = 0; layer < kGshhgLayerCount; ++layer) {
    for (int resolution = 0; resolution < kGshhgResolutionCount; ++resolution) {
      auto file = std::make_unique<File>();
      file->path = folder_ + "/" + GshhgFileName(GshhgLayer(layer), GshhgResolution(resolution));
      files_[layer * kGshhgResolutionCount + resolution] = std::move(file);
    }
  }
}

GshhgStore::~GshhgStore() {
  for (const auto& file : files_) {
    if (file->opened) nc_close(file->ncid);  // read-only: nothing to lose
  }
}

bool GshhgStore::Installed(GshhgLayer layer, GshhgResolution resolution) const {
  File& file = *files_[int(layer) * kGshhgResolutionCount + int(resolution)];
  if (!file.checked) {
    std::error_code error;
    file.present = std::filesystem::is_regular_file(file.path, error);
    file.checked = true;
  }
  return file.present;
}

std::optional<GshhgResolution> GshhgStore::ChooseResolution(GshhgLayer layer, int zoomIndex) const {
  std::vector<GshhgResolution> order = ResolutionsForZoom(zoomIndex);
  if (layer != GshhgLayer::kShore) {
    std::stable_partition(order.begin(), order.end(),
                          [](GshhgResolution r) { return r != GshhgResolution::kFull; });
  }
  for (GshhgResolution resolution : order) {
    const File& file = *files_[int(layer) * kGshhgResolutionCount + int(resolution)];
    if (Installed(layer, resolution) && !file.failed) return resolution;
  }
  return std::nullopt;
}

void GshhgStore::Fail(File& file, const std::string& what) const {
  if (file.failed) return;
  file.failed = true;
  problems_.push_back(file.path + ": " + what + "; the map background leaves it out");
  report_(problems_.back());
}

GshhgStore::File* GshhgStore::OpenFile(GshhgLayer layer, GshhgResolution resolution) const {
  File& file = *files_[int(layer) * kGshhgResolutionCount + int(resolution)];
  if (file.failed || !Installed(layer, resolution)) return nullptr;
  if (file.opened) return &file;

  static const bool chunkCacheSet =
      nc_set_chunk_cache(kChunkCacheBytes, kChunkCacheSlots, kChunkCachePreemption) == NC_NOERR;
  (void)chunkCacheSet;  // without it the library's default cache is used: larger, still correct

  int rc = nc_open(file.path.c_str(), NC_NOWRITE, &file.ncid);
  if (rc != NC_NOERR) {
    Fail(file, nc_strerror(rc));
    return nullptr;
  }
  file.opened = true;

  const auto fail = [&](int code, const char* what) {
    Fail(file, std::string(what) + ": " + nc_strerror(code));
    return nullptr;
  };
  const auto varId = [&](const char* name, int& id) { return nc_inq_varid(file.ncid, name, &id); };
  // The length of the one dimension of variable `id`.
  const auto length = [&](int id, size_t& n) {
    int dims = 0;
    int dim = 0;
    int code = nc_inq_varndims(file.ncid, id, &dims);
    if (code == NC_NOERR && dims != 1) code = NC_EDIMSIZE;
    if (code == NC_NOERR) code = nc_inq_vardimid(file.ncid, id, &dim);
    if (code == NC_NOERR) code = nc_inq_dimlen(file.ncid, dim, &n);
    return code;
  };
  const auto scalar = [&](const char* name, int& value) {
    int id = -1;
    const size_t at = 0;
    int code = varId(name, id);
    if (code == NC_NOERR) code = nc_get_var1_int(file.ncid, id, &at, &value);
    return code;
  };

  if ((rc = scalar("Bin_size_in_minutes", file.binMinutes)) != NC_NOERR)
    return fail(rc, "bin size");
  if ((rc = scalar("N_bins_in_360_longitude_range", file.binsAcross)) != NC_NOERR) {
    return fail(rc, "bins across");
  }
  if ((rc = scalar("N_bins_in_180_degree_latitude_range", file.binsDown)) != NC_NOERR) {
    return fail(rc, "bins down");
  }
  if (file.binMinutes <= 0 || kMinutesPoleToPole % file.binMinutes != 0 ||
      file.binsAcross != kMinutesAround / file.binMinutes ||
      file.binsDown != kMinutesPoleToPole / file.binMinutes) {
    return fail(NC_EINVAL, "bin layout");
  }
  const size_t binCount = size_t(file.binsAcross) * size_t(file.binsDown);

  int varFirst = -1;
  int varCount = -1;
  size_t n = 0;
  if ((rc = varId("Id_of_first_segment_in_a_bin", varFirst)) != NC_NOERR ||
      (rc = varId("N_segments_in_a_bin", varCount)) != NC_NOERR ||
      (rc = varId("Id_of_first_point_in_a_segment", file.varSegmentStart)) != NC_NOERR ||
      (rc = varId("Relative_longitude_from_SW_corner_of_bin", file.varDx)) != NC_NOERR ||
      (rc = varId("Relative_latitude_from_SW_corner_of_bin", file.varDy)) != NC_NOERR) {
    return fail(rc, "variables");
  }
  if (layer == GshhgLayer::kShore) {
    rc = varId("Embedded_npts_levels_exit_entry_for_a_segment", file.varSegmentInfo);
  } else {
    rc = varId("N_points_for_a_segment", file.varSegmentPoints);
    if (rc == NC_NOERR) rc = varId("Hierarchial_level_of_a_segment", file.varSegmentLevel);
  }
  if (rc != NC_NOERR) return fail(rc, "segment variables");
  if ((rc = length(varFirst, n)) != NC_NOERR) return fail(rc, "bins");
  if (n != binCount) return fail(NC_EEDGE, "bins");
  if ((rc = length(file.varSegmentStart, file.segmentTotal)) != NC_NOERR)
    return fail(rc, "segments");
  if ((rc = length(file.varDx, file.pointTotal)) != NC_NOERR) return fail(rc, "points");

  file.firstSegment.resize(binCount);
  file.segmentCount.resize(binCount);
  const size_t start = 0;
  if ((rc = nc_get_vara_int(file.ncid, varFirst, &start, &binCount, file.firstSegment.data())) !=
          NC_NOERR ||
      (rc = nc_get_vara_short(file.ncid, varCount, &start, &binCount, file.segmentCount.data())) !=
          NC_NOERR) {
    file.firstSegment.clear();
    file.segmentCount.clear();
    return fail(rc, "bin table");
  }
  return &file;
}

std::shared_ptr<const GshhgBin> GshhgStore::LoadBin(File& file, GshhgLayer layer, int bin) const {
  auto decoded = std::make_shared<GshhgBin>();
  const double size = file.binMinutes / 60.0;
  decoded->sizeDeg = size;
  decoded->westDeg = (bin % file.binsAcross) * size;
  decoded->southDeg = 90.0 - (bin / file.binsAcross + 1) * size;

  const int64_t first = file.firstSegment[size_t(bin)];
  const int64_t count = file.segmentCount[size_t(bin)];
  if (count == 0) return decoded;
  if (first < 0 || count < 0 || size_t(first + count) > file.segmentTotal) {
    Fail(file, "a bin names segments the file does not hold");
    return nullptr;
  }
  const size_t at = size_t(first);
  const size_t n = size_t(count);
  std::vector<int32_t> starts(n);
  std::vector<uint32_t> pointCounts(n);
  std::vector<uint8_t> levels(n);
  int rc = nc_get_vara_int(file.ncid, file.varSegmentStart, &at, &n, starts.data());
  if (rc == NC_NOERR && layer == GshhgLayer::kShore) {
    std::vector<int32_t> info(n);
    rc = nc_get_vara_int(file.ncid, file.varSegmentInfo, &at, &n, info.data());
    for (size_t s = 0; rc == NC_NOERR && s < n; ++s) {
      // Bits 0-2 exit side, 3-5 entry side, 6-8 level, 9 up the point count.
      const uint32_t packed = static_cast<uint32_t>(info[s]);
      pointCounts[s] = packed >> 9;
      levels[s] = uint8_t((packed >> 6) & 7);
    }
  } else if (rc == NC_NOERR) {
    std::vector<int16_t> points(n);
    std::vector<int16_t> level(n);
    rc = nc_get_vara_short(file.ncid, file.varSegmentPoints, &at, &n, points.data());
    if (rc == NC_NOERR)
      rc = nc_get_vara_short(file.ncid, file.varSegmentLevel, &at, &n, level.data());
    for (size_t s = 0; rc == NC_NOERR && s < n; ++s) {
      if (points[s] < 0) rc = NC_ERANGE;
      pointCounts[s] = uint32_t(std::max<int16_t>(points[s], 0));
      levels[s] = uint8_t(std::clamp<int16_t>(level[s], 0, 255));
    }
  }
  if (rc != NC_NOERR) {
    Fail(file, std::string("segments: ") + nc_strerror(rc));
    return nullptr;
  }

  size_t lowest = file.pointTotal;
  size_t highest = 0;
  size_t total = 0;
  for (size_t s = 0; s < n; ++s) {
    if (starts[s] < 0 || size_t(starts[s]) + pointCounts[s] > file.pointTotal) {
      Fail(file, "a segment names points the file does not hold");
      return nullptr;
    }
    lowest = std::min(lowest, size_t(starts[s]));
    highest = std::max(highest, size_t(starts[s]) + pointCounts[s]);
    total += pointCounts[s];
  }
  if (total > file.pointTotal) {  // overlapping segments: no sound file has them
    Fail(file, "a bin's segments overlap");
    return nullptr;
  }

  decoded->points.resize(total * 2);
  decoded->segments.resize(n);
  std::vector<int16_t> dx;
  std::vector<int16_t> dy;
  const auto read = [&](size_t from, size_t points) {
    dx.resize(points);
    dy.resize(points);
    if (points == 0) return NC_NOERR;
    int code = nc_get_vara_short(file.ncid, file.varDx, &from, &points, dx.data());
    if (code == NC_NOERR)
      code = nc_get_vara_short(file.ncid, file.varDy, &from, &points, dy.data());
    return code;
  };
  const bool oneSlice = highest > lowest && highest - lowest <= 2 * total + kSliceSlack;
  if (oneSlice) rc = read(lowest, highest - lowest);
  size_t filled = 0;
  for (size_t s = 0; rc == NC_NOERR && s < n; ++s) {
    size_t from = 0;
    if (oneSlice) {
      from = size_t(starts[s]) - lowest;
    } else {
      rc = read(size_t(starts[s]), pointCounts[s]);
    }
    decoded->segments[s] = {uint32_t(filled), pointCounts[s], levels[s]};
    for (size_t p = 0; rc == NC_NOERR && p < pointCounts[s]; ++p) {
      // The offsets are unsigned 16-bit numbers stored in signed shorts.
      decoded->points[(filled + p) * 2] = static_cast<uint16_t>(dx[from + p]);
      decoded->points[(filled + p) * 2 + 1] = static_cast<uint16_t>(dy[from + p]);
    }
    filled += pointCounts[s];
  }
  if (rc != NC_NOERR) {
    Fail(file, std::string("points: ") + nc_strerror(rc));
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
  if (!std::isfinite(columnWest) || !std::isfinite(columnEast) || std::fabs(columnWest) > 1e9) {
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
