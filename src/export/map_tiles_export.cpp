#include "export/map_tiles_export.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <memory>
#include <string_view>

#include "common/number_text.h"
#include "common/safe_file.h"
#include "common/temp_name.h"
#include "common/text.h"
#include "export/png_file.h"
#include "geo/coast_background.h"
#include "map/marks_map.h"

namespace roamgrid {

namespace {

// Where the tiles go, one at a time.
class TileSink {
 public:
  virtual ~TileSink() = default;
  // Makes the output ready for tiles; false (error() says why) when not.
  virtual bool Open() = 0;
  virtual bool Put(int z, int x, int y, const std::vector<uint8_t>& png) = 0;
  // Completes the output; false when that failed.
  virtual bool Finish(const MapTilesRequest& request, const TileExportBox& bounds) = 0;
  const std::string& error() const { return error_; }

 protected:
  bool Fail(std::string text) {
    if (error_.empty()) error_ = std::move(text);
    return false;
  }
  std::string error_;
};

// DIR/{z}/{x}/{y}.png, each file replaced whole.
class FolderSink : public TileSink {
 public:
  explicit FolderSink(std::string folder) : folder_(std::move(folder)) {
    while (folder_.size() > 1 && folder_.back() == '/') folder_.pop_back();
  }

  bool Open() override {
    struct stat info;
    if (StatFollowingLinks(folder_, &info) == 0) {
      if (!S_ISDIR(info.st_mode))
        return Fail(Quoted(folder_) +
                    " is not a folder (a tile export writes a folder or an "
                    ".mbtiles file)");
      return true;
    }
    if (errno != ENOENT) return Fail("cannot look at " + Quoted(folder_) + ": " + Reason(errno));
    if (const int error = CreateParentDirectories(folder_ + "/"); error != 0)
      return Fail("cannot create " + Quoted(folder_) + ": " + Reason(error));
    return true;
  }

  bool Put(int z, int x, int y, const std::vector<uint8_t>& png) override {
    const std::string path = folder_ + "/" + std::to_string(z) + "/" + std::to_string(x) + "/" +
                             std::to_string(y) + ".png";
    struct stat info;
    const bool present = fstatat(AT_FDCWD, path.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
    if (!present && errno != ENOENT)
      return Fail("cannot look at " + Quoted(path) + ": " + Reason(errno));
    // A link or anything else under a tile's name is not ours to replace.
    if (present && !S_ISREG(info.st_mode))
      return Fail(Quoted(path) + " is not a regular file; left as it is");
    if (!ReplaceRegularFile(path.c_str(), png.data(), png.size(), present ? &info : nullptr))
      return Fail("cannot write " + Quoted(path) + ": " + Reason(errno));
    return true;
  }

  bool Finish(const MapTilesRequest&, const TileExportBox&) override { return true; }

 private:
  static std::string Reason(int error) { return FileErrorText(error); }
  std::string folder_;
};

// One MBTiles file, written under a temporary name beside the target and
// renamed over it when complete.
class MbTilesSink : public TileSink {
 public:
  explicit MbTilesSink(std::string path) : path_(std::move(path)) {}
  ~MbTilesSink() override { Abandon(); }

  bool Open() override {
    struct stat target;
    const bool present = StatFollowingLinks(path_, &target) == 0;
    if (!present && errno != ENOENT)
      return Fail("cannot look at " + Quoted(path_) + ": " + FileErrorText(errno));
    if (present && !S_ISREG(target.st_mode))
      return Fail(Quoted(path_) + " is not a regular file; left as it is");
    const size_t slash = path_.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : path_.substr(0, slash + 1);
    static unsigned long long serial = 0;
    temp_ = folder + TempFileName(getpid(), ++serial);
    const int fd = open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
      const int error = errno;
      temp_.clear();
      return Fail("cannot create a file beside " + Quoted(path_) + ": " + FileErrorText(error));
    }
    // The new file takes the old one's permissions and, where allowed,
    // its owner and group.
    if (present) {
      (void)fchmod(fd, target.st_mode & 07777);
      (void)fchown(fd, target.st_uid, target.st_gid);
    }
    close(fd);
    if (sqlite3_open_v2(temp_.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
      return DbFail("cannot open");
    // The file is private until renamed: no journal is needed.
    return Exec(
               "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; PRAGMA page_size=4096;"
               "CREATE TABLE metadata (name TEXT, value TEXT);"
               "CREATE TABLE tiles (zoom_level INTEGER, tile_column INTEGER, tile_row INTEGER,"
               " tile_data BLOB);"
               "BEGIN;") &&
           Prepare("INSERT OR REPLACE INTO tiles VALUES (?, ?, ?, ?)", &insert_);
  }

  bool Put(int z, int x, int y, const std::vector<uint8_t>& png) override {
    // MBTiles counts rows from the south (the TMS scheme).
    const int row = (1 << z) - 1 - y;
    sqlite3_bind_int(insert_, 1, z);
    sqlite3_bind_int(insert_, 2, x);
    sqlite3_bind_int(insert_, 3, row);
    sqlite3_bind_blob(insert_, 4, png.data(), int(png.size()), SQLITE_STATIC);
    const int step = sqlite3_step(insert_);
    sqlite3_reset(insert_);
    return step == SQLITE_DONE || DbFail("cannot write");
  }

  bool Finish(const MapTilesRequest& request, const TileExportBox& bounds) override {
    const auto degrees = [](double value) { return FormatFixed(value, 0, 6); };
    const std::pair<const char*, std::string> rows[] = {
        {"name", request.name},
        {"format", "png"},
        {"type", "overlay"},
        {"version", "1.3"},
        {"description", "Visited cells"},
        {"attribution", request.attribution},
        {"minzoom", std::to_string(request.zoomFirst)},
        {"maxzoom", std::to_string(request.zoomLast)},
        {"bounds", degrees(bounds.west) + "," + degrees(bounds.south) + "," + degrees(bounds.east) +
                       "," + degrees(bounds.north)},
        {"center", degrees((bounds.west + bounds.east) / 2) + "," +
                       degrees((bounds.south + bounds.north) / 2) + "," +
                       std::to_string(request.zoomFirst)},
    };
    sqlite3_stmt* metadata = nullptr;
    if (!Prepare("INSERT INTO metadata VALUES (?, ?)", &metadata)) return false;
    bool ok = true;
    for (const auto& [name, value] : rows) {
      sqlite3_bind_text(metadata, 1, name, -1, SQLITE_STATIC);
      sqlite3_bind_text(metadata, 2, value.c_str(), int(value.size()), SQLITE_STATIC);
      ok = ok && sqlite3_step(metadata) == SQLITE_DONE;
      sqlite3_reset(metadata);
    }
    sqlite3_finalize(metadata);
    if (!ok) return DbFail("cannot write");
    if (!Exec("CREATE UNIQUE INDEX tile_index ON tiles (zoom_level, tile_column, tile_row);"
              "COMMIT;"))
      return false;
    sqlite3_finalize(insert_);
    insert_ = nullptr;
    if (sqlite3_close(db_) != SQLITE_OK) return DbFail("cannot close");
    db_ = nullptr;
    // On the disk before it takes the old file's name.
    const int fd = open(temp_.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    const bool synced = fd >= 0 && fdatasync(fd) == 0;
    const int syncError = errno;
    if (fd >= 0) close(fd);
    if (!synced) return Fail("cannot write " + Quoted(temp_) + ": " + FileErrorText(syncError));
    if (rename(temp_.c_str(), path_.c_str()) != 0)
      return Fail("cannot put " + Quoted(path_) + " in place: " + FileErrorText(errno));
    temp_.clear();
    return true;
  }

 private:
  bool Exec(const char* sql) {
    return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK || DbFail("cannot write");
  }
  bool Prepare(const char* sql, sqlite3_stmt** statement) {
    return sqlite3_prepare_v2(db_, sql, -1, statement, nullptr) == SQLITE_OK ||
           DbFail("cannot write");
  }
  bool DbFail(const char* what) {
    return Fail(std::string(what) + " " + Quoted(path_) + ": " +
                (db_ ? sqlite3_errmsg(db_) : "out of memory"));
  }
  void Abandon() {
    if (insert_) sqlite3_finalize(insert_);
    insert_ = nullptr;
    if (db_) sqlite3_close(db_);
    db_ = nullptr;
    if (!temp_.empty()) unlink(temp_.c_str());
    temp_.clear();
  }

  std::string path_;
  std::string temp_;
  sqlite3* db_ = nullptr;
  sqlite3_stmt* insert_ = nullptr;
};

int TileIndex(double tileCoordinate, int zoom) {
  const int last = (1 << zoom) - 1;
  return std::clamp(int(std::floor(tileCoordinate)), 0, last);
}

// The degrees the tiles cover: those of the marks, within the box when one
// is given; the box (or the whole Mercator square) when there is no mark.
TileExportBox CoveredBounds(const MarksMap& map, const std::optional<TileExportBox>& box) {
  TileExportBox bounds{-kMercatorMaxLat, -180, kMercatorMaxLat, 180};
  if (const std::optional<WorldBox> marks = map.MarksBounds()) {
    bounds.north = LatitudeOfWorldY(marks->north);
    bounds.south = LatitudeOfWorldY(marks->south);
    // Bounds across 180 degrees cannot be written west to east: all round.
    if (marks->east <= 1.0) {
      bounds.west = LongitudeOfWorldX(marks->west);
      bounds.east = LongitudeOfWorldX(marks->east);
      if (marks->east >= 1.0) bounds.east = 180;
    }
  }
  if (box) {
    bounds.south = std::max(bounds.south, box->south);
    bounds.north = std::min(bounds.north, box->north);
    if (box->west <= box->east) {
      bounds.west = std::max(bounds.west, box->west);
      bounds.east = std::min(bounds.east, box->east);
    }
    if (bounds.south > bounds.north || bounds.west > bounds.east) {
      bounds = *box;
      if (box->west > box->east) bounds.west = -180, bounds.east = 180;
    }
  }
  return bounds;
}

// Calls `visit` for each tile of the request's zooms that may hold marks
// and meets its box.
void ForEachRequestedTile(const MarksMap& map, const MapTilesRequest& request,
                          const std::function<void(MapTileKey)>& visit) {
  for (int z = request.zoomFirst; z <= request.zoomLast; ++z) {
    std::optional<MapTileRange> range;
    if (request.box) range = TileRangeOfBox(*request.box, z);
    map.ForEachMarksTile(z, [&](MapTileKey key) {
      if (!range || range->Contains(key.x, key.y)) visit(key);
    });
  }
}

}  // namespace

long long CountMapTiles(const MarksMap& map, const MapTilesRequest& request) {
  long long count = 0;
  ForEachRequestedTile(map, request, [&](MapTileKey) { ++count; });
  return count;
}

bool IsMbTilesPath(const std::string& path) {
  constexpr std::string_view kSuffix = ".mbtiles";
  if (path.size() <= kSuffix.size()) return false;
  return std::equal(kSuffix.begin(), kSuffix.end(), path.end() - kSuffix.size(),
                    [](char a, char b) { return a == (b >= 'A' && b <= 'Z' ? b - 'A' + 'a' : b); });
}

bool EncodeMarksTile(const MaskImage& mask, Rgb colour, std::vector<uint8_t>& png) {
  png.clear();
  int row = 0;
  const auto nextRow = [&]() -> const uint8_t* {
    return mask.bytes.data() + size_t(row++) * size_t(mask.width);
  };
  const ByteSinkFn sink = [&](const void* data, size_t size) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    png.insert(png.end(), bytes, bytes + size);
    return true;
  };
  return WriteMarksPng(mask.width, mask.height, nextRow, true, nullptr, sink, colour);
}

bool MapTileRange::Contains(int x, int y) const {
  if (y < yFirst || y > yLast) return false;
  return xFirst <= xLast ? x >= xFirst && x <= xLast : x >= xFirst || x <= xLast;
}

MapTileRange TileRangeOfBox(const TileExportBox& box, int zoom) {
  MapTileRange range;
  const int last = (1 << zoom) - 1;
  const bool crosses = box.west > box.east;
  range.xFirst = box.west <= -180 ? 0 : TileIndex(MercatorTileX(box.west, zoom), zoom);
  range.xLast = box.east >= 180 ? last : TileIndex(MercatorTileX(box.east, zoom), zoom);
  // A box across 180 degrees whose two ends share a column covers that
  // column and every other one: all of them.
  if (crosses && range.xFirst <= range.xLast) range.xFirst = 0, range.xLast = last;
  range.yFirst = TileIndex(MercatorTileY(std::min(box.north, kMercatorMaxLat), zoom), zoom);
  range.yLast = TileIndex(MercatorTileY(std::max(box.south, -kMercatorMaxLat), zoom), zoom);
  return range;
}

MapTilesResult ExportMapTiles(MarksMap& map, const MapTilesRequest& request,
                              const MapTilesProgress& progress) {
  MapTilesResult result;
  if (request.zoomFirst < 0 || request.zoomLast > kMaxMapTileZoom ||
      request.zoomFirst > request.zoomLast) {
    result.error = "the zooms must lie within 0 to " + std::to_string(kMaxMapTileZoom);
    return result;
  }
  std::unique_ptr<TileSink> sink;
  if (IsMbTilesPath(request.path)) {
    sink = std::make_unique<MbTilesSink>(request.path);
  } else {
    sink = std::make_unique<FolderSink>(request.path);
  }
  if (!sink->Open()) {
    result.error = sink->error();
    return result;
  }
  MaskImage mask;
  std::vector<uint8_t> png;
  bool failed = false, stopped = false;
  long long looked = 0;
  ForEachRequestedTile(map, request, [&](MapTileKey key) {
    if (failed) return;
    ++looked;
    if (map.RenderMarksTile(key.zoom, key.x, key.y, mask)) {
      if (!EncodeMarksTile(mask, request.colour, png) || !sink->Put(key.zoom, key.x, key.y, png)) {
        failed = true;
        return;
      }
      ++result.tiles;
    }
    if (progress && !progress(key.zoom, looked, result.tiles)) failed = stopped = true;
  });
  if (!failed) failed = !sink->Finish(request, CoveredBounds(map, request.box));
  result.ok = !failed;
  if (stopped) {
    result.error = "stopped";
  } else if (failed) {
    result.error = sink->error().empty() ? "a tile could not be drawn" : sink->error();
  }
  return result;
}

int WriteCoastTiles(const GshhgStore& store, const std::string& folder, int zoomLast,
                    const std::optional<WorldBox>& around, std::string& error) {
  FolderSink sink(folder);
  if (!sink.Open()) {
    error = sink.error();
    return -1;
  }
  RgbImage image;
  const std::vector<uint8_t> noMarks(kMapTilePixels, 0);
  std::vector<uint8_t> png;
  int finest = -1;
  for (int z = 0; z <= std::min(zoomLast, kMaxCoastTileZoom); ++z) {
    const int64_t tiles = int64_t{1} << z;
    int64_t x0 = 0, x1 = tiles - 1, y0 = 0, y1 = tiles - 1;
    if (z > 3) {
      if (!around) break;
      x0 = int64_t(std::floor(around->west * double(tiles))) - 1;
      x1 = int64_t(std::floor(around->east * double(tiles))) + 1;
      y0 = std::max<int64_t>(0, int64_t(std::floor(around->north * double(tiles))) - 1);
      y1 = std::min<int64_t>(tiles - 1, int64_t(std::floor(around->south * double(tiles))) + 1);
      x1 = std::min(x1, x0 + tiles - 1);
      if ((x1 - x0 + 1) * (y1 - y0 + 1) > kMaxCoastTilesPerZoom) break;
    }
    for (int64_t y = y0; y <= y1; ++y) {
      for (int64_t column = x0; column <= x1; ++column) {
        const int64_t x = WrapWorldPixel(column, tiles);
        const MercatorView view{(double(x) + 0.5) / double(tiles),
                                (double(y) + 0.5) / double(tiles), double(z), kMapTilePixels,
                                kMapTilePixels};
        image = RgbImage(kMapTilePixels, kMapTilePixels);
        if (!DrawCoastMercator(store, view, image).filled) {
          error = "the coast could not be drawn";
          return -1;
        }
        png.clear();
        const auto nextRow = [&]() { return noMarks.data(); };
        const ByteSinkFn bytes = [&](const void* data, size_t size) {
          const auto* at = static_cast<const uint8_t*>(data);
          png.insert(png.end(), at, at + size);
          return true;
        };
        if (!WriteMarksPng(kMapTilePixels, kMapTilePixels, nextRow, false, &image, bytes) ||
            !sink.Put(z, int(x), int(y), png)) {
          error = sink.error().empty() ? "a coast tile could not be encoded" : sink.error();
          return -1;
        }
      }
    }
    finest = z;
  }
  return finest;
}

}  // namespace roamgrid
