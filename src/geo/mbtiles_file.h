// A local MBTiles file: an SQLite database whose `tiles` table holds map
// tile images by zoom_level, tile_column and tile_row (rows counted from
// the south, the TMS order), with an optional `metadata` table of names and
// values. Opened read-only and as immutable: nothing is ever written to it,
// and no journal or lock file is made beside it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "geo/web_mercator.h"

struct sqlite3;
struct sqlite3_stmt;

namespace roamgrid {

class MbtilesFile {
 public:
  // Opens `path`. Returns null with a short reason in `error` when it is
  // missing, not an SQLite database, has no `tiles` table or holds vector
  // tiles (format "pbf") rather than images.
  static std::unique_ptr<MbtilesFile> Open(const std::string& path, std::string& error);
  ~MbtilesFile();
  MbtilesFile(const MbtilesFile&) = delete;
  MbtilesFile& operator=(const MbtilesFile&) = delete;

  // The zoom range (from the metadata, else from the tiles) and the
  // attribution text of the metadata (may be empty).
  int minZoom() const { return minZoom_; }
  int maxZoom() const { return maxZoom_; }
  const std::string& attribution() const { return attribution_; }

  // The image bytes of `tile` (XYZ order; the row is flipped to the file's
  // TMS order). Empty when the file has no such tile, its data is larger
  // than kMaxTileBytes, or the read fails.
  std::vector<uint8_t> ReadTile(const MapTileKey& tile);

  static constexpr int kMaxTileBytes = 4 << 20;

 private:
  MbtilesFile() = default;
  sqlite3* db_ = nullptr;
  sqlite3_stmt* tileQuery_ = nullptr;
  int minZoom_ = 0;
  int maxZoom_ = kMaxMapTileZoom;
  std::string attribution_;
};

}  // namespace roamgrid
