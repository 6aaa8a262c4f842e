// The vector exports: the visited cells of a region as axis-aligned
// rectangles (runs along rows, then equal runs down the rows, within each
// tile), one feature per tile, streamed tile by tile.
//   GeoJSON (RFC 7946): a FeatureCollection of MultiPolygon features whose
//     properties carry the tile ("E13975-N03500", latKey, lonKey) and its
//     visited cell count; rings counterclockwise, longitude first.
//   KML: a Document of Placemarks, one MultiGeometry of red Polygons per
//     tile, or instead one GroundOverlay of a PNG image (KMZ).
// Every edge is printed as the shortest text that reads back as the double
// nearest to k / 17920 degrees.
#pragma once

#include <string>

#include "export/region_cells.h"

namespace roamgrid {

class TextOutput;

struct VectorCounts {
  long long cells = 0;       // visited cells written
  long long rectangles = 0;  // polygons written
  long long tiles = 0;       // features (tiles with a visited cell)
};

VectorCounts WriteGeoJson(const CellRegion& region, TextOutput& out);

VectorCounts WriteKmlPolygons(const CellRegion& region, TextOutput& out);

// Counts the rectangles WriteKmlPolygons would write, without writing.
VectorCounts CountRectangles(const CellRegion& region);

// A KML document with one GroundOverlay of the image `href` (relative to
// the document) covering `region` exactly.
void WriteKmlOverlay(const CellRegion& region, const std::string& href, TextOutput& out);

}  // namespace roamgrid
