#include "export/vector_files.h"

#include <array>
#include <charconv>
#include <memory>
#include <string_view>
#include <vector>

#include "export/text_output.h"

namespace roamgrid {

namespace {

// Red, fully opaque, as KML writes colours: alpha, blue, green, red.
constexpr char kKmlRed[] = "ff0000ff";

constexpr char kKmlHead[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<kml xmlns=\"http://www.opengis.net/kml/2.2\">\n"
    "<Document>\n"
    "<name>Roamgrid visited cells</name>\n";
constexpr char kKmlTail[] = "</Document>\n</kml>\n";

// Visits every tile with a visited cell and its rectangles.
template <class Fn>
VectorCounts ForEachTileRects(const CellRegion& region, Fn&& fn) {
  VectorCounts counts;
  RegionWalker walker(region);
  std::vector<CellRect> rects;
  while (walker.Next()) {
    CoverRuns(walker.runs(), rects);
    long long cells = 0;
    for (const CellRun& run : walker.runs()) cells += run.to - run.from;
    fn(walker.tile(), rects, cells);
    counts.rectangles += (long long)rects.size();
    ++counts.tiles;
  }
  counts.cells = walker.visitedCells();
  return counts;
}

// The texts of one tile's cell edges in degrees, each formatted once: a
// tile has only 897 row edges and 897 column edges, and every rectangle
// repeats them.
class EdgeTexts {
 public:
  void Reset(const RegionTile& tile) {
    firstRow_ = tile.FirstCellRow();
    firstColumn_ = int64_t{tile.lonKey} / kCentiPerTile * kCellsPerSide;
    rows_.fill(0);
    columns_.fill(0);
  }
  std::string_view Lat(int row) { return Text(rows_, rowText_, row, firstRow_); }
  std::string_view Lon(int column) { return Text(columns_, columnText_, column, firstColumn_); }

 private:
  static constexpr int kEdges = kCellsPerSide + 1;
  static constexpr int kWidth = 24;
  using Lengths = std::array<uint8_t, kEdges>;
  using Texts = std::array<std::array<char, kWidth>, kEdges>;

  static std::string_view Text(Lengths& lengths, Texts& texts, int edge, int64_t first) {
    if (!lengths[size_t(edge)]) {
      char* begin = texts[size_t(edge)].data();
      const auto done =
          std::to_chars(begin, begin + kWidth, double(first + edge) / double(kCellsPerDegree));
      lengths[size_t(edge)] = uint8_t(done.ptr - begin);
    }
    return {texts[size_t(edge)].data(), lengths[size_t(edge)]};
  }

  int64_t firstRow_ = 0, firstColumn_ = 0;
  Lengths rows_{}, columns_{};
  Texts rowText_{}, columnText_{};
};

void JsonPoint(TextOutput& out, std::string_view lon, std::string_view lat) {
  out << '[' << lon << ',' << lat << ']';
}

// "lon,lat " as KML coordinates list them.
void KmlPoint(TextOutput& out, std::string_view lon, std::string_view lat) {
  out << lon << ',' << lat << ' ';
}

}  // namespace

VectorCounts WriteGeoJson(const CellRegion& region, TextOutput& out) {
  out << "{\"type\":\"FeatureCollection\",\"features\":[";
  bool first = true;
  auto edges = std::make_unique<EdgeTexts>();
  const VectorCounts counts = ForEachTileRects(
      region, [&](const RegionTile& tile, const std::vector<CellRect>& rects, long long cells) {
        out << (first ? "\n" : ",\n");
        first = false;
        out << "{\"type\":\"Feature\",\"properties\":{\"tile\":\"" << tile.Name()
            << "\",\"latKey\":";
        out.Integer(tile.latKey) << ",\"lonKey\":";
        out.Integer(tile.lonKey) << ",\"cells\":";
        out.Integer(cells) << "},\"geometry\":{\"type\":\"MultiPolygon\",\"coordinates\":[";
        edges->Reset(tile);
        for (size_t k = 0; k < rects.size(); ++k) {
          const CellRect& r = rects[k];
          const std::string_view west = edges->Lon(r.columnFrom), east = edges->Lon(r.columnTo);
          const std::string_view south = edges->Lat(r.rowFrom), north = edges->Lat(r.rowTo);
          out << (k ? ",[[" : "[[");
          // Counterclockwise: south-west, south-east, north-east, north-west.
          JsonPoint(out, west, south);
          out << ',';
          JsonPoint(out, east, south);
          out << ',';
          JsonPoint(out, east, north);
          out << ',';
          JsonPoint(out, west, north);
          out << ',';
          JsonPoint(out, west, south);
          out << "]]";
        }
        out << "]}}";
      });
  out << "\n]}\n";
  return counts;
}

VectorCounts WriteKmlPolygons(const CellRegion& region, TextOutput& out) {
  out << kKmlHead << "<Style id=\"visited\"><LineStyle><width>0</width></LineStyle>"
      << "<PolyStyle><color>" << kKmlRed << "</color><outline>0</outline></PolyStyle></Style>\n";
  auto edges = std::make_unique<EdgeTexts>();
  const VectorCounts counts = ForEachTileRects(
      region, [&](const RegionTile& tile, const std::vector<CellRect>& rects, long long cells) {
        out << "<Placemark><name>" << tile.Name() << "</name><description>";
        out.Integer(cells) << " visited cells</description><styleUrl>#visited</styleUrl>"
                           << "<MultiGeometry>\n";
        edges->Reset(tile);
        for (const CellRect& r : rects) {
          const std::string_view west = edges->Lon(r.columnFrom), east = edges->Lon(r.columnTo);
          const std::string_view south = edges->Lat(r.rowFrom), north = edges->Lat(r.rowTo);
          out << "<Polygon><outerBoundaryIs><LinearRing><coordinates>";
          KmlPoint(out, west, south);
          KmlPoint(out, east, south);
          KmlPoint(out, east, north);
          KmlPoint(out, west, north);
          KmlPoint(out, west, south);
          out << "</coordinates></LinearRing></outerBoundaryIs></Polygon>\n";
        }
        out << "</MultiGeometry></Placemark>\n";
      });
  out << kKmlTail;
  return counts;
}

VectorCounts CountRectangles(const CellRegion& region) {
  return ForEachTileRects(region,
                          [](const RegionTile&, const std::vector<CellRect>&, long long) {});
}

void WriteKmlOverlay(const CellRegion& region, const std::string& href, TextOutput& out) {
  const double perDegree = double(kCellsPerDegree);
  // KML wants longitudes within -180..180; a box across the antimeridian
  // then has its east edge west of its west edge.
  double east = double(region.east) / perDegree;
  if (east > 180) east -= 360;
  out << kKmlHead << "<GroundOverlay><name>Visited cells</name><Icon><href>" << href
      << "</href></Icon><LatLonBox><north>";
  out.Number(double(region.north) / perDegree) << "</north><south>";
  out.Number(double(region.south) / perDegree) << "</south><east>";
  out.Number(east) << "</east><west>";
  out.Number(double(region.west) / perDegree) << "</west></LatLonBox></GroundOverlay>\n"
                                              << kKmlTail;
}

}  // namespace roamgrid
