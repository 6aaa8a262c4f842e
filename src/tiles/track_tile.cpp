#include "tiles/track_tile.h"

#include <cstdio>
#include <cstdlib>

#include "tiles/grid_units.h"
#include "tiles/tile_file.h"

namespace roamgrid {

int32_t NormalizeLonKey(int64_t lonKey) {
  if (lonKey >= 18000 || lonKey < -18000) lonKey = FloorMod(lonKey + 18000, 36000) - 18000;
  return int32_t(lonKey);
}

bool FormatTilePath(int32_t latKey, int32_t lonKey, char (&out)[kTilePathSize]) {
  out[0] = '\0';
  const long long lat = std::llabs((long long)latKey);
  const long long lon = std::llabs((long long)lonKey);
  const char ew = lonKey >= 0 ? 'E' : 'W';
  const char ns = latKey >= 0 ? 'N' : 'S';
  char buffer[96];
  const int length = std::snprintf(buffer, sizeof buffer, "RGD/%c%03lld%c%03lld/%c%05lld-%c%05lld.map",
                                   ew, lon / 100, ns, lat / 100, ew, lon, ns, lat);
  if (length < 0 || length >= kTilePathSize) return false;
  for (int i = 0; i <= length; ++i) out[i] = buffer[i];
  return true;
}

void OpenTile(TrackTile& tile, int32_t latKey, int64_t lonKey) {
  tile.latKey = latKey;
  tile.lonKey = NormalizeLonKey(lonKey);
  FormatTilePath(tile.latKey, tile.lonKey, tile.path);  // too long: no file
  tile.cells.reset();
  tile.northMask = 0;
  tile.southMask = 0;
  LoadTile(tile);  // a missing file reads as an empty tile
  tile.dirty = 0;
}

bool ReleaseTile(std::unique_ptr<TrackTile>& tile) {
  if (!tile) return true;
  bool saved = true;
  if (tile->dirty) saved = SaveTile(*tile);
  tile.reset();
  return saved;
}

}  // namespace roamgrid
