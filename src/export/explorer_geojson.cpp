#include "export/explorer_geojson.h"

#include "common/number_text.h"

namespace roamgrid {

namespace {

// Seven decimals place a corner within 1 cm; corners shared by two tiles
// come from the same edge value, so they print the same.
std::string Degrees(double value) {
  std::string text = FormatFixed(value, 0, 7);
  return text == "-0.0000000" ? "0.0000000" : text;
}

}  // namespace

ExplorerGeoJson::ExplorerGeoJson(const std::string& path, int zoom)
    : file_(path, {}, Durability::kSynced), zoom_(zoom) {}

bool ExplorerGeoJson::Open() {
  if (!file_.Open()) return false;
  const std::string start = "{\"type\":\"FeatureCollection\",\"features\":[";
  file_.Write(start.data(), start.size());
  return true;
}

void ExplorerGeoJson::Add(ExplorerTile tile) {
  const ExplorerTileBounds edges = ExplorerTileEdges(zoom_, tile);
  const std::string w = Degrees(edges.west), e = Degrees(edges.east);
  const std::string s = Degrees(edges.south), n = Degrees(edges.north);
  const std::string feature =
      std::string(features_ == 0 ? "\n" : ",\n") +
      "{\"type\":\"Feature\",\"properties\":{\"z\":" + std::to_string(zoom_) +
      ",\"x\":" + std::to_string(tile.x) + ",\"y\":" + std::to_string(tile.y) +
      "},\"geometry\":{\"type\":\"Polygon\",\"coordinates\":[[[" + w + "," + s + "],[" + e + "," +
      s + "],[" + e + "," + n + "],[" + w + "," + n + "],[" + w + "," + s + "]]]}}";
  file_.Write(feature.data(), feature.size());
  ++features_;
}

bool ExplorerGeoJson::Commit() {
  const std::string end = "\n]}\n";
  file_.Write(end.data(), end.size());
  return file_.Commit();
}

}  // namespace roamgrid
