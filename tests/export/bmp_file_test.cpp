#include "export/bmp_file.h"

#include <gtest/gtest.h>

#include <clocale>
#include <filesystem>
#include <map>
#include <vector>

#include "common/safe_file.h"
#include "support/temp_dir.h"

namespace roamgrid {
namespace {

using testing::Hex;
using testing::ReadBytes;
using testing::Repeat;
using testing::WriteBytes;
using testing::WriteText;
using testing::operator+;

using Bytes = std::vector<uint8_t>;
using Raster = std::vector<uint8_t>;

const Bytes kHeader =
    Hex("42 4D 36 30 09 00 00 00 00 00 36 00 00 00"  // "BM", 602166, reserved, pixels at 54
        "28 00 00 00 C0 01 00 00 C0 01 00 00"        // 40, width 448, height 448
        "01 00 18 00 00 00 00 00 00 30 09 00"        // 1 plane, 24 bits, no compression, 602112
        "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00");  // resolution, colours

constexpr size_t kSouthEast = 447;
constexpr size_t kNorthEast = kRasterSize - 1;

size_t PixelOffset(size_t j) { return kBmpHeaderSize + 3 * j; }

Bytes PixelAt(const Bytes& file, size_t j) {
  return Bytes(file.begin() + long(PixelOffset(j)), file.begin() + long(PixelOffset(j) + 3));
}

Raster MarkedRaster(std::initializer_list<size_t> marked) {
  Raster raster(kRasterSize, 0);
  for (size_t j : marked) raster[j] = 1;
  return raster;
}

// An image with our header whose pixels are white except the given ones.
Bytes ImageWith(const std::map<size_t, Bytes>& pixels) {
  Bytes image = kHeader + Repeat(0xFF, kBmpPixelDataSize);
  for (const auto& [j, bgr] : pixels)
    std::copy(bgr.begin(), bgr.end(), image.begin() + long(PixelOffset(j)));
  return image;
}

size_t FileCount() {
  size_t count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(".")) {
    (void)entry;
    ++count;
  }
  return count;
}

// --- names -------------------------------------------------------------

struct NameCase {
  int32_t originLat, originLon, zoomIndex;
  const char* expected;
};

const NameCase kNameCases[] = {
    {14260, 55900, 1, "N035.650-E139.7500-R0.050.bmp"},  // default home
    {14260, 55900, 0, "N035.650-E139.7500-R0.025.bmp"},
    {14260, 55900, 7, "N035.650-E139.7500-R3.200.bmp"},
    {-14200, -29600, 2, "S-35.500-W-74.0000-R0.100.bmp"},  // minus behind the letter
    {-2200, -3800, 1, "S-05.500-W-9.5000-R0.050.bmp"},     // zeros after the minus
    {2000, 3600, 3, "N005.000-E09.0000-R0.200.bmp"},
    {0, 0, 0, "N000.000-E00.0000-R0.025.bmp"},
    {-36000, -72000, 4, "S-90.000-W-180.0000-R0.400.bmp"},  // wider than the width
    {-1, 71995, 0, "S-00.003-E179.9875-R0.025.bmp"},        // tiny negative rounds away
};

void ExpectNames() {
  for (const NameCase& c : kNameCases) {
    ViewState state;
    state.originLat = c.originLat;
    state.originLon = c.originLon;
    state.zoomIndex = c.zoomIndex;
    EXPECT_EQ(ProposedExportName(state), c.expected) << c.originLat << " " << c.originLon;
  }
}

TEST(ProposedExportNameTest, GoldenNames) { ExpectNames(); }

TEST(ProposedExportNameTest, SameNamesUnderDecimalCommaLocale) {
  const char* active = nullptr;
  for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8"}) {
    if (std::setlocale(LC_ALL, name)) {
      active = name;
      break;
    }
  }
  if (!active) GTEST_SKIP() << "no decimal-comma locale installed";
  ExpectNames();
  std::setlocale(LC_ALL, "C");
}

// --- header and new images ---------------------------------------------------

TEST(BmpHeaderTest, GoldenBytes) {
  const auto header = BmpHeader();
  EXPECT_EQ(Bytes(header.begin(), header.end()), kHeader);
}

class BmpFileTest : public testing::TempDirTest {
 protected:
  void TearDown() override {
    ClearWriteFault();
    TempDirTest::TearDown();
  }
};

TEST_F(BmpFileTest, BlankRasterGivesAWhiteImage) {
  const Raster raster(kRasterSize, 0);
  ASSERT_EQ(WriteNewImage("x.bmp", raster.data()), ImageWriteResult::kWritten);
  EXPECT_EQ(ReadBytes("x.bmp"), kHeader + Repeat(0xFF, kBmpPixelDataSize));
}

TEST_F(BmpFileTest, PixelsFollowRasterOrderFromTheSouthWestCorner) {
  // Any non-zero raster byte is marked.
  Raster raster = MarkedRaster({0, kSouthEast, kNorthEast});
  raster[kSouthEast] = 0x80;
  ASSERT_EQ(WriteNewImage("x.bmp", raster.data()), ImageWriteResult::kWritten);
  const Bytes file = ReadBytes("x.bmp");
  ASSERT_EQ(file.size(), kBmpFileSize);
  EXPECT_EQ(PixelOffset(kSouthEast), 54u + 3 * 447);
  EXPECT_EQ(PixelOffset(kNorthEast), 602163u);
  EXPECT_EQ(file, ImageWith({{0, Hex("00 00 FF")},
                             {kSouthEast, Hex("00 00 FF")},
                             {kNorthEast, Hex("00 00 FF")}}));
}

TEST_F(BmpFileTest, NewImageReplacesAFileOfAnyKind) {
  WriteText("x.bmp", "not an image at all");
  const Raster raster = MarkedRaster({5});
  ASSERT_EQ(WriteNewImage("x.bmp", raster.data()), ImageWriteResult::kWritten);
  EXPECT_EQ(ReadBytes("x.bmp"), ImageWith({{5, Hex("00 00 FF")}}));
  EXPECT_EQ(FileCount(), 1u);  // no temporary file left
}

TEST_F(BmpFileTest, NewImageThatCannotBeCreatedIsReported) {
  const Raster raster(kRasterSize, 0);
  std::filesystem::create_directory("folder.bmp");
  EXPECT_EQ(WriteNewImage("missing/x.bmp", raster.data()), ImageWriteResult::kCannotOpen);
  EXPECT_EQ(WriteNewImage("folder.bmp", raster.data()), ImageWriteResult::kCannotOpen);
  EXPECT_TRUE(std::filesystem::is_directory("folder.bmp"));
  EXPECT_EQ(FileCount(), 1u);
}

TEST_F(BmpFileTest, NewImageFailingPartWayKeepsTheOldFile) {
  const Raster raster = MarkedRaster({0});
  for (const WriteFault fault : {WriteFault{0, false}, WriteFault{54, false},
                                 WriteFault{300000, false}, WriteFault{-1, true}}) {
    WriteText("x.bmp", "old");
    SetWriteFault(fault);
    EXPECT_EQ(WriteNewImage("x.bmp", raster.data()), ImageWriteResult::kWriteFailed);
    ClearWriteFault();
    EXPECT_EQ(ReadBytes("x.bmp"), Hex("6F 6C 64"));
    EXPECT_EQ(FileCount(), 1u);
  }
}

// --- merge -------------------------------------------------------------------

TEST_F(BmpFileTest, MergeTurnsRedOnlyWhereTheOldPixelIsExactlyWhite) {
  struct Case {
    const char* what;
    Bytes old;
    bool marked;
    Bytes merged;
  };
  const Case cases[] = {
      {"white marked", Hex("FF FF FF"), true, Hex("00 00 FF")},
      {"white unmarked", Hex("FF FF FF"), false, Hex("FF FF FF")},
      {"red marked", Hex("00 00 FF"), true, Hex("00 00 FF")},
      {"red unmarked", Hex("00 00 FF"), false, Hex("00 00 FF")},
      {"near white marked", Hex("FE FF FF"), true, Hex("FE FF FF")},
      {"near white marked", Hex("FF FF FE"), true, Hex("FF FF FE")},
      {"colour marked", Hex("12 34 56"), true, Hex("12 34 56")},
      {"black unmarked", Hex("00 00 00"), false, Hex("00 00 00")},
  };
  // Each case sits at its own pixel of one image, corners included.
  const size_t places[] = {0, 1, kSouthEast, 448, 100000, 200000, kNorthEast - 1, kNorthEast};
  std::map<size_t, Bytes> old;
  Raster raster(kRasterSize, 0);
  for (size_t i = 0; i < std::size(cases); ++i) {
    old[places[i]] = cases[i].old;
    raster[places[i]] = cases[i].marked ? 1 : 0;
  }
  raster[7] = 1;  // a marked pixel that is white in no case above: plain white
  WriteBytes("x.bmp", ImageWith(old));
  ASSERT_EQ(MergeIntoImage("x.bmp", raster.data()), MergeResult::kMerged);
  const Bytes file = ReadBytes("x.bmp");
  ASSERT_EQ(file.size(), kBmpFileSize);
  for (size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(PixelAt(file, places[i]), cases[i].merged) << cases[i].what;
  }
  EXPECT_EQ(PixelAt(file, 7), Hex("00 00 FF"));
  EXPECT_EQ(PixelAt(file, 8), Hex("FF FF FF"));
  EXPECT_EQ(FileCount(), 1u);  // the ".bk" file became the image
}

TEST_F(BmpFileTest, MergeIntoAnImageOfTheSameViewAddsTheNewMarks) {
  const Raster earlier = MarkedRaster({10, 20});
  const Raster now = MarkedRaster({20, 30});
  ASSERT_EQ(WriteNewImage("x.bmp", earlier.data()), ImageWriteResult::kWritten);
  ASSERT_EQ(MergeIntoImage("x.bmp", now.data()), MergeResult::kMerged);
  EXPECT_EQ(ReadBytes("x.bmp"),
            ImageWith({{10, Hex("00 00 FF")}, {20, Hex("00 00 FF")}, {30, Hex("00 00 FF")}}));
}

TEST_F(BmpFileTest, MergeRefusesAForeignHeaderAndLeavesTheFile) {
  Bytes otherWidth = ImageWith({});
  otherWidth[18] = 0xBF;
  Bytes otherDepth = ImageWith({});
  otherDepth[28] = 0x20;
  Bytes resolution = ImageWith({});
  resolution[38] = 0x13;
  resolution[39] = 0x0B;
  Bytes topDown = ImageWith({});  // height -448
  for (size_t i = 22; i < 26; ++i) topDown[i] = Hex("40 FE FF FF")[i - 22];
  const Bytes shortHeader(kHeader.begin(), kHeader.end() - 1);
  const Raster raster = MarkedRaster({0});
  for (const Bytes& old : {otherWidth, otherDepth, resolution, topDown, shortHeader, Bytes{}}) {
    WriteBytes("x.bmp", old);
    EXPECT_EQ(MergeIntoImage("x.bmp", raster.data()), MergeResult::kForeignHeader);
    EXPECT_EQ(ReadBytes("x.bmp"), old);
    EXPECT_EQ(FileCount(), 1u);  // no ".bk" file
  }
}

TEST_F(BmpFileTest, MergeOfAMissingImageWritesNothing) {
  const Raster raster = MarkedRaster({0});
  EXPECT_EQ(MergeIntoImage("x.bmp", raster.data()), MergeResult::kCannotOpenExisting);
  EXPECT_EQ(FileCount(), 0u);
}

TEST_F(BmpFileTest, ShortPixelDataRepeatsTheLastBytesRead) {
  struct Case {
    const char* what;
    Bytes pixelData;      // the old image's pixel data, cut short
    Bytes firstTwo;       // merged pixels 0 and 1 (both marked)
    Bytes laterMarked;    // every later marked pixel
    Bytes laterUnmarked;  // every later unmarked pixel
  };
  const Case cases[] = {
      // Pixel 1 gets one byte (44) over the buffer 11 22 33; later ones none.
      {"partial pixel", Hex("11 22 33 44"), Hex("11 22 33 44 22 33"), Hex("44 22 33"),
       Hex("44 22 33")},
      // After a white pixel, later marked pixels turn red on the repeated white.
      {"white last", Hex("00 00 00 FF FF FF"), Hex("00 00 00 00 00 FF"), Hex("00 00 FF"),
       Hex("FF FF FF")},
      // Nothing after the header: the buffer starts white, as a new image.
      {"header only", {}, Hex("00 00 FF 00 00 FF"), Hex("00 00 FF"), Hex("FF FF FF")},
  };
  const Raster raster = MarkedRaster({0, 1, 2, kNorthEast});
  for (const Case& c : cases) {
    WriteBytes("x.bmp", kHeader + c.pixelData);
    ASSERT_EQ(MergeIntoImage("x.bmp", raster.data()), MergeResult::kMerged) << c.what;
    const Bytes file = ReadBytes("x.bmp");
    ASSERT_EQ(file.size(), kBmpFileSize) << c.what;
    EXPECT_EQ(PixelAt(file, 0) + PixelAt(file, 1), c.firstTwo) << c.what;
    EXPECT_EQ(PixelAt(file, 2), c.laterMarked) << c.what;
    EXPECT_EQ(PixelAt(file, kNorthEast), c.laterMarked) << c.what;
    EXPECT_EQ(PixelAt(file, 3), c.laterUnmarked) << c.what;
    EXPECT_EQ(PixelAt(file, kNorthEast - 1), c.laterUnmarked) << c.what;
  }
}

TEST_F(BmpFileTest, MergeReplacesAnExistingBackupFile) {
  WriteBytes("x.bmp", ImageWith({}));
  WriteText("x.bmp.bk", "something else");
  const Raster raster = MarkedRaster({3});
  ASSERT_EQ(MergeIntoImage("x.bmp", raster.data()), MergeResult::kMerged);
  EXPECT_EQ(ReadBytes("x.bmp"), ImageWith({{3, Hex("00 00 FF")}}));
  EXPECT_FALSE(std::filesystem::exists("x.bmp.bk"));
}

TEST_F(BmpFileTest, MergeThroughALinkReplacesTheImageItPointsTo) {
  std::filesystem::create_directory("images");
  WriteBytes("images/x.bmp", ImageWith({}));
  std::filesystem::create_symlink("images/x.bmp", "link.bmp");
  const Raster raster = MarkedRaster({3});
  ASSERT_EQ(MergeIntoImage("link.bmp", raster.data()), MergeResult::kMerged);
  EXPECT_TRUE(std::filesystem::is_symlink("link.bmp"));
  EXPECT_EQ(ReadBytes("images/x.bmp"), ImageWith({{3, Hex("00 00 FF")}}));
  EXPECT_FALSE(std::filesystem::exists("images/x.bmp.bk"));
  EXPECT_FALSE(std::filesystem::exists("link.bmp.bk"));
}

TEST_F(BmpFileTest, FailedMergeKeepsTheOldImageAndRemovesTheBackup) {
  const Bytes old = ImageWith({{9, Hex("12 34 56")}});
  const Raster raster = MarkedRaster({0});
  for (const WriteFault fault : {WriteFault{0, false}, WriteFault{54, false},
                                 WriteFault{300000, false}, WriteFault{-1, true}}) {
    WriteBytes("x.bmp", old);
    SetWriteFault(fault);
    EXPECT_EQ(MergeIntoImage("x.bmp", raster.data()), MergeResult::kWriteFailed);
    ClearWriteFault();
    EXPECT_EQ(ReadBytes("x.bmp"), old);
    EXPECT_EQ(FileCount(), 1u);
  }
}

TEST_F(BmpFileTest, MergeWhoseBackupCannotBeCreatedKeepsTheOldImage) {
  const Bytes old = ImageWith({});
  WriteBytes("x.bmp", old);
  std::filesystem::create_directory("x.bmp.bk");
  const Raster raster = MarkedRaster({0});
  EXPECT_EQ(MergeIntoImage("x.bmp", raster.data()), MergeResult::kBackupTaken);
  EXPECT_EQ(ReadBytes("x.bmp"), old);
  EXPECT_TRUE(std::filesystem::is_directory("x.bmp.bk"));  // not ours to remove
}

}  // namespace
}  // namespace roamgrid
