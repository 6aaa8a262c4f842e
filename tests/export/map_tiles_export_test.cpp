#include "export/map_tiles_export.h"

#include <gtest/gtest.h>
#include <png.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "map/map_store.h"
#include "map/marks_map.h"
#include "support/temp_dir.h"

namespace roamgrid {
namespace {

using testing::AlignedView;
using testing::CellAt;
using testing::GlobalCell;
using testing::ReferenceMarks;
using testing::TempDirTest;

namespace fs = std::filesystem;

using testing::MemoryOnly;

// A ride in Tokyo and cells both sides of 180 degrees.
std::vector<GlobalCell> SomeCells() {
  std::vector<GlobalCell> cells = testing::Track(35.68, 139.76, 300, 3);
  for (double lon : {179.99995, -179.99995}) cells.push_back(CellAt(-17.0001, lon));
  return cells;
}

// The mask and the colour of a tile's PNG bytes: marked where opaque.
struct DecodedTile {
  MaskImage mask;
  std::set<uint32_t> colours;  // 0xRRGGBB of the opaque pixels
  bool ok = false;
};

DecodedTile Decode(const std::vector<uint8_t>& png) {
  DecodedTile tile;
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, png.data(), png.size())) return tile;
  image.format = PNG_FORMAT_RGBA;
  std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) return tile;
  tile.mask.Reset(int(image.width), int(image.height));
  for (size_t i = 0; i < tile.mask.bytes.size(); ++i) {
    const uint8_t* p = &pixels[4 * i];
    if (p[3] == 0) continue;
    tile.mask.bytes[i] = 1;
    tile.colours.insert(uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2]);
  }
  tile.ok = true;
  return tile;
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// Every z/x/y.png below `folder`.
std::map<MapTileKey, std::vector<uint8_t>> FolderTiles(const std::string& folder) {
  std::map<MapTileKey, std::vector<uint8_t>> tiles;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (!entry.is_regular_file()) continue;
    const fs::path relative = fs::relative(entry.path(), folder);
    auto part = relative.begin();
    const int z = std::stoi((part++)->string());
    const int x = std::stoi((part++)->string());
    const int y = std::stoi(part->stem().string());
    tiles[{z, x, y}] = ReadBytes(entry.path().string());
  }
  return tiles;
}

// The rows of an MBTiles file: metadata, and the tiles by z/column/row.
struct MbTiles {
  std::map<std::string, std::string> metadata;
  std::map<MapTileKey, std::vector<uint8_t>> tiles;  // y: the TMS row as stored
};

MbTiles ReadMbTiles(const std::string& path) {
  MbTiles file;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    return file;
  }
  sqlite3_stmt* query = nullptr;
  sqlite3_prepare_v2(db, "SELECT name, value FROM metadata", -1, &query, nullptr);
  while (query && sqlite3_step(query) == SQLITE_ROW)
    file.metadata[reinterpret_cast<const char*>(sqlite3_column_text(query, 0))] =
        reinterpret_cast<const char*>(sqlite3_column_text(query, 1));
  sqlite3_finalize(query);
  sqlite3_prepare_v2(db, "SELECT zoom_level, tile_column, tile_row, tile_data FROM tiles", -1,
                     &query, nullptr);
  while (query && sqlite3_step(query) == SQLITE_ROW) {
    const auto* blob = static_cast<const uint8_t*>(sqlite3_column_blob(query, 3));
    file.tiles[{sqlite3_column_int(query, 0), sqlite3_column_int(query, 1),
                sqlite3_column_int(query, 2)}] =
        std::vector<uint8_t>(blob, blob + sqlite3_column_bytes(query, 3));
  }
  sqlite3_finalize(query);
  sqlite3_close(db);
  return file;
}

class MapTilesExportTest : public TempDirTest {};

TEST_F(MapTilesExportTest, FolderTilesAreTheRenderersAndTheCellsOfAPlainReference) {
  const std::vector<GlobalCell> cells = SomeCells();
  testing::WriteCells(cells);
  MarksMap map(MemoryOnly());
  map.Refresh();
  MapTilesRequest request;
  request.path = "xyz";
  request.zoomFirst = 0;
  request.zoomLast = 18;
  request.colour = Rgb{0x12, 0x34, 0x56};
  long long told = 0, looked = 0;
  const MapTilesResult result =
      ExportMapTiles(map, request, [&](int, long long seen, long long tiles) {
        looked = seen;
        told = tiles;
        return true;
      });
  ASSERT_TRUE(result.ok) << result.error;
  const auto tiles = FolderTiles("xyz");
  EXPECT_EQ(result.tiles, (long long)tiles.size());
  EXPECT_EQ(told, result.tiles);
  EXPECT_EQ(looked, CountMapTiles(map, request));
  EXPECT_GE(looked, told);

  // Exactly the tiles the renderer marks, with its pixels.
  std::set<MapTileKey> marked;
  MaskImage mask;
  for (int z = 0; z <= 18; ++z)
    map.ForEachMarksTile(z, [&](MapTileKey key) {
      if (map.RenderMarksTile(z, key.x, key.y, mask)) marked.insert(key);
    });
  std::set<MapTileKey> written;
  for (const auto& [key, png] : tiles) written.insert(key);
  EXPECT_EQ(written, marked);
  for (const auto& [key, png] : tiles) {
    SCOPED_TRACE(std::to_string(key.zoom) + "/" + std::to_string(key.x) + "/" +
                 std::to_string(key.y));
    const DecodedTile tile = Decode(png);
    ASSERT_TRUE(tile.ok);
    map.RenderMarksTile(key.zoom, key.x, key.y, mask);
    EXPECT_TRUE(tile.mask == mask);
    EXPECT_EQ(tile.colours, std::set<uint32_t>{0x123456});
    // At cell zooms each cell by itself, projected on its own.
    if (key.zoom >= 15) {
      EXPECT_TRUE(tile.mask ==
                  ReferenceMarks(cells, AlignedView(key.zoom, key.x, key.y, 256, 256)));
    }
  }
  // Both sides of 180 degrees have their tiles at zoom 3.
  EXPECT_TRUE(tiles.count({3, 0, 4}) && tiles.count({3, 7, 4}));
}

TEST_F(MapTilesExportTest, MbTilesHoldsTheFolderTilesInTmsRowsWithItsMetadata) {
  testing::WriteCells(SomeCells());
  MarksMap map(MemoryOnly());
  map.Refresh();
  MapTilesRequest request;
  request.zoomFirst = 2;
  request.zoomLast = 12;
  request.path = "xyz";
  ASSERT_TRUE(ExportMapTiles(map, request).ok);
  request.path = "marks.MBTiles";
  const MapTilesResult result = ExportMapTiles(map, request);
  ASSERT_TRUE(result.ok) << result.error;

  const MbTiles file = ReadMbTiles("marks.MBTiles");
  std::map<MapTileKey, std::vector<uint8_t>> flipped;
  for (const auto& [key, png] : file.tiles)
    flipped[{key.zoom, key.x, (1 << key.zoom) - 1 - key.y}] = png;
  EXPECT_TRUE(flipped == FolderTiles("xyz"));
  EXPECT_EQ((long long)file.tiles.size(), result.tiles);
  EXPECT_EQ(file.metadata.at("format"), "png");
  EXPECT_EQ(file.metadata.at("type"), "overlay");
  EXPECT_EQ(file.metadata.at("minzoom"), "2");
  EXPECT_EQ(file.metadata.at("maxzoom"), "12");
  EXPECT_EQ(file.metadata.at("name"), "Roamgrid marks");
  EXPECT_EQ(file.metadata.count("attribution"), 1u);
  // The marks reach round the world at 180 degrees: all longitudes; in
  // latitude from Fiji's to Tokyo's.
  double west, south, east, north;
  ASSERT_EQ(std::sscanf(file.metadata.at("bounds").c_str(), "%lf,%lf,%lf,%lf", &west, &south, &east,
                        &north),
            4);
  EXPECT_EQ(west, -180);
  EXPECT_EQ(east, 180);
  EXPECT_NEAR(south, -17.0, 0.1);
  EXPECT_GT(north, 35.68);
  EXPECT_LT(north, 35.8);

  // Stopped part-way: the old file stays as it was, nothing beside it.
  const MbTiles before = ReadMbTiles("marks.MBTiles");
  request.zoomLast = 14;
  const MapTilesResult stopped =
      ExportMapTiles(map, request, [](int, long long looked, long long) { return looked < 5; });
  EXPECT_FALSE(stopped.ok);
  EXPECT_EQ(stopped.error, "stopped");
  EXPECT_TRUE(ReadMbTiles("marks.MBTiles").tiles == before.tiles);

  // Again over the old file: replaced whole, nothing left beside it.
  request.zoomLast = 3;
  ASSERT_TRUE(ExportMapTiles(map, request).ok);
  EXPECT_EQ(ReadMbTiles("marks.MBTiles").metadata.at("maxzoom"), "3");
  EXPECT_EQ(std::distance(fs::directory_iterator("."), fs::directory_iterator()), 3);  // + RGD
}

TEST_F(MapTilesExportTest, BoxesChooseTheirTilesAcross180Degrees) {
  struct Case {
    TileExportBox box;
    int zoom;
    MapTileRange expected;
  };
  const Case cases[] = {
      {{35.6, 139.7, 35.7, 139.8}, 0, {0, 0, 0, 0}},
      {{35.6, 139.7, 35.7, 139.8}, 10, {909, 909, 403, 403}},
      {{-90, -180, 90, 180}, 2, {0, 3, 0, 3}},
      {{-20, 170, -10, -170}, 3, {7, 0, 4, 4}},  // across 180: columns 7 and 0
      {{-20, 10, -10, 5}, 1, {0, 1, 1, 1}},      // all round but a sliver: every column
  };
  for (const Case& c : cases) {
    const MapTileRange range = TileRangeOfBox(c.box, c.zoom);
    EXPECT_EQ(range.xFirst, c.expected.xFirst) << c.zoom;
    EXPECT_EQ(range.xLast, c.expected.xLast) << c.zoom;
    EXPECT_EQ(range.yFirst, c.expected.yFirst) << c.zoom;
    EXPECT_EQ(range.yLast, c.expected.yLast) << c.zoom;
  }
  EXPECT_TRUE((MapTileRange{7, 0, 4, 4}.Contains(0, 4)));
  EXPECT_FALSE((MapTileRange{7, 0, 4, 4}.Contains(3, 4)));

  // Only the tiles in the box are written.
  testing::WriteCells(SomeCells());
  MarksMap map(MemoryOnly());
  map.Refresh();
  MapTilesRequest request;
  request.path = "fiji";
  request.zoomFirst = request.zoomLast = 3;
  request.box = TileExportBox{-20, 170, -10, -170};
  ASSERT_TRUE(ExportMapTiles(map, request).ok);
  std::set<MapTileKey> written;
  for (const auto& [key, png] : FolderTiles("fiji")) written.insert(key);
  EXPECT_EQ(written, (std::set<MapTileKey>{{3, 0, 4}, {3, 7, 4}}));
}

TEST_F(MapTilesExportTest, WhatIsNotOursIsLeftAndNamed) {
  testing::WriteCells(SomeCells());
  MarksMap map(MemoryOnly());
  map.Refresh();
  MapTilesRequest request;
  request.zoomFirst = request.zoomLast = 0;
  {
    std::ofstream("plain") << "mine";
    request.path = "plain";
    const MapTilesResult result = ExportMapTiles(map, request);
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.error.find("is not a folder"), std::string::npos) << result.error;
  }
  {
    // A link where a tile belongs is not written through.
    fs::create_directories("xyz/0/0");
    std::ofstream("target") << "mine";
    ASSERT_EQ(symlink("../../../target", "xyz/0/0/0.png"), 0);
    request.path = "xyz";
    const MapTilesResult result = ExportMapTiles(map, request);
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.error.find("not a regular file"), std::string::npos) << result.error;
    EXPECT_EQ(ReadBytes("target"), (std::vector<uint8_t>{'m', 'i', 'n', 'e'}));
  }
  {
    // A folder named like an MBTiles file stays a folder.
    fs::create_directories("d.mbtiles");
    request.path = "d.mbtiles";
    EXPECT_FALSE(ExportMapTiles(map, request).ok);
    EXPECT_TRUE(fs::is_directory("d.mbtiles"));
  }
  request.path = "xyz";
  request.zoomLast = 23;
  EXPECT_FALSE(ExportMapTiles(map, request).ok);
}

// GDAL reads the MBTiles file and the folder (through an XYZ description);
// skipped when gdal-bin is not installed.
TEST_F(MapTilesExportTest, GdalOpensTheMbTilesFileAndTheFolder) {
  if (std::system("gdalinfo --version > /dev/null 2>&1") != 0) GTEST_SKIP() << "no gdalinfo";
  testing::WriteCells(SomeCells());
  MarksMap map(MemoryOnly());
  map.Refresh();
  MapTilesRequest request;
  request.zoomFirst = 0;
  request.zoomLast = 5;
  request.path = "m.mbtiles";
  ASSERT_TRUE(ExportMapTiles(map, request).ok);
  request.path = "xyz";
  ASSERT_TRUE(ExportMapTiles(map, request).ok);
  EXPECT_EQ(std::system("gdalinfo m.mbtiles > gdal.txt 2>&1"), 0);
  EXPECT_NE(ReadBytes("gdal.txt").size(), 0u);
  std::ofstream("xyz.xml") << "<GDAL_WMS><Service name=\"TMS\"><ServerUrl>file://"
                           << fs::current_path().string()
                           << "/xyz/${z}/${x}/${y}.png</ServerUrl></Service><DataWindow>"
                              "<UpperLeftX>-20037508.34</UpperLeftX><UpperLeftY>20037508.34"
                              "</UpperLeftY><LowerRightX>20037508.34</LowerRightX><LowerRightY>"
                              "-20037508.34</LowerRightY><TileLevel>5</TileLevel><TileCountX>1"
                              "</TileCountX><TileCountY>1</TileCountY><YOrigin>top</YOrigin>"
                              "</DataWindow><Projection>EPSG:3857</Projection><BlockSizeX>256"
                              "</BlockSizeX><BlockSizeY>256</BlockSizeY><BandsCount>4</BandsCount>"
                              "</GDAL_WMS>";
  // The Tokyo ride's pixel at zoom 5, read through GDAL, is opaque.
  EXPECT_EQ(std::system("gdal_translate -q -of PNG -srcwin 7270 3226 16 16 xyz.xml tokyo.png "
                        "> gdal.txt 2>&1"),
            0)
      << std::string(ReadBytes("gdal.txt").begin(), ReadBytes("gdal.txt").end());
  const std::vector<uint8_t> png = ReadBytes("tokyo.png");
  const DecodedTile patch = Decode(png);
  ASSERT_TRUE(patch.ok);
  EXPECT_TRUE(patch.mask.Any());
}

}  // namespace
}  // namespace roamgrid
