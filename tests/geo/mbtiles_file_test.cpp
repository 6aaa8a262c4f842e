#include "geo/mbtiles_file.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>

#include "support/mbtiles_fixture.h"
#include "support/temp_dir.h"

namespace roamgrid {
namespace {

using testing::ReadBytes;
using testing::WriteMbtiles;

class MbtilesFileTest : public testing::TempDirTest {};

TEST_F(MbtilesFileTest, ReadsTilesInXyzOrderWithoutWriting) {
  // A name that needs escaping in an SQLite URI.
  const std::string path = "my map?#%.mbtiles";
  ASSERT_TRUE(WriteMbtiles(path, {{{2, 1, 0}, {1, 2, 3}}, {{2, 3, 2}, {4}}},
                           {{"attribution", "(c) the survey"}, {"maxzoom", "2"}}));
  const std::vector<uint8_t> before = ReadBytes(path);
  std::string error;
  {
    auto file = MbtilesFile::Open(path, error);
    ASSERT_TRUE(file) << error;
    EXPECT_EQ(file->attribution(), "(c) the survey");
    EXPECT_EQ(file->minZoom(), 2);  // not in the metadata: from the tiles
    EXPECT_EQ(file->maxZoom(), 2);
    EXPECT_EQ(file->ReadTile({2, 1, 0}), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(file->ReadTile({2, 3, 2}), (std::vector<uint8_t>{4}));
    EXPECT_TRUE(file->ReadTile({2, 1, 3}).empty());  // the TMS row of {2, 1, 0}
    EXPECT_TRUE(file->ReadTile({30, 0, 0}).empty());
  }
  EXPECT_EQ(ReadBytes(path), before);
  size_t files = 0;
  for ([[maybe_unused]] auto& entry : std::filesystem::directory_iterator(".")) ++files;
  EXPECT_EQ(files, 1u);  // no journal, lock or -wal file beside it
}

TEST_F(MbtilesFileTest, RefusesWhatIsNotARasterTileFile) {
  testing::WriteText("text.mbtiles", "not a database at all, just some words\n");
  ASSERT_TRUE(WriteMbtiles("vector.mbtiles", {}, {{"format", "pbf"}}));
  struct Case {
    const char* path;
    const char* error;
  } cases[] = {
      {"missing.mbtiles", "no such file"},
      {"text.mbtiles", "not an MBTiles file (file is not a database)"},
      {"vector.mbtiles", "holds vector tiles, not images"},
      {"other.mbtiles", "not an MBTiles file (no tiles table)"},
      {"endless.mbtiles", "the MBTiles file does not answer in time"},
  };
  ASSERT_TRUE(testing::ExecSql("other.mbtiles", "CREATE TABLE map (zoom_level INTEGER);"));
  ASSERT_TRUE(testing::WriteEndlessViewMbtiles("endless.mbtiles"));
  for (const Case& c : cases) {
    std::string error;
    EXPECT_FALSE(MbtilesFile::Open(c.path, error)) << c.path;
    EXPECT_EQ(error, c.error) << c.path;
  }
}

TEST_F(MbtilesFileTest, ReadsTilesThroughMapAndImagesWithoutATilesView) {
  ASSERT_TRUE(testing::ExecSql(
      "shared.mbtiles",
      "CREATE TABLE map (zoom_level INTEGER, tile_column INTEGER, tile_row INTEGER, tile_id TEXT);"
      "CREATE TABLE images (tile_id TEXT, tile_data BLOB);"
      "INSERT INTO map VALUES (3, 5, 2, 'sea'), (3, 6, 2, 'sea');"
      "INSERT INTO images VALUES ('sea', x'0A0B');"));
  std::string error;
  auto file = MbtilesFile::Open("shared.mbtiles", error);
  ASSERT_TRUE(file) << error;
  EXPECT_EQ(file->minZoom(), 3);
  EXPECT_EQ(file->ReadTile({3, 6, 5}), (std::vector<uint8_t>{0x0A, 0x0B}));
}

TEST_F(MbtilesFileTest, HostileContentIsBoundedInTimeAndMemory) {
  // Tiles of zoom 2 answer; a tile of zoom 3 runs an endless query; one
  // tile and the attribution are far larger than any tile may be.
  ASSERT_TRUE(WriteMbtiles("real.mbtiles", {{{2, 1, 1}, {7}}, {{3, 0, 7}, {8}}},
                           {{"minzoom", "2"}, {"maxzoom", "3"}}));
  ASSERT_TRUE(testing::ExecSql(
      "real.mbtiles",
      "INSERT INTO tiles VALUES (2, 0, 3, zeroblob(8388608));"
      "INSERT INTO metadata VALUES ('attribution', zeroblob(8388608));"
      "ALTER TABLE tiles RENAME TO stored;"
      "CREATE VIEW tiles AS SELECT zoom_level, tile_column, tile_row, CASE WHEN zoom_level < 3"
      " THEN tile_data ELSE " +
          std::string(testing::kEndlessQuery) +
          " END AS tile_data"
          " FROM stored;"));
  sqlite3_memory_highwater(1);
  std::string error;
  auto file = MbtilesFile::Open("real.mbtiles", error);
  ASSERT_TRUE(file) << error;
  EXPECT_EQ(file->attribution(), "");              // never loaded
  EXPECT_TRUE(file->ReadTile({2, 0, 0}).empty());  // 8 MiB: refused, not read
  EXPECT_FALSE(file->failed());
  EXPECT_EQ(file->ReadTile({2, 1, 1}), std::vector<uint8_t>{7});
  EXPECT_LT(sqlite3_memory_highwater(0), MbtilesFile::kMaxTileBytes);

  EXPECT_TRUE(file->ReadTile({3, 0, 7}).empty());  // stopped by the bounds
  EXPECT_TRUE(file->failed());
  EXPECT_EQ(file->failure(), "the MBTiles file does not answer in time");
  // A file that failed answers nothing more, at once.
  EXPECT_TRUE(file->ReadTile({2, 1, 1}).empty());
}

TEST(MbtilesAttributionTest, HtmlBecomesOneShortLineOfText) {
  struct Case {
    std::string html;
    std::string text;
  } cases[] = {
      {"(c) the survey", "(c) the survey"},
      {"<a href=\"https://example.org/copyright\">&copy; Example contributors</a>",
       "\u00A9 Example contributors"},
      {"Tiles &amp; data<br/>CC&#45;BY&#x20;4.0", "Tiles & data CC-BY 4.0"},
      {"  a\tb\r\n\n c  ", "a b c"},
      {"x < y &bogus; &#0; &#xD800; &#1114112; &", "x < y &bogus; &#0; &#xD800; &#1114112; &"},
      {"<script>alert(1)</script>Maps", "alert(1)Maps"},
      {"cut inside <a href=\"x", "cut inside"},
      {std::string(1021, 'a') + "\u00E9\u00E9",
       std::string(1021, 'a') + "\u00E9"},  // not mid-character
      {std::string(5000, 'b'), std::string(1024, 'b')},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(AttributionPlainText(c.html), c.text) << c.html.substr(0, 60);
  }
}

}  // namespace
}  // namespace roamgrid
