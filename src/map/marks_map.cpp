#include "map/marks_map.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <list>
#include <map>
#include <unordered_map>
#include <unordered_set>

#include "store/store_walk.h"
#include "common/safe_file.h"
#include "map/cell_placement.h"
#include "map/overview.h"
#include "map/overview_cache.h"
#include "tiles/tile_file.h"
#include "tiles/track_tile.h"

namespace roamgrid {

namespace {

// A file changed this recently may change again within the same tick of
// the file system's clock, leaving its status as it was: it is read again
// at the next Refresh.
constexpr int64_t kSettleSeconds = 2;
// Changes whenever the drawing rules change, so that stamps of old
// drawings do not match.
constexpr uint64_t kStampVersion = 0x6D61726B73763031ull;  // "marksv01"
constexpr int kExplorerExtrasZoom = 17;
constexpr int kPixelZoom = kOverviewZoom + 8;  // explorer zoom of the overview's pixels

uint64_t KeyOf(int32_t latKey, int32_t lonKey) {
  return uint64_t(uint32_t(latKey)) << 32 | uint32_t(lonKey);
}

std::string TilePathOf(int32_t latKey, int32_t lonKey) {
  char path[kTilePathSize];
  FormatTilePath(latKey, lonKey, path);
  return path;
}

// The store's folder as a full path: what the cache file is kept for.
std::string StoreIdentity() {
  if (char* real = realpath("RGD", nullptr)) {
    std::string identity = real;
    free(real);
    return identity;
  }
  char* real = realpath(".", nullptr);  // no store yet: where it will be
  std::string identity = real ? std::string(real) + "/RGD" : "";
  free(real);
  return identity;
}

// The tile code streams last read, up to a byte budget; the least recently
// used go first.
class CodeCache {
 public:
  explicit CodeCache(size_t budget) : budget_(budget) {}
  const std::vector<uint8_t>* Find(uint64_t key) {
    const auto found = index_.find(key);
    if (found == index_.end()) return nullptr;
    entries_.splice(entries_.begin(), entries_, found->second);
    return &found->second->second;
  }
  void Put(uint64_t key, std::vector<uint8_t> bytes) {
    Drop(key);
    if (bytes.size() > budget_) return;
    bytes_ += bytes.size();
    entries_.emplace_front(key, std::move(bytes));
    index_[key] = entries_.begin();
    while (bytes_ > budget_) {
      bytes_ -= entries_.back().second.size();
      index_.erase(entries_.back().first);
      entries_.pop_back();
    }
  }
  void Drop(uint64_t key) {
    const auto found = index_.find(key);
    if (found == index_.end()) return;
    bytes_ -= found->second->second.size();
    entries_.erase(found->second);
    index_.erase(found);
  }
  size_t bytes() const { return bytes_; }

 private:
  using Entry = std::pair<uint64_t, std::vector<uint8_t>>;
  size_t budget_;
  size_t bytes_ = 0;
  std::list<Entry> entries_;
  std::unordered_map<uint64_t, std::list<Entry>::iterator> index_;
};

// Reads the tile file at `path` whole (bounded, no link, no pipe). Returns
// false when it cannot be read; `same` tells whether `status` still
// describes the file read.
bool ReadWholeTile(const std::string& path, const struct stat* status, std::vector<uint8_t>& bytes,
                   bool* same) {
  bytes.resize(kMaxTileFileSize);
  TileFileHold hold;
  const long got = ReadTileFile(path.c_str(), bytes.data(), nullptr, &hold);
  if (got < 0) {
    bytes.clear();
    return false;
  }
  bytes.resize(size_t(got));
  bytes.shrink_to_fit();
  if (same) *same = status && hold.Same(*status);
  return true;
}

// The zoom 17 explorer tiles of the visited cells of a tile whose masks are
// both 0 (which the map does not draw but `stats` counts).
std::vector<uint64_t> ExplorerExtras(const std::vector<uint8_t>& file, int32_t latKey,
                                     int32_t lonKey, RowPlacements& placements) {
  if (file.size() < kTileHeaderSize || file[0] != 0x00 || file[1] != 0 || file[2] != 0) return {};
  std::vector<uint64_t> extras;
  ForEachCentrePixel(file.data() + kTileHeaderSize, file.size() - kTileHeaderSize,
                     kExplorerExtrasZoom, latKey, lonKey, placements, [&](int64_t x, int64_t y) {
                       extras.push_back(uint64_t(y) << 32 | uint64_t(x));
                     });
  std::sort(extras.begin(), extras.end());
  extras.erase(std::unique(extras.begin(), extras.end()), extras.end());
  return extras;
}

bool Contains(const PixelRect& rect, int64_t x, int64_t y) {
  return x >= rect.x0 && x <= rect.x1 && y >= rect.y0 && y <= rect.y1;
}

}  // namespace

bool IsCellZoom(double zoom) { return kMapTilePixels * std::exp2(zoom) >= kCellPixelScale; }

std::string OverviewCacheFolder(const char* xdgCacheHome, const char* home) {
  if (xdgCacheHome && xdgCacheHome[0] == '/')
    return std::string(xdgCacheHome) + "/roamgrid/overview";
  if (home && home[0] == '/') return std::string(home) + "/.cache/roamgrid/overview";
  return {};
}

struct MarksMap::State {
  MarksMapOptions options;
  std::string store;
  std::vector<TileRecord> records;  // in key order
  OverviewPyramid overview;
  RowPlacements placements;
  CodeCache code;
  bool cacheBehind = false;
  MaskImage wide;  // a drawing one pixel wider, before the 2 x 2 rule
  struct ExplorerEntry {
    uint64_t generation = UINT64_MAX;
    ExplorerLayerData data;
  };
  std::map<int, ExplorerEntry> explorer;

  explicit State(MarksMapOptions o) : options(std::move(o)), code(options.codeCacheBytes) {}

  void Warn(const std::string& line) const {
    if (options.warn) {
      options.warn(line);
    } else {
      std::fprintf(stderr, "%s\n", line.c_str());
    }
  }

  const TileRecord* Find(int32_t latKey, int32_t lonKey) const {
    TileRecord probe;
    probe.latKey = latKey;
    probe.lonKey = lonKey;
    const auto at = std::lower_bound(records.begin(), records.end(), probe, RecordKeyLess);
    return at != records.end() && at->latKey == latKey && at->lonKey == lonKey ? &*at : nullptr;
  }

  // Calls visit(record) for every record with a key in the ranges (keys in
  // centidegrees, both ends included).
  template <class Visit>
  void ForEachRecordIn(int64_t latFirst, int64_t latLast, int64_t lonFirst, int64_t lonLast,
                       Visit&& visit) const {
    if (latFirst > latLast || lonFirst > lonLast) return;
    TileRecord probe;
    probe.latKey = int32_t(std::clamp<int64_t>(latFirst, INT32_MIN, INT32_MAX));
    probe.lonKey = int32_t(std::clamp<int64_t>(lonFirst, INT32_MIN, INT32_MAX));
    auto at = std::lower_bound(records.begin(), records.end(), probe, RecordKeyLess);
    while (at != records.end() && at->latKey <= latLast) {
      // West of the range: on to its first key in this latitude; east of
      // it: on to the next latitude.
      if (at->lonKey < lonFirst || at->lonKey > lonLast) {
        probe.latKey = at->lonKey < lonFirst ? at->latKey : at->latKey + 1;
        at = std::lower_bound(at, records.end(), probe, RecordKeyLess);
        continue;
      }
      visit(*at);
      ++at;
    }
  }

  // The bytes of a tile file of the store, from the cache or the disk; null
  // when it cannot be read.
  const std::vector<uint8_t>* Bytes(int32_t latKey, int32_t lonKey) {
    const uint64_t key = KeyOf(latKey, lonKey);
    if (const std::vector<uint8_t>* cached = code.Find(key)) return cached;
    std::vector<uint8_t> bytes;
    if (!ReadWholeTile(TilePathOf(latKey, lonKey), nullptr, bytes, nullptr)) return nullptr;
    code.Put(key, std::move(bytes));
    return code.Find(key);
  }

  // Draws the marks of `grid` onto `mask` (resized to it).
  void Render(const ScreenGrid& grid, MaskImage& mask) {
    if (IsCellZoom(grid.zoom)) {
      mask.Reset(grid.width, grid.height);
      DrawDirect(grid, PlaceLevel(grid, PlacementZoom(grid.zoom)), mask);
      return;
    }
    const ScreenGrid widened = grid.Widened();
    wide.Reset(widened.width, widened.height);
    const LevelOnScreen level = PlaceLevel(widened, PlacementZoom(grid.zoom));
    if (level.level <= kOverviewZoom) {
      DrawOverview(overview, widened, level, wide);
    } else {
      DrawDirect(widened, level, wide);
    }
    DrawTwoByTwo(wide, mask);
  }

  // Draws from the tile files in view.
  void DrawDirect(const ScreenGrid& grid, const LevelOnScreen& level, MaskImage& mask) {
    if (grid.width <= 0 || grid.height <= 0) return;
    const double left = grid.originX - grid.margin, top = grid.originY - grid.margin;
    const double west = left / grid.scale, east = (left + grid.width) / grid.scale;
    const double north = std::max(top / grid.scale, 0.0);
    const double south = std::min((top + grid.height) / grid.scale, 1.0);
    if (!(north < south)) return;
    // One tile more on each side: a cell centre's pixel may lie half a
    // pixel beyond its tile.
    const int64_t latFirst =
        kCentiPerTile * (int64_t(std::floor(LatitudeOfWorldY(south) * 20)) - 1);
    const int64_t latLast = kCentiPerTile * (int64_t(std::floor(LatitudeOfWorldY(north) * 20)) + 1);
    for (int64_t wrap = int64_t(std::floor(west)); wrap <= int64_t(std::floor(east)); ++wrap) {
      const double from = std::max(west - double(wrap), 0.0) * 360 - 180;
      const double to = std::min(east - double(wrap), 1.0) * 360 - 180;
      const int64_t lonFirst = kCentiPerTile * (int64_t(std::floor(from * 20)) - 1);
      const int64_t lonLast = kCentiPerTile * (int64_t(std::floor(to * 20)) + 1);
      std::vector<std::pair<int32_t, int32_t>> keys;
      ForEachRecordIn(latFirst, latLast, std::max<int64_t>(lonFirst, -18000),
                      std::min<int64_t>(lonLast, 17995), [&](const TileRecord& record) {
                        keys.push_back({record.latKey, record.lonKey});
                      });
      for (const auto& [latKey, lonKey] : keys) {
        const std::vector<uint8_t>* bytes = Bytes(latKey, lonKey);
        if (!bytes) continue;
        size_t size = 0;
        const uint8_t* code = MarkingCodeStream(*bytes, size);
        DrawTileCells(code, size, latKey, lonKey, int(wrap), grid, level, placements, mask);
      }
    }
  }

  // Clears the overview where the tiles `dirty` can mark it and draws them
  // and their neighbours there again, from the code cache (which holds the
  // tiles just read, as far as its budget goes) or the files.
  void Redraw(const std::vector<std::pair<int32_t, int32_t>>& dirty) {
    std::unordered_map<uint64_t, PixelRect> footprints;
    for (const auto& [latKey, lonKey] : dirty) {
      const PixelRect rect = TileFootprint(kPixelZoom, latKey, lonKey, placements);
      footprints[KeyOf(latKey, lonKey)] = rect;
      overview.Clear(rect);
    }
    const auto draw = [&](int32_t latKey, int32_t lonKey, const std::vector<uint8_t>& bytes,
                          const std::vector<PixelRect>& clip) {
      size_t size = 0;
      const uint8_t* code = MarkingCodeStream(bytes, size);
      if (!code) return;
      ForEachCentrePixel(code, size, kPixelZoom, latKey, lonKey, placements,
                         [&](int64_t x, int64_t y) {
                           if (clip.empty()) {
                             overview.Mark(x, y);
                             return;
                           }
                           for (const PixelRect& rect : clip)
                             if (Contains(rect, x, y)) return overview.Mark(x, y);
                         });
    };
    // The changed tiles themselves: everything they mark lies in their
    // footprint.
    for (const auto& [latKey, lonKey] : dirty)
      if (Find(latKey, lonKey))
        if (const std::vector<uint8_t>* bytes = Bytes(latKey, lonKey))
          draw(latKey, lonKey, *bytes, {});
    // Their unchanged neighbours share the footprints' edge pixels.
    std::map<uint64_t, std::vector<PixelRect>> neighbours;
    for (const auto& [latKey, lonKey] : dirty) {
      for (int dLat = -1; dLat <= 1; ++dLat) {
        for (int dLon = -1; dLon <= 1; ++dLon) {
          const int32_t lat = latKey + dLat * kCentiPerTile;
          const int32_t lon = NormalizeLonKey(int64_t{lonKey} + dLon * kCentiPerTile);
          const uint64_t key = KeyOf(lat, lon);
          if (footprints.count(key) || !Find(lat, lon)) continue;
          neighbours[key].push_back(footprints[KeyOf(latKey, lonKey)]);
        }
      }
    }
    for (const auto& [key, clip] : neighbours) {
      const int32_t latKey = int32_t(uint32_t(key >> 32)), lonKey = int32_t(uint32_t(key));
      if (const std::vector<uint8_t>* bytes = Bytes(latKey, lonKey))
        draw(latKey, lonKey, *bytes, clip);
    }
    overview.UpdateCoarser();
  }
};

MarksMap::MarksMap(MarksMapOptions options) : state_(std::make_unique<State>(std::move(options))) {
  State& s = *state_;
  s.store = StoreIdentity();
  if (!s.options.useCacheFile) return;
  std::string folder = s.options.cacheFolder;
  if (folder.empty())
    folder = OverviewCacheFolder(std::getenv("XDG_CACHE_HOME"), std::getenv("HOME"));
  if (folder.empty() || s.store.empty()) return;
  char name[32];
  std::snprintf(name, sizeof name, "%016llx.overview",
                static_cast<unsigned long long>(
                    HashBytes(reinterpret_cast<const uint8_t*>(s.store.data()), s.store.size())));
  cachePath_ = folder + "/" + name;
  cacheFile_ = CacheFile::kAbsent;

  const int fd = OpenRegularFileAt(cachePath_);
  if (fd < 0) {
    if (errno == ENOENT) return;
    s.Warn("roamgrid: the map overview " + cachePath_ + " cannot be read (" + FileErrorText(errno) +
           "); it is built again");
    cacheFile_ = CacheFile::kSetAside;
    s.cacheBehind = true;
    return;
  }
  std::vector<uint8_t> bytes;
  struct stat info;
  bool readable = fstat(fd, &info) == 0 && uint64_t(info.st_size) <= kMaxOverviewCacheBytes;
  if (readable) {
    bytes.resize(size_t(info.st_size));
    size_t got = 0;
    while (readable && got < bytes.size()) {
      const ssize_t n = read(fd, bytes.data() + got, bytes.size() - got);
      if (n > 0) {
        got += size_t(n);
      } else if (n == 0 || errno != EINTR) {
        readable = false;
      }
    }
  }
  close(fd);
  const CacheRead result =
      readable ? DecodeOverviewCache(bytes.data(), bytes.size(), s.store, s.records, s.overview)
               : CacheRead::kDamaged;
  if (result == CacheRead::kLoaded) {
    cacheFile_ = CacheFile::kLoaded;
    return;
  }
  const char* why = result == CacheRead::kOtherStore     ? "belongs to another store"
                    : result == CacheRead::kOtherVersion ? "is of another version"
                                                         : "is damaged";
  s.Warn("roamgrid: the map overview " + cachePath_ + " " + why + "; it is built again");
  cacheFile_ = CacheFile::kSetAside;
  s.cacheBehind = true;
}

MarksMap::~MarksMap() { SaveCache(); }

const OverviewPyramid& MarksMap::overview() const { return state_->overview; }

bool MarksMap::Refresh() {
  State& s = *state_;
  tilesRead_ = 0;
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);

  // The tile files of the store now, in key order, with their status.
  struct Listed {
    TileRecord record;
    std::string path;
  };
  std::vector<Listed> listed;
  WalkStore([&](const StoreEntry& entry) {
    if (entry.kind != StoreEntry::Kind::kTileFile) return;
    struct stat info;
    if (fstatat(AT_FDCWD, entry.path.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(info.st_mode))
      return;  // gone since the listing, or no longer a file: as if not there
    Listed item;
    item.record.latKey = entry.key.latKey;
    item.record.lonKey = entry.key.lonKey;
    item.record.device = uint64_t(info.st_dev);
    item.record.inode = uint64_t(info.st_ino);
    item.record.size = int64_t(info.st_size);
    item.record.modifiedSeconds = int64_t(info.st_mtim.tv_sec);
    item.record.modifiedNanoseconds = int64_t(info.st_mtim.tv_nsec);
    item.path = entry.path;
    listed.push_back(std::move(item));
  });
  std::sort(listed.begin(), listed.end(),
            [](const Listed& a, const Listed& b) { return RecordKeyLess(a.record, b.record); });

  std::vector<TileRecord> records;
  records.reserve(listed.size());
  std::vector<std::pair<int32_t, int32_t>> dirty;
  bool changed = false;  // anything drawn
  bool behind = false;   // anything the cache file keeps
  size_t old = 0;
  for (Listed& item : listed) {
    while (old < s.records.size() && RecordKeyLess(s.records[old], item.record)) {
      dirty.push_back({s.records[old].latKey, s.records[old].lonKey});  // removed
      changed = true;
      ++old;
    }
    const TileRecord* before = old < s.records.size() && !RecordKeyLess(item.record, s.records[old])
                                   ? &s.records[old++]
                                   : nullptr;
    TileRecord& record = item.record;
    if (before && before->settled && before->SameStatus(record)) {
      records.push_back(*before);
      continue;
    }
    // New, changed, or not settled: read it.
    struct stat status {};
    status.st_dev = dev_t(record.device);
    status.st_ino = ino_t(record.inode);
    status.st_size = off_t(record.size);
    status.st_mtim.tv_sec = time_t(record.modifiedSeconds);
    status.st_mtim.tv_nsec = long(record.modifiedNanoseconds);
    std::vector<uint8_t> bytes;
    bool same = false;
    ++tilesRead_;
    const bool read = ReadWholeTile(item.path, &status, bytes, &same);
    record.hash = read ? HashBytes(bytes.data(), bytes.size()) : 0;
    record.settled = read && same && record.modifiedSeconds + kSettleSeconds < now.tv_sec;
    if (before && before->hash == record.hash && read == (before->hash != 0)) {
      record.explorerExtras = before->explorerExtras;  // the same bytes: the same drawing
      behind |= !(*before == record);
      records.push_back(std::move(record));
      continue;
    }
    record.explorerExtras = ExplorerExtras(bytes, record.latKey, record.lonKey, s.placements);
    // Kept for the drawing below, as far as the cache's budget goes; what
    // it cannot keep is read again there, so memory stays bounded.
    s.code.Put(KeyOf(record.latKey, record.lonKey), std::move(bytes));
    dirty.push_back({record.latKey, record.lonKey});
    changed = true;
    records.push_back(std::move(record));
  }
  for (; old < s.records.size(); ++old) {
    dirty.push_back({s.records[old].latKey, s.records[old].lonKey});
    changed = true;
  }
  s.records = std::move(records);
  for (const auto& [latKey, lonKey] : dirty)
    if (!s.Find(latKey, lonKey)) s.code.Drop(KeyOf(latKey, lonKey));  // removed
  if (!dirty.empty()) s.Redraw(dirty);
  s.cacheBehind |= behind || changed;
  if (changed) ++generation_;
  return changed;
}

bool MarksMap::SaveCache() {
  State& s = *state_;
  if (cachePath_.empty()) return false;
  if (!s.cacheBehind) return true;
  const std::vector<uint8_t> bytes = EncodeOverviewCache(s.store, s.records, s.overview);
  if (bytes.empty() || CreateParentDirectories(cachePath_) != 0) return false;
  ReplacingFile file(cachePath_);
  if (!file.Open() || !file.Write(bytes.data(), bytes.size()) || !file.Commit()) return false;
  s.cacheBehind = false;
  return true;
}

void MarksMap::RenderMarks(const MercatorView& view, MaskImage& mask) {
  state_->Render(ScreenGrid::OfView(view), mask);
}

bool MarksMap::RenderMarksTile(int z, int x, int y, MaskImage& mask) {
  if (z < 0 || z > kMaxMapTileZoom || x < 0 || y < 0 || x >= (1 << z) || y >= (1 << z)) {
    mask.Reset(kMapTilePixels, kMapTilePixels);
    return false;
  }
  state_->Render(ScreenGrid::OfTile(z, x, y), mask);
  return mask.Any();
}

std::optional<WorldBox> MarksMap::MarksBounds() const {
  const OverviewPyramid& overview = state_->overview;
  if (overview.Empty()) return {};
  const int64_t world = OverviewPyramid::WorldPixels(kOverviewZoom);
  const int64_t columns = world / kOverviewBlockSide;
  std::vector<uint8_t> used(size_t(columns), 0);
  int64_t top = INT64_MAX, bottom = -1;
  overview.ForEachBlock(kOverviewZoom,
                        [&](int64_t bx, int64_t by, const OverviewPyramid::Block& b) {
                          used[size_t(bx)] = 1;
                          for (int row = 0; row < kOverviewBlockSide; ++row) {
                            if (!b.rows[size_t(row)]) continue;
                            top = std::min(top, by * kOverviewBlockSide + row);
                            bottom = std::max(bottom, by * kOverviewBlockSide + row);
                          }
                        });
  // The widest run of empty block columns, round the world: the box is
  // what lies outside it.
  int64_t gapStart = 0, gapLength = 0;
  const int64_t firstUsed = std::find(used.begin(), used.end(), 1) - used.begin();
  for (int64_t at = firstUsed + 1, run = 0; at <= firstUsed + columns; ++at) {
    if (!used[size_t(at % columns)]) {
      ++run;
      continue;
    }
    if (run > gapLength) gapStart = at - run, gapLength = run;
    run = 0;
  }
  int64_t westColumn = 0, eastColumn = columns - 1;
  if (gapLength > 0) {
    westColumn = (gapStart + gapLength) % columns;
    eastColumn = (gapStart + columns - 1) % columns;
  }
  int64_t west = INT64_MAX, east = -1;
  overview.ForEachBlock(kOverviewZoom, [&](int64_t bx, int64_t, const OverviewPyramid::Block& b) {
    if (bx != westColumn && bx != eastColumn) return;
    uint64_t any = 0;
    for (uint64_t row : b.rows) any |= row;
    if (bx == westColumn) west = std::min(west, bx * kOverviewBlockSide + std::countr_zero(any));
    if (bx == eastColumn)
      east = std::max(east, bx * kOverviewBlockSide + 63 - std::countl_zero(any));
  });
  WorldBox box;
  box.west = double(west) / double(world);
  box.east = double(east + 1 + (eastColumn < westColumn ? world : 0)) / double(world);
  box.north = double(top) / double(world);
  box.south = double(bottom + 1) / double(world);
  return box;
}

void MarksMap::ForEachMarksTile(int z, const std::function<void(MapTileKey)>& visit) const {
  if (z < 0 || z > kMaxMapTileZoom) return;
  const OverviewPyramid& overview = state_->overview;
  constexpr int kBlocksPerTile = kMapTilePixels / kOverviewBlockSide;
  // The map tiles of a zoom up to the overview's that hold a marked pixel,
  // or the pixel east, south or south-east of one (the 2 x 2 rule).
  const auto marked = [&](int zoom) {
    const int64_t tiles = int64_t{1} << zoom;
    std::vector<uint64_t> keys;
    overview.ForEachBlock(zoom, [&](int64_t bx, int64_t by, const OverviewPyramid::Block& b) {
      const int64_t x = bx / kBlocksPerTile, y = by / kBlocksPerTile;
      const auto add = [&](int64_t tx, int64_t ty) {
        if (ty < tiles) keys.push_back(uint64_t(FloorMod(tx, tiles)) << 32 | uint64_t(ty));
      };
      add(x, y);
      const bool eastEdge = bx % kBlocksPerTile == kBlocksPerTile - 1;
      const bool southEdge = by % kBlocksPerTile == kBlocksPerTile - 1;
      uint64_t lastColumn = 0;
      for (uint64_t row : b.rows) lastColumn |= row >> 63;
      const uint64_t lastRow = b.rows[kOverviewBlockSide - 1];
      if (eastEdge && lastColumn) add(x + 1, y);
      if (southEdge && lastRow) add(x, y + 1);
      if (eastEdge && southEdge && (lastRow >> 63)) add(x + 1, y + 1);
    });
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
    return keys;
  };
  if (z <= kOverviewZoom) {
    for (uint64_t key : marked(z)) visit({z, int(key >> 32), int(uint32_t(key))});
    return;
  }
  // Closer: each tile of the overview's zoom in turn names the tiles of z
  // below it that hold, or lie within one overview pixel (and one pixel of
  // z) of, a marked overview pixel; a cell is less than one overview pixel
  // from its centre's pixel.
  const int shift = z - kOverviewZoom;
  const int64_t scale = int64_t{1} << shift;
  const int64_t tilesOfZ = int64_t{1} << z;
  const int64_t world = OverviewPyramid::WorldPixels(kOverviewZoom);
  // A cell reaches less than one overview pixel past its centre's pixel,
  // and its pixel may lie in the next overview tile in any direction.
  std::vector<uint64_t> around;
  const int64_t overviewTiles = int64_t{1} << kOverviewZoom;
  for (uint64_t key : marked(kOverviewZoom)) {
    const int64_t tx = int64_t(key >> 32), ty = int64_t(uint32_t(key));
    for (int64_t dy = -1; dy <= 1; ++dy)
      for (int64_t dx = -1; dx <= 1; ++dx)
        if (ty + dy >= 0 && ty + dy < overviewTiles)
          around.push_back(uint64_t(FloorMod(tx + dx, overviewTiles)) << 32 | uint64_t(ty + dy));
  }
  std::sort(around.begin(), around.end());
  around.erase(std::unique(around.begin(), around.end()), around.end());
  for (uint64_t key : around) {
    const int64_t tx = int64_t(key >> 32), ty = int64_t(uint32_t(key));
    std::vector<uint64_t> found;
    const PixelRect near{tx * kMapTilePixels - 2, ty * kMapTilePixels - 2,
                         tx * kMapTilePixels + kMapTilePixels + 1,
                         ty * kMapTilePixels + kMapTilePixels + 1};
    const auto visitPixel = [&](int64_t x, int64_t y, int64_t shiftX) {
      x += shiftX;
      const int64_t x0 = FloorDiv(((x - 1) * scale - 1), kMapTilePixels);
      const int64_t x1 = FloorDiv((x + 2) * scale, kMapTilePixels);
      const int64_t y0 = std::max<int64_t>(FloorDiv((y - 1) * scale - 1, kMapTilePixels), 0);
      const int64_t y1 = std::min(FloorDiv((y + 2) * scale, kMapTilePixels), tilesOfZ - 1);
      // Only the tiles of z below this overview tile are named here.
      for (int64_t cx = std::max(x0, tx * scale); cx <= std::min(x1, tx * scale + scale - 1); ++cx)
        for (int64_t cy = std::max(y0, ty * scale); cy <= std::min(y1, ty * scale + scale - 1);
             ++cy)
          found.push_back(uint64_t(cx) << 32 | uint64_t(cy));
    };
    for (int64_t wrap = -1; wrap <= 1; ++wrap) {
      const PixelRect part{near.x0 - wrap * world, near.y0, near.x1 - wrap * world, near.y1};
      overview.ForEachMarked(kOverviewZoom, part,
                             [&](int64_t x, int64_t y) { visitPixel(x, y, wrap * world); });
    }
    std::sort(found.begin(), found.end());
    found.erase(std::unique(found.begin(), found.end()), found.end());
    for (uint64_t tile : found) visit({z, int(tile >> 32), int(uint32_t(tile))});
  }
}

uint64_t MarksMap::TileStamp(int z, int x, int y) const {
  uint64_t stamp = kStampVersion;
  if (z < 0 || z > kMaxMapTileZoom || x < 0 || y < 0 || x >= (1 << z) || y >= (1 << z))
    return stamp;
  const double tiles = std::ldexp(1.0, z);
  // The store tiles around the map tile, one more on each side: every one
  // whose cells can draw into it.
  const double north = LatitudeOfWorldY(y / tiles), south = LatitudeOfWorldY((y + 1) / tiles);
  const int64_t latFirst = kCentiPerTile * (int64_t(std::floor(south * 20)) - 1);
  const int64_t latLast = kCentiPerTile * (int64_t(std::floor(north * 20)) + 1);
  const int64_t lonFirst = kCentiPerTile * (int64_t(std::floor((x / tiles * 360 - 180) * 20)) - 1);
  const int64_t lonLast =
      kCentiPerTile * (int64_t(std::floor(((x + 1) / tiles * 360 - 180) * 20)) + 1);
  const auto add = [&](const TileRecord& record) {
    stamp += MixBits(record.hash ^ MixBits(KeyOf(record.latKey, record.lonKey)));
  };
  const State& s = *state_;
  s.ForEachRecordIn(latFirst, latLast, std::max<int64_t>(lonFirst, -18000),
                    std::min<int64_t>(lonLast, 17995), add);
  if (lonFirst < -18000) s.ForEachRecordIn(latFirst, latLast, lonFirst + 36000, 17995, add);
  if (lonLast > 17995) s.ForEachRecordIn(latFirst, latLast, -18000, lonLast - 36000, add);
  return stamp;
}

const ExplorerLayerData& MarksMap::Explorer(int zoom) {
  State& s = *state_;
  State::ExplorerEntry& entry = s.explorer[zoom];
  if (entry.generation == generation_) return entry.data;
  entry.generation = generation_;
  entry.data = {};
  entry.data.zoom = zoom;
  const int level = zoom - 8;
  if (level < 0 || level > kOverviewZoom || zoom > kExplorerExtrasZoom) return entry.data;
  ExplorerTileSet set(zoom);
  s.overview.ForEachBlock(level, [&](int64_t bx, int64_t by, const OverviewPyramid::Block& b) {
    for (int row = 0; row < kOverviewBlockSide; ++row)
      for (uint64_t bits = b.rows[size_t(row)]; bits != 0; bits &= bits - 1)
        set.Add({int32_t(bx * kOverviewBlockSide + std::countr_zero(bits)),
                 int32_t(by * kOverviewBlockSide + row)});
  });
  const int shift = kExplorerExtrasZoom - zoom;
  for (const TileRecord& record : s.records)
    for (uint64_t extra : record.explorerExtras)
      set.Add({int32_t(uint32_t(extra) >> shift), int32_t(uint32_t(extra >> 32) >> shift)});
  entry.data.summary = set.Summarize(&entry.data.shapes);
  return entry.data;
}

void MarksMap::ForEachExploredTile(int zoom, int32_t xFirst, int32_t xLast, int32_t yFirst,
                                   int32_t yLast,
                                   const std::function<void(ExplorerTile)>& visit) const {
  const State& s = *state_;
  const int level = zoom - 8;
  if (level < 0 || level > kOverviewZoom || zoom > kExplorerExtrasZoom) return;
  s.overview.ForEachMarked(level, PixelRect{xFirst, yFirst, xLast, yLast},
                           [&](int64_t x, int64_t y) {
                             visit({int32_t(x), int32_t(y)});
                           });
  const int shift = kExplorerExtrasZoom - zoom;
  std::unordered_set<uint64_t> told;
  for (const TileRecord& record : s.records) {
    for (uint64_t extra : record.explorerExtras) {
      const int32_t x = int32_t(uint32_t(extra) >> shift);
      const int32_t y = int32_t(uint32_t(extra >> 32) >> shift);
      if (x < xFirst || x > xLast || y < yFirst || y > yLast || s.overview.Get(level, x, y))
        continue;
      if (told.insert(uint64_t(uint32_t(y)) << 32 | uint32_t(x)).second) visit({x, y});
    }
  }
}

bool MarksMap::HasTileFile(int32_t latKey, int32_t lonKey) const {
  return state_->Find(latKey, lonKey) != nullptr;
}

}  // namespace roamgrid
