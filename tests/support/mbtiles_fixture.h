// Test helper: writes a small MBTiles file (SQLite) holding the given tiles,
// keyed in XYZ order and stored in the file's TMS row order.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "geo/web_mercator.h"

namespace roamgrid::testing {

inline bool WriteMbtiles(const std::string& path,
                         const std::map<MapTileKey, std::vector<uint8_t>>& tiles,
                         const std::map<std::string, std::string>& metadata = {}) {
  sqlite3* db = nullptr;
  bool ok = sqlite3_open(path.c_str(), &db) == SQLITE_OK &&
            sqlite3_exec(db,
                         "CREATE TABLE metadata (name TEXT, value TEXT);"
                         "CREATE TABLE tiles (zoom_level INTEGER, tile_column INTEGER,"
                         " tile_row INTEGER, tile_data BLOB);",
                         nullptr, nullptr, nullptr) == SQLITE_OK;
  sqlite3_stmt* insert = nullptr;
  ok = ok && sqlite3_prepare_v2(db, "INSERT INTO tiles VALUES (?1, ?2, ?3, ?4)", -1, &insert,
                                nullptr) == SQLITE_OK;
  for (const auto& [key, bytes] : tiles) {
    if (!ok) break;
    sqlite3_bind_int(insert, 1, key.zoom);
    sqlite3_bind_int(insert, 2, key.x);
    sqlite3_bind_int(insert, 3, (1 << key.zoom) - 1 - key.y);
    sqlite3_bind_blob(insert, 4, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
    ok = sqlite3_step(insert) == SQLITE_DONE;
    sqlite3_reset(insert);
  }
  sqlite3_finalize(insert);
  for (const auto& [name, value] : metadata) {
    const std::string sql = "INSERT INTO metadata VALUES ('" + name + "', '" + value + "')";
    ok = ok && sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
  }
  return sqlite3_close(db) == SQLITE_OK && ok;
}

// Runs `sql` on the database at `path` (made if missing).
inline bool ExecSql(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  const bool ok = sqlite3_open(path.c_str(), &db) == SQLITE_OK &&
                  sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
  return sqlite3_close(db) == SQLITE_OK && ok;
}

// A query that never ends: counts up for ever and keeps no row.
constexpr const char* kEndlessQuery =
    "(WITH RECURSIVE r(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM r) SELECT n FROM r WHERE n < 0)";

// An MBTiles file whose `tiles` is a view over an endless recursive query.
inline bool WriteEndlessViewMbtiles(const std::string& path) {
  return ExecSql(path, std::string("CREATE TABLE metadata (name TEXT, value TEXT);"
                                   "CREATE VIEW tiles AS SELECT 0 AS zoom_level, 0 AS tile_column,"
                                   " 0 AS tile_row, x'00' AS tile_data FROM ") +
                           kEndlessQuery + " AS endless;");
}

}  // namespace roamgrid::testing
