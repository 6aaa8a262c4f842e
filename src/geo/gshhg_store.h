// Reading the binned GSHHG geography (shorelines, borders, rivers) from the
// netCDF files that Debian installs below /usr/share/gmt-gshhg. The globe is
// cut into square bins (20 degrees in the crude files down to 1 degree in
// the full ones), numbered row by row from the north-west corner; each bin
// holds line segments whose points are 16-bit offsets from the bin's
// south-west corner in 1/65535 of the bin's side. Only the bins a view
// touches are read, and decoded bins are kept within a memory bound.
//
// Shoreline bins also carry what filling needs: each segment's level and
// the sides of the bin it enters and leaves by, and the level of the bin's
// four corners.
//
// Files are opened when first needed, never at construction, so a program
// that never draws a background reads nothing (and does not even load the
// netCDF library). A missing file is no error (the background is
// optional). Before the netCDF library sees a file, its size and first
// bytes must be those of a netCDF file that is whole; after opening, every
// number the file gives is checked before it sizes anything. A file that
// fails any check is treated as absent from then on, with one message.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "geo/netcdf_file.h"

namespace roamgrid {

// The folder Debian's gmt-gshhg-* packages install into.
inline constexpr char kGshhgFolder[] = "/usr/share/gmt-gshhg";

// The folder to read: $ROAMGRID_GSHHG_DIR when set and not empty, else
// kGshhgFolder.
std::string GshhgFolderFromEnvironment();

enum class GshhgLayer { kShore, kBorder, kRiver };
constexpr int kGshhgLayerCount = 3;

// Resolutions from the coarsest to the finest; the letters of the file names.
enum class GshhgResolution { kCrude, kLow, kIntermediate, kHigh, kFull };
constexpr int kGshhgResolutionCount = 5;
char ResolutionLetter(GshhgResolution resolution);

// "binned_GSHHS_h.nc", "binned_border_l.nc", "binned_river_f.nc", ...
std::string GshhgFileName(GshhgLayer layer, GshhgResolution resolution);

// The resolutions worth trying for a view of zoom index 0..7, best first:
// intermediate (then low) at the widest views, high at the middle ones,
// full (then high) at the closest; every other resolution follows, so a
// single installed one is always found.
std::vector<GshhgResolution> ResolutionsForZoom(int zoomIndex);

// The resolutions worth trying for a Web Mercator view whose pixels are
// `metresPerPixel` on the ground, best first: the resolution the scale
// needs (crude at the world view, full from 80 m a pixel), then the coarser
// ones from the finest, then the finer ones.
std::vector<GshhgResolution> ResolutionsForMercator(double metresPerPixel);

// The sides of a bin a shoreline segment enters or leaves it by.
enum GshhgSide : uint8_t {
  kGshhgSouth = 0,
  kGshhgEast = 1,
  kGshhgNorth = 2,
  kGshhgWest = 3,
  kGshhgInside = 4,  // a closed shoreline wholly inside the bin
};

// Bin coordinates: point offsets count 1/kGshhgBinSteps of a bin's side.
constexpr int kGshhgBinSteps = 65535;

// One decoded bin: its segments and their points.
struct GshhgBin {
  struct Segment {
    uint32_t firstPoint = 0;  // index into `points` (pairs)
    uint32_t pointCount = 0;
    // Shores: 1 sea/land, 2 land/lake, 3 lake/island, 4 island/pond: the
    // shoreline of a polygon of that level. Borders: 1 national, 2
    // internal, 3 maritime. Rivers: 1 major ... 10 canal.
    uint8_t level = 0;
    // Shores only: where the segment's first point enters the bin and its
    // last point leaves it; both kGshhgInside for a closed shoreline.
    uint8_t entrySide = kGshhgInside;
    uint8_t exitSide = kGshhgInside;
  };
  double westDeg = 0;            // south-west corner: longitude 0..360
  double southDeg = 0;           //                    latitude -90..90
  double sizeDeg = 0;            // the side
  std::vector<uint16_t> points;  // x, y, x, y, ... in 1/65535 of the side from the corner
  std::vector<Segment> segments;
  // Shores only: the level (0 sea, 1 land, 2 lake, 3 island in a lake, 4
  // pond in such an island) at the south-west, south-east, north-east and
  // north-west corners.
  std::array<uint8_t, 4> cornerLevels{};

  size_t Bytes() const {
    return sizeof(*this) + points.size() * 2 + segments.size() * sizeof(Segment);
  }
};

// A bin placed for a view: its longitudes are bin.westDeg + offset, where
// the offset (a multiple of 360) brings it next to the view's longitudes.
struct PlacedBin {
  std::shared_ptr<const GshhgBin> bin;
  double lonOffsetDeg = 0;
};

// Limits a sound file stays far within; a file beyond them is damaged or
// foreign. The finest GSHHG bins are 1 degree (60 minutes) and hold some
// 10^5 points.
constexpr int kGshhgMinBinMinutes = 30;
constexpr size_t kGshhgMaxBinPoints = size_t(1) << 22;
constexpr uint64_t kGshhgMaxFileBytes = uint64_t(1) << 30;

// Opens a netCDF file for reading (OpenNetcdfFile by default).
using NetcdfOpener =
    std::function<std::unique_ptr<NetcdfFile>(const std::string& path, std::string* error)>;

class GshhgStore {
 public:
  // Reads from `folder` (Debian's by default). Decoded bins beyond
  // `cacheBytes` are let go of, the least recently used first. Problems go
  // to `report` (one line each, no newline); standard error by default.
  // Files are opened with `opener` (through the netCDF plugin by default).
  explicit GshhgStore(std::string folder = kGshhgFolder, size_t cacheBytes = size_t(24) << 20,
                      std::function<void(const std::string&)> report = {},
                      NetcdfOpener opener = {});
  ~GshhgStore();
  GshhgStore(const GshhgStore&) = delete;
  GshhgStore& operator=(const GshhgStore&) = delete;

  // Whether the file of `layer` at `resolution` exists (checked once; only
  // its presence, nothing is read).
  bool Installed(GshhgLayer layer, GshhgResolution resolution) const;

  // The first of ResolutionsForZoom(zoomIndex) whose `layer` file is
  // installed and not found damaged, or nothing. Borders and rivers take
  // full resolution only when nothing else is there: their full files add
  // little over the high ones, and each file opened costs a redraw several
  // milliseconds once.
  std::optional<GshhgResolution> ChooseResolution(GshhgLayer layer, int zoomIndex) const;
  // The same over any order of resolutions, best first.
  std::optional<GshhgResolution> ChooseResolution(GshhgLayer layer,
                                                  std::vector<GshhgResolution> order) const;

  // The bins of `layer` at `resolution` that meet the box from southDeg to
  // northDeg and from westDeg to eastDeg (any longitudes, west < east, at
  // most 360 apart; latitudes beyond the poles are cut). Empty when the
  // file is missing or damaged; a bin that fails its checks fails the
  // whole file.
  std::vector<PlacedBin> Bins(GshhgLayer layer, GshhgResolution resolution, double southDeg,
                              double northDeg, double westDeg, double eastDeg) const;

  // Whether the file of `layer` at `resolution` has failed a check: it then
  // gives nothing for the rest of the store's life.
  bool Failed(GshhgLayer layer, GshhgResolution resolution) const;

  // Every problem reported so far.
  const std::vector<std::string>& problems() const { return problems_; }
  // The bytes of decoded bins now kept.
  size_t cachedBytes() const { return cachedBytes_; }

 private:
  struct File;
  using BinKey = std::tuple<int, int, int>;  // layer, resolution, bin

  File& FileOf(GshhgLayer layer, GshhgResolution resolution) const;
  File* OpenFile(GshhgLayer layer, GshhgResolution resolution) const;
  std::string ReadIndex(File& file, GshhgLayer layer) const;
  std::shared_ptr<const GshhgBin> LoadBin(File& file, GshhgLayer layer, int bin) const;
  bool ReadSegments(File& file, GshhgLayer layer, size_t first, size_t count, GshhgBin& decoded,
                    std::vector<int32_t>& starts) const;
  bool ReadPoints(File& file, const std::vector<int32_t>& starts, GshhgBin& decoded) const;
  void Fail(File& file, const std::string& what) const;
  void Keep(const BinKey& key, std::shared_ptr<const GshhgBin> bin) const;

  std::string folder_;
  size_t cacheLimit_;
  std::function<void(const std::string&)> report_;
  NetcdfOpener opener_;
  // The store is read through const references by the drawing; the open
  // files and the cache are its private bookkeeping.
  mutable std::vector<std::unique_ptr<File>> files_;  // layer * 5 + resolution
  mutable std::map<BinKey, std::pair<std::shared_ptr<const GshhgBin>, std::list<BinKey>::iterator>>
      cache_;
  mutable std::list<BinKey> recent_;  // most recently used first
  mutable size_t cachedBytes_ = 0;
  mutable std::vector<std::string> problems_;
  mutable bool pluginProblemSaid_ = false;  // every file fails alike: said once
};

}  // namespace roamgrid
