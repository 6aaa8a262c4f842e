// Explorer tiles as GeoJSON (RFC 7946): a FeatureCollection with one
// Polygon per Web Mercator tile, its corners in longitude, latitude order
// (counter-clockwise from the south-west corner), and the tile's zoom, x
// and y as properties. One feature a line; tiles are written as they come,
// so nothing but the file grows with their number.
#pragma once

#include <string>

#include "common/safe_file.h"
#include "store/explorer_tiles.h"

namespace roamgrid {

class ExplorerGeoJson {
 public:
  // The file at `path` is replaced only by a complete file, on Commit.
  ExplorerGeoJson(const std::string& path, int zoom);
  // Creates the temporary file and writes the collection's opening; false
  // with errno when it cannot be created.
  bool Open();
  void Add(ExplorerTile tile);
  // Ends the collection and puts the file in place; false with errno when
  // anything failed (the old file, if any, stays as it was).
  bool Commit();
  long long features() const { return features_; }

 private:
  ReplacingFile file_;
  int zoom_;
  long long features_ = 0;
};

}  // namespace roamgrid
