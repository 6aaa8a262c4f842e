#include "export/vector_files.h"

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

TextOutput& JsonPoint(TextOutput& out, double lon, double lat) {
  out << '[';
  out.Number(lon) << ',';
  return out.Number(lat) << ']';
}

// "lon,lat " as KML coordinates list them.
void KmlPoint(TextOutput& out, double lon, double lat) {
  out.Number(lon) << ',';
  out.Number(lat) << ' ';
}

}  // namespace

VectorCounts WriteGeoJson(const CellRegion& region, TextOutput& out) {
  out << "{\"type\":\"FeatureCollection\",\"features\":[";
  bool first = true;
  const VectorCounts counts = ForEachTileRects(
      region, [&](const RegionTile& tile, const std::vector<CellRect>& rects, long long cells) {
        out << (first ? "\n" : ",\n");
        first = false;
        out << "{\"type\":\"Feature\",\"properties\":{\"tile\":\"" << tile.Name()
            << "\",\"latKey\":";
        out.Integer(tile.latKey) << ",\"lonKey\":";
        out.Integer(tile.lonKey) << ",\"cells\":";
        out.Integer(cells) << "},\"geometry\":{\"type\":\"MultiPolygon\",\"coordinates\":[";
        for (size_t k = 0; k < rects.size(); ++k) {
          const DegreeRect d = RectDegrees(tile, rects[k]);
          out << (k ? ",[[" : "[[");
          // Counterclockwise: south-west, south-east, north-east, north-west.
          JsonPoint(out, d.west, d.south) << ',';
          JsonPoint(out, d.east, d.south) << ',';
          JsonPoint(out, d.east, d.north) << ',';
          JsonPoint(out, d.west, d.north) << ',';
          JsonPoint(out, d.west, d.south);
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
  const VectorCounts counts = ForEachTileRects(
      region, [&](const RegionTile& tile, const std::vector<CellRect>& rects, long long cells) {
        out << "<Placemark><name>" << tile.Name() << "</name><description>";
        out.Integer(cells) << " visited cells</description><styleUrl>#visited</styleUrl>"
                           << "<MultiGeometry>\n";
        for (const CellRect& rect : rects) {
          const DegreeRect d = RectDegrees(tile, rect);
          out << "<Polygon><outerBoundaryIs><LinearRing><coordinates>";
          KmlPoint(out, d.west, d.south);
          KmlPoint(out, d.east, d.south);
          KmlPoint(out, d.east, d.north);
          KmlPoint(out, d.west, d.north);
          KmlPoint(out, d.west, d.south);
          out << "</coordinates></LinearRing></outerBoundaryIs></Polygon>\n";
        }
        out << "</MultiGeometry></Placemark>\n";
      });
  out << kKmlTail;
  return counts;
}

VectorCounts CountRectangles(const CellRegion& region) {
  return ForEachTileRects(region, [](const RegionTile&, const std::vector<CellRect>&, long long) {});
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
