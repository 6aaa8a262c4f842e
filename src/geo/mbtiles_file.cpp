#include "geo/mbtiles_file.h"

#include <sqlite3.h>

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <optional>

namespace roamgrid {
namespace {

// An SQLite URI naming `path` exactly: characters that a URI gives a
// meaning to are percent-encoded, and an absolute path behind "file://"
// keeps a path beginning "//" from reading as a host.
std::string FileUri(const std::string& path) {
  std::error_code failure;
  std::filesystem::path absolute = std::filesystem::absolute(path, failure);
  const std::string full = failure ? path : absolute.string();
  std::string uri = "file://";
  static const char kHex[] = "0123456789ABCDEF";
  for (const char c : full) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte == '%' || byte == '?' || byte == '#' || byte < 0x21 || byte >= 0x7F) {
      uri += '%';
      uri += kHex[byte >> 4];
      uri += kHex[byte & 15];
    } else {
      uri += c;
    }
  }
  // mode=ro: never write; immutable=1: no lock, no journal, no -wal file.
  return uri + "?mode=ro&immutable=1";
}

std::optional<int> ZoomValue(const unsigned char* text) {
  if (text == nullptr) return std::nullopt;
  const char* begin = reinterpret_cast<const char*>(text);
  const char* end = begin + std::char_traits<char>::length(begin);
  int value = 0;
  const auto [stop, ec] = std::from_chars(begin, end, value);
  if (ec != std::errc() || stop != end || value < 0 || value > kMaxMapTileZoom) {
    return std::nullopt;
  }
  return value;
}

}  // namespace

std::unique_ptr<MbtilesFile> MbtilesFile::Open(const std::string& path, std::string& error) {
  std::error_code failure;
  if (!std::filesystem::is_regular_file(path, failure)) {
    error = "no such file";
    return nullptr;
  }
  std::unique_ptr<MbtilesFile> file(new MbtilesFile());
  const int flags = SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX;
  if (sqlite3_open_v2(FileUri(path).c_str(), &file->db_, flags, nullptr) != SQLITE_OK) {
    error = file->db_ ? sqlite3_errmsg(file->db_) : "cannot open";
    return nullptr;
  }
  const char* query =
      "SELECT tile_data FROM tiles WHERE zoom_level = ?1 AND tile_column = ?2 AND tile_row = ?3";
  if (sqlite3_prepare_v2(file->db_, query, -1, &file->tileQuery_, nullptr) != SQLITE_OK) {
    error = std::string("not an MBTiles file (") + sqlite3_errmsg(file->db_) + ")";
    return nullptr;
  }
  std::optional<int> minZoom, maxZoom;
  sqlite3_stmt* metadata = nullptr;
  if (sqlite3_prepare_v2(file->db_, "SELECT name, value FROM metadata", -1, &metadata, nullptr) ==
      SQLITE_OK) {
    while (sqlite3_step(metadata) == SQLITE_ROW) {
      const auto* name = reinterpret_cast<const char*>(sqlite3_column_text(metadata, 0));
      const unsigned char* value = sqlite3_column_text(metadata, 1);
      if (name == nullptr || value == nullptr) continue;
      const std::string key = name;
      if (key == "minzoom") minZoom = ZoomValue(value);
      if (key == "maxzoom") maxZoom = ZoomValue(value);
      if (key == "attribution") file->attribution_ = reinterpret_cast<const char*>(value);
      if (key == "format" && std::string(reinterpret_cast<const char*>(value)) == "pbf") {
        error = "holds vector tiles, not images";
        sqlite3_finalize(metadata);
        return nullptr;
      }
    }
  }
  sqlite3_finalize(metadata);
  if (!minZoom || !maxZoom) {
    sqlite3_stmt* range = nullptr;
    if (sqlite3_prepare_v2(file->db_, "SELECT MIN(zoom_level), MAX(zoom_level) FROM tiles", -1,
                           &range, nullptr) == SQLITE_OK &&
        sqlite3_step(range) == SQLITE_ROW) {
      if (!minZoom) minZoom = ZoomValue(sqlite3_column_text(range, 0));
      if (!maxZoom) maxZoom = ZoomValue(sqlite3_column_text(range, 1));
    }
    sqlite3_finalize(range);
  }
  file->minZoom_ = minZoom.value_or(0);
  file->maxZoom_ = std::max(file->minZoom_, maxZoom.value_or(kMaxMapTileZoom));
  return file;
}

MbtilesFile::~MbtilesFile() {
  sqlite3_finalize(tileQuery_);
  sqlite3_close(db_);
}

std::vector<uint8_t> MbtilesFile::ReadTile(const MapTileKey& tile) {
  std::vector<uint8_t> bytes;
  if (tile.zoom < 0 || tile.zoom > kMaxMapTileZoom) return bytes;
  sqlite3_reset(tileQuery_);
  sqlite3_bind_int(tileQuery_, 1, tile.zoom);
  sqlite3_bind_int(tileQuery_, 2, tile.x);
  sqlite3_bind_int(tileQuery_, 3, (1 << tile.zoom) - 1 - tile.y);
  if (sqlite3_step(tileQuery_) == SQLITE_ROW) {
    const int size = sqlite3_column_bytes(tileQuery_, 0);
    const void* data = sqlite3_column_blob(tileQuery_, 0);
    if (data != nullptr && size > 0 && size <= kMaxTileBytes) {
      const auto* begin = static_cast<const uint8_t*>(data);
      bytes.assign(begin, begin + size);
    }
  }
  sqlite3_reset(tileQuery_);
  return bytes;
}

}  // namespace roamgrid
