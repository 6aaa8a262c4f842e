#include "export/region_export.h"

#include <gtest/gtest.h>
#include <png.h>
#include <rapidjson/document.h>
#include <xtiffio.h>
#include <zip.h>
#include <zlib.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "common/safe_file.h"
#include "export/bmp_file.h"
#include "export/region_raster.h"
#include "support/temp_dir.h"
#include "view/generated_tiles.h"
#include "view/render_view.h"

namespace roamgrid {
namespace {

using testing::GeneratedTile;
using testing::ReadBytes;
using testing::WriteTileFile;

constexpr int64_t kWorldColumns = 360 * kCellsPerDegree;

// A visited cell: global cell row and column, the column within
// -180..180 degrees.
using Cell = std::pair<int64_t, int64_t>;

int64_t WrapColumn(int64_t column) {
  return FloorMod(column + kWorldColumns / 2, kWorldColumns) - kWorldColumns / 2;
}

// Four tiles around the corner at 35.65 N 139.75 E, and two on either side
// of the antimeridian at the equator.
class RegionExportTest : public testing::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    std::mt19937 random(20);
    for (int32_t lat : {3560, 3565})
      for (int32_t lon : {13970, 13975}) Store(lat, lon, testing::TrackTileContent(random, 900));
    Store(0, 17995, testing::TrackTileContent(random));
    Store(0, -18000, testing::TrackTileContent(random));
  }
  void TearDown() override {
    ClearWriteFault();
    TempDirTest::TearDown();
  }

  void Store(int32_t latKey, int32_t lonKey, GeneratedTile tile) {
    WriteTileFile(latKey, lonKey, tile.File());
    for (int r = 0; r < kCellsPerSide; ++r)
      for (int c = 0; c < kCellsPerSide; ++c)
        if (tile.cells[size_t(r) * kCellsPerSide + size_t(c)])
          cells_.insert({latKey / 5 * kCellsPerSide + r, lonKey / 5 * kCellsPerSide + c});
  }

  // The stored visited cells inside `region`.
  std::set<Cell> CellsIn(const CellRegion& region) const {
    std::set<Cell> in;
    for (const Cell& cell : cells_) {
      for (int64_t column : {cell.second, cell.second + kWorldColumns}) {
        if (cell.first >= region.south && cell.first < region.north && column >= region.west &&
            column < region.east)
          in.insert({cell.first, WrapColumn(column)});
      }
    }
    return in;
  }

  std::set<Cell> cells_;
};

// A number read back from a file: a whole count of cells, in degrees.
int64_t OnGrid(double degrees) {
  const double cells = degrees * double(kCellsPerDegree);
  EXPECT_NEAR(cells, std::nearbyint(cells), 1e-6) << degrees << " is off the grid";
  return int64_t(std::nearbyint(cells));
}

// Adds the cells of a closed ring of five points (lon, lat) that must be
// an axis-aligned rectangle; the cells may not be in `cells` already.
void AddRectangle(const std::vector<std::pair<double, double>>& ring, std::set<Cell>& cells) {
  ASSERT_EQ(ring.size(), 5u);
  EXPECT_EQ(ring.front(), ring.back());
  int64_t west = OnGrid(ring[0].first), south = OnGrid(ring[0].second);
  int64_t east = OnGrid(ring[2].first), north = OnGrid(ring[2].second);
  EXPECT_EQ(OnGrid(ring[1].first), east);
  EXPECT_EQ(OnGrid(ring[1].second), south);
  EXPECT_EQ(OnGrid(ring[3].first), west);
  EXPECT_EQ(OnGrid(ring[3].second), north);
  ASSERT_LT(west, east);
  ASSERT_LT(south, north);
  for (int64_t r = south; r < north; ++r)
    for (int64_t c = west; c < east; ++c) EXPECT_TRUE(cells.insert({r, c}).second) << "overlap";
}

std::set<Cell> GeoJsonCells(const std::string& text) {
  rapidjson::Document doc;
  doc.Parse<rapidjson::kParseFullPrecisionFlag>(text.c_str());
  std::set<Cell> cells;
  EXPECT_FALSE(doc.HasParseError());
  if (doc.HasParseError()) return cells;
  EXPECT_STREQ(doc["type"].GetString(), "FeatureCollection");
  for (const auto& feature : doc["features"].GetArray()) {
    EXPECT_TRUE(feature["properties"]["tile"].IsString());
    for (const auto& polygon : feature["geometry"]["coordinates"].GetArray()) {
      std::vector<std::pair<double, double>> ring;
      for (const auto& point : polygon[0].GetArray())
        ring.push_back({point[0].GetDouble(), point[1].GetDouble()});
      AddRectangle(ring, cells);
    }
  }
  return cells;
}

std::set<Cell> KmlCells(const std::string& text) {
  std::set<Cell> cells;
  EXPECT_NE(text.find("<kml xmlns=\"http://www.opengis.net/kml/2.2\">"), std::string::npos);
  for (size_t at = text.find("<coordinates>"); at != std::string::npos;
       at = text.find("<coordinates>", at + 1)) {
    std::vector<std::pair<double, double>> ring;
    const char* p = text.c_str() + at + 13;
    double lon, lat;
    int used;
    while (std::sscanf(p, " %lf,%lf%n", &lon, &lat, &used) == 2) {
      ring.push_back({lon, lat});
      p += used;
    }
    AddRectangle(ring, cells);
  }
  return cells;
}

std::string Text(const std::vector<uint8_t>& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

std::string Gunzip(const std::string& path) {
  gzFile file = gzopen(path.c_str(), "rb");
  std::string text;
  char block[65536];
  for (int n; (n = gzread(file, block, sizeof block)) > 0;) text.append(block, size_t(n));
  gzclose(file);
  return text;
}

std::string ZipEntry(const std::string& path, const char* name) {
  zip_t* archive = zip_open(path.c_str(), ZIP_RDONLY, nullptr);
  if (!archive) return {};
  std::string text;
  if (zip_file_t* entry = zip_fopen(archive, name, 0)) {
    char block[65536];
    for (zip_int64_t n; (n = zip_fread(entry, block, sizeof block)) > 0;)
      text.append(block, size_t(n));
    zip_fclose(entry);
  }
  zip_close(archive);
  return text;
}

RegionExportResult Export(const std::string& path, const CellRegion& region, int zoom = 0) {
  RegionExportRequest request;
  request.region = region;
  request.zoom = zoom;
  return ExportRegion(path, *ExportTargetOf(path), request);
}

TEST_F(RegionExportTest, VectorFormatsReadBackAsTheVisitedCellsOnTheGrid) {
  std::string error;
  struct Case {
    const char* name;
    CellRegion region;
  };
  const Case cases[] = {
      // Across the tile corner, cutting all four tiles.
      {"corner", DegreeBoxCells(35.61, 139.71, 35.69, 139.79, &error)},
      // Across the antimeridian.
      {"antimeridian", DegreeBoxCells(0.0, 179.951, 0.05, -179.951, &error)},
      // Nothing stored there.
      {"empty", DegreeBoxCells(10.0, 10.0, 10.2, 10.2, &error)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::set<Cell> expected = CellsIn(c.region);
    EXPECT_EQ(expected.empty(), std::string(c.name) == "empty");
    for (const char* file : {"a.geojson", "a.json.gz", "a.kml", "a.kml.gz", "a.kmz"}) {
      SCOPED_TRACE(file);
      const RegionExportResult result = Export(file, c.region);
      ASSERT_TRUE(result.ok) << result.error;
      EXPECT_EQ(result.visitedCells, (long long)expected.size());
      const std::string name = file;
      const std::string text = name == "a.kmz"         ? ZipEntry(file, "doc.kml")
                               : name.ends_with(".gz") ? Gunzip(file)
                                                       : Text(ReadBytes(file));
      EXPECT_TRUE((name.find("json") != std::string::npos ? GeoJsonCells(text) : KmlCells(text)) ==
                  expected);
    }
  }
}

// Decodes a PNG into RGBA rows, top first.
std::vector<uint8_t> ReadPng(const std::string& path, int* width, int* height) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return {};
  image.format = PNG_FORMAT_RGBA;
  std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) return {};
  *width = int(image.width);
  *height = int(image.height);
  return pixels;
}

TEST_F(RegionExportTest, PngOfAViewEqualsItsBmpPixelForPixel) {
  struct Case {
    int32_t lat, lon, zoom;
  };
  // Views across the tile corner (14260, 55900) at several zooms.
  for (const Case& c : {Case{14255, 55895, 0}, Case{14250, 55890, 1}, Case{14240, 55880, 2},
                        Case{13760, 55280, 7}}) {
    SCOPED_TRACE(c.zoom);
    ViewState view;
    view.originLat = c.lat;
    view.originLon = c.lon;
    view.zoomIndex = c.zoom;
    std::vector<uint8_t> raster(kRasterSize);
    RebuildView(view, raster.data());
    ASSERT_EQ(WriteNewImage("v.bmp", raster.data()), ImageWriteResult::kWritten);
    ASSERT_TRUE(Export("v.png", ViewCellRegion(view), c.zoom).ok);
    int width = 0, height = 0;
    const std::vector<uint8_t> png = ReadPng("v.png", &width, &height);
    ASSERT_EQ(width, kRasterSide);
    ASSERT_EQ(height, kRasterSide);
    const std::vector<uint8_t> bmp = ReadBytes("v.bmp");
    int marked = 0, differ = 0;
    for (int j = 0; j < kRasterSize; ++j) {
      // BMP: south row first, blue green red; PNG: north row first, RGBA.
      const uint8_t* b = bmp.data() + kBmpHeaderSize + 3 * j;
      const int x = j % kRasterSide, y = kRasterSide - 1 - j / kRasterSide;
      const uint8_t* p = png.data() + 4 * (y * kRasterSide + x);
      differ += p[0] != b[2] || p[1] != b[1] || p[2] != b[0] || p[3] != 255;
      marked += raster[size_t(j)] != 0;
    }
    EXPECT_EQ(differ, 0);
    EXPECT_GT(marked, 0);
  }
  // Transparent: the unmarked pixels have alpha 0.
  ViewState view;
  RegionExportRequest request{ViewCellRegion(view), 1, true};
  ASSERT_TRUE(ExportRegion("t.png", {ExportFormat::kPng, false}, request).ok);
  int width = 0, height = 0;
  const std::vector<uint8_t> png = ReadPng("t.png", &width, &height);
  ASSERT_FALSE(png.empty());
  EXPECT_EQ(png[3], 0);
}

// The rows of the GeoTIFF as bytes, and its pixel scale and tie point.
struct GeoTiff {
  std::vector<uint8_t> pixels;
  uint32_t width = 0, height = 0;
  std::vector<double> scale, tiePoint;
  std::string noData;                      // the GDAL_NODATA tag (42113), as written
  std::vector<uint16_t> red, green, blue;  // the palette's first two entries
};

GeoTiff ReadGeoTiff(const std::string& path) {
  GeoTiff tiff;
  TIFF* tif = XTIFFOpen(path.c_str(), "r");
  if (!tif) return tiff;
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &tiff.width);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &tiff.height);
  uint16_t count = 0;
  double* values = nullptr;
  if (TIFFGetField(tif, TIFFTAG_GEOPIXELSCALE, &count, &values))
    tiff.scale.assign(values, values + count);
  if (TIFFGetField(tif, TIFFTAG_GEOTIEPOINTS, &count, &values))
    tiff.tiePoint.assign(values, values + count);
  const char* noData = nullptr;
  if (TIFFGetField(tif, 42113, &noData) && noData) tiff.noData = noData;
  uint16_t* red = nullptr;
  uint16_t* green = nullptr;
  uint16_t* blue = nullptr;
  if (TIFFGetField(tif, TIFFTAG_COLORMAP, &red, &green, &blue)) {
    tiff.red.assign(red, red + 2);
    tiff.green.assign(green, green + 2);
    tiff.blue.assign(blue, blue + 2);
  }
  uint32_t tileWidth = 0, tileHeight = 0;
  TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tileWidth);
  TIFFGetField(tif, TIFFTAG_TILELENGTH, &tileHeight);
  tiff.pixels.assign(size_t(tiff.width) * tiff.height, 0xAA);
  std::vector<uint8_t> tile(TIFFTileSize(tif));
  for (uint32_t y = 0; y < tiff.height; y += tileHeight) {
    for (uint32_t x = 0; x < tiff.width; x += tileWidth) {
      TIFFReadTile(tif, tile.data(), x, y, 0, 0);
      for (uint32_t r = 0; r < tileHeight && y + r < tiff.height; ++r)
        for (uint32_t c = 0; c < tileWidth && x + c < tiff.width; ++c)
          tiff.pixels[size_t(y + r) * tiff.width + x + c] = tile[size_t(r) * tileWidth + c];
    }
  }
  XTIFFClose(tif);
  return tiff;
}

TEST_F(RegionExportTest, GeoTiffHoldsTheVisitedPixelsOnAnExactGeotransform) {
  std::string error;
  const CellRegion region = DegreeBoxCells(35.61, 139.71, 35.69, 139.79, &error);
  for (int zoom : {0, 1, 3}) {
    SCOPED_TRACE(zoom);
    ASSERT_TRUE(Export("r.tif", region, zoom).ok);
    const GeoTiff tiff = ReadGeoTiff("r.tif");
    const CellRegion aligned = AlignToPixels(region, zoom);
    const int64_t b = CellsPerPixel(zoom);
    ASSERT_EQ(tiff.width, uint32_t(aligned.Columns() / b));
    ASSERT_EQ(tiff.height, uint32_t(aligned.Rows() / b));
    // Every pixel holding a visited cell is 1, every other 0.
    std::set<Cell> expected;
    for (const Cell& cell : CellsIn(aligned))
      expected.insert({(aligned.north - 1 - cell.first) / b, (cell.second - aligned.west) / b});
    std::set<Cell> found;
    for (uint32_t y = 0; y < tiff.height; ++y)
      for (uint32_t x = 0; x < tiff.width; ++x) {
        const uint8_t v = tiff.pixels[size_t(y) * tiff.width + x];
        ASSERT_LE(v, 1);
        if (v) found.insert({y, x});
      }
    EXPECT_TRUE(found == expected) << found.size() << " vs " << expected.size();
    ASSERT_EQ(tiff.scale.size(), 3u);
    ASSERT_EQ(tiff.tiePoint.size(), 6u);
    EXPECT_EQ(tiff.scale[0], double(b) / 17920.0);
    EXPECT_EQ(tiff.scale[1], double(b) / 17920.0);
    EXPECT_EQ(tiff.tiePoint[3], double(aligned.west) / 17920.0);
    EXPECT_EQ(tiff.tiePoint[4], double(aligned.north) / 17920.0);
    // 0 is "no data", so a GIS draws only the marks; the palette stays
    // white and red for plain viewers.
    EXPECT_EQ(tiff.noData, "0");
    EXPECT_EQ(tiff.red, (std::vector<uint16_t>{0xFFFF, 0xFFFF}));
    EXPECT_EQ(tiff.green, (std::vector<uint16_t>{0xFFFF, 0}));
    EXPECT_EQ(tiff.blue, (std::vector<uint16_t>{0xFFFF, 0}));
  }
  // GDAL reads the same georeferencing, where it is installed.
  if (std::system("gdalinfo --version > /dev/null 2>&1") != 0) GTEST_SKIP() << "no gdalinfo";
  ASSERT_EQ(std::system("gdalinfo r.tif > info.txt 2>&1"), 0);
  const std::string info = Text(ReadBytes("info.txt"));
  EXPECT_NE(info.find("ID[\"EPSG\",4326]"), std::string::npos) << info;
  EXPECT_NE(info.find("Pixel Size = (0.000446428571429,-0.000446428571429)"), std::string::npos)
      << info;
  EXPECT_NE(info.find("Origin = (139.709821428571416,35.690178571428568)"), std::string::npos)
      << info;
  EXPECT_NE(info.find("NoData Value=0"), std::string::npos) << info;
  EXPECT_NE(info.find("Color Table"), std::string::npos) << info;
}

TEST_F(RegionExportTest, SizeLimitNamesTheSizeAndAZoomThatFits) {
  std::string error;
  const CellRegion twoDegrees = DegreeBoxCells(0, 0, 2, 2, &error);
  EXPECT_EQ(CheckRasterSize(twoDegrees, 0),
            "the image would be 35840 x 35840 pixels, more than 20000 x 20000; --zoom 1 fits "
            "(17920 x 17920)");
  EXPECT_EQ(CheckRasterSize(twoDegrees, 1), "");
  const CellRegion world = DegreeBoxCells(-80, -180, 80, 180, &error);
  EXPECT_NE(CheckRasterSize(world, 7).find("no zoom up to 7 fits"), std::string::npos);
  const RegionExportResult refused = Export("big.png", twoDegrees);
  EXPECT_FALSE(refused.ok);
  EXPECT_FALSE(std::filesystem::exists("big.png"));
  // Vector formats have no size limit: the whole earth is the stored tiles.
  const RegionExportResult all = Export("all.geojson", DegreeBoxCells(-90, -180, 90, 180, &error));
  ASSERT_TRUE(all.ok) << all.error;
  EXPECT_EQ(all.visitedCells, (long long)cells_.size());
}

TEST_F(RegionExportTest, SuffixesChooseTheFormatAndAFailedWriteKeepsTheOldFile) {
  EXPECT_EQ(ExportTargetOf("a.PNG"), (ExportTarget{ExportFormat::kPng, false}));
  EXPECT_EQ(ExportTargetOf("a.tiff"), (ExportTarget{ExportFormat::kGeoTiff, false}));
  EXPECT_EQ(ExportTargetOf("a.json.gz"), (ExportTarget{ExportFormat::kGeoJson, true}));
  EXPECT_EQ(ExportTargetOf("a.kml.gz"), (ExportTarget{ExportFormat::kKml, true}));
  for (const char* unknown : {"a.kmz.gz", "a.png.gz", "a.gz", "a", ".png", "a.jpeg"})
    EXPECT_FALSE(ExportTargetOf(unknown).has_value()) << unknown;

  std::string error;
  const CellRegion region = DegreeBoxCells(35.61, 139.71, 35.69, 139.79, &error);
  for (const char* file : {"f.tif", "f.kmz", "f.geojson.gz", "f.png"}) {
    SCOPED_TRACE(file);
    testing::WriteText(file, "old");
    SetWriteFault({200, false});
    const RegionExportResult result = Export(file, region);
    ClearWriteFault();
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.error.find("nothing was changed"), std::string::npos) << result.error;
    EXPECT_EQ(Text(ReadBytes(file)), "old");
  }
}

}  // namespace
}  // namespace roamgrid
