#include "geo/mbtiles_file.h"

#include <gtest/gtest.h>

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
  };
  for (const Case& c : cases) {
    std::string error;
    EXPECT_FALSE(MbtilesFile::Open(c.path, error)) << c.path;
    EXPECT_EQ(error, c.error) << c.path;
  }
}

}  // namespace
}  // namespace roamgrid
