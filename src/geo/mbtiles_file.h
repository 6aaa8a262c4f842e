// A local MBTiles file: an SQLite database whose `tiles` table (or view,
// often over `map` and `images` tables) holds map tile images by
// zoom_level, tile_column and tile_row (rows counted from the south, the
// TMS order), with an optional `metadata` table of names and values.
// Opened read-only and as immutable: nothing is ever written to it, and no
// journal or lock file is made beside it.
//
// The file is trusted no more than a server: every statement runs under a
// bound of kMaxStatementSteps virtual-machine steps and kMaxStatementMs
// milliseconds (a view may hold an endless recursive query), no value
// larger than kMaxTileBytes is ever loaded, and the attribution is cut to
// kMaxAttributionBytes before its markup is read.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "geo/web_mercator.h"

struct sqlite3;
struct sqlite3_stmt;

namespace roamgrid {

class MbtilesFile {
 public:
  static constexpr int kMaxTileBytes = kMaxMapTileBytes;
  // About 25 ms of work: a tile lookup through an index takes under a
  // hundred steps, a scan of a table without one about ten per tile.
  static constexpr int64_t kMaxStatementSteps = 500'000;
  // For a slow disk as much as for a slow query.
  static constexpr int kMaxStatementMs = 2000;
  static constexpr size_t kMaxAttributionBytes = 1024;

  // Opens `path`. Returns null with a short reason in `error` when it is
  // missing, not an SQLite database, has neither a `tiles` table or view
  // nor `map` and `images`, holds vector tiles (format "pbf") rather than
  // images, or does not answer a first tile query within the bounds.
  static std::unique_ptr<MbtilesFile> Open(const std::string& path, std::string& error);
  ~MbtilesFile();
  MbtilesFile(const MbtilesFile&) = delete;
  MbtilesFile& operator=(const MbtilesFile&) = delete;

  // The zoom range (from the metadata, else from the tiles when that
  // answers within the bounds, else 0..kMaxMapTileZoom) and the
  // attribution of the metadata as plain text (AttributionPlainText; may
  // be empty).
  int minZoom() const { return minZoom_; }
  int maxZoom() const { return maxZoom_; }
  const std::string& attribution() const { return attribution_; }

  // The image bytes of `tile` (XYZ order; the row is flipped to the file's
  // TMS order). Empty when the file has no such tile, its data is larger
  // than kMaxTileBytes, or the file has failed.
  std::vector<uint8_t> ReadTile(const MapTileKey& tile);
  // Whether a read ran past the bounds or met an error (a damaged file):
  // the file then answers nothing more, and failure() says why.
  bool failed() const { return !failure_.empty(); }
  const std::string& failure() const { return failure_; }

 private:
  MbtilesFile() = default;
  // Arms the bounds for one statement (prepare or step).
  void Arm();
  static int OnProgress(void* file);
  // sqlite3_step under the bounds.
  int Step(sqlite3_stmt* statement);
  // The text of metadata `name`, if the table has it and it fits the
  // bounds; `interrupted` is set when the bounds stopped the query.
  std::string Metadata(const char* name, bool& interrupted);

  sqlite3* db_ = nullptr;
  sqlite3_stmt* tileQuery_ = nullptr;
  int minZoom_ = 0;
  int maxZoom_ = kMaxMapTileZoom;
  std::string attribution_;
  std::string failure_;
  int64_t stepsLeft_ = 0;
  std::chrono::steady_clock::time_point deadline_;
};

// The attribution text of MBTiles metadata, often a little HTML with
// links, as one line of plain text: cut to
// MbtilesFile::kMaxAttributionBytes (at a character boundary) first, then
// tags removed (a line break, paragraph, division or list item becomes a
// space), the entities &amp; &lt; &gt; &quot; &apos; &nbsp; &copy; and
// numeric ones decoded, control characters and runs of white space made
// one space, and the ends trimmed.
std::string AttributionPlainText(std::string_view html);

}  // namespace roamgrid
