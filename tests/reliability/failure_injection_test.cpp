// Failure injection: every writer of user data (tile saves, the home file,
// new and merged images) is made to fail after each of many byte counts,
// and at the close, as a full disk would. The existing file must stay byte
// for byte as it was, no partial or temporary file may stay behind, and the
// failure must be handled as the system promises: a tile keeps its old
// file, the home file and the home fields stay, a merge keeps the old image
// and says "Can not Marge", a new image's failure is reported.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "common/safe_file.h"
#include "export/bmp_file.h"
#include "export/export_command.h"
#include "home/home_command.h"
#include "home/home_config.h"
#include "support/scripted_platform.h"
#include "support/temp_dir.h"
#include "tiles/store_lock.h"
#include "tiles/tile_file.h"
#include "tiles/track_recorder.h"
#include "tiles/track_tile.h"

namespace roamgrid {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using testing::ReadBytes;
using testing::ScriptedPlatform;
using testing::WriteBytes;
using testing::WriteText;

// The faults of a sweep over a write of `size` bytes: failing after every
// count up to 64, then every `step`-th count, the last byte, and a failing
// close with every byte written.
std::vector<WriteFault> FaultSweep(long long size, long long step) {
  std::set<long long> counts;
  for (long long n = 0; n < size && n <= 64; ++n) counts.insert(n);
  for (long long n = 0; n < size; n += step) counts.insert(n);
  counts.insert(size - 1);
  std::vector<WriteFault> faults;
  for (long long n : counts) faults.push_back(WriteFault{n, false});
  faults.push_back(WriteFault{-1, true});
  return faults;
}

std::string Describe(const WriteFault& fault) {
  return fault.failClose ? "close fails" : "fails after " + std::to_string(fault.failAfterBytes);
}

// Every regular file below `dir`, as relative
// paths.
std::set<std::string> FilesBelow(const fs::path& dir) {
  std::set<std::string> files;
  std::error_code ec;
  for (const auto& entry : fs::recursive_directory_iterator(dir, ec))
    if (entry.is_regular_file()) files.insert(entry.path().lexically_relative(dir).string());
  return files;
}

class FailureInjectionTest : public testing::TempDirTest {
 protected:
  void TearDown() override {
    ClearWriteFault();
    TempDirTest::TearDown();
  }
};

// --- tiles ------------------------------------------------------------------

std::unique_ptr<TrackTile> TileWithTrack(int32_t latKey, int32_t lonKey, int length) {
  auto tile = std::make_unique<TrackTile>();
  tile->latKey = latKey;
  tile->lonKey = lonKey;
  FormatTilePath(latKey, lonKey, tile->path);
  tile->cells = std::make_unique<uint8_t[]>(kCellCount);
  for (int i = 0; i < length; ++i) tile->cells[(10 + i) * kCellsPerSide + 3 * i] = 1;
  tile->southMask = 0x01;
  tile->dirty = 1;
  return tile;
}

TEST_F(FailureInjectionTest, FailedTileSaveKeepsTheOldFileOrWritesNone) {
  const auto older = TileWithTrack(3565, 13975, 50);
  ASSERT_TRUE(SaveTile(*older));
  const std::string path = older->path;
  const Bytes oldFile = ReadBytes(path);
  const auto newer = TileWithTrack(3565, 13975, 400);
  const long long newSize = (long long)EncodeTile(0, 1, newer->cells.get()).size();
  const auto fresh = TileWithTrack(3570, 13975, 400);

  for (const WriteFault& fault : FaultSweep(newSize, 17)) {
    SCOPED_TRACE(Describe(fault));
    SetWriteFault(fault);
    EXPECT_FALSE(SaveTile(*newer));
    EXPECT_FALSE(SaveTile(*fresh));  // a tile without a file gets none
    ClearWriteFault();
    EXPECT_EQ(ReadBytes(path), oldFile);
    ASSERT_EQ(FilesBelow("RGD"), std::set<std::string>{"E139N035/E13975-N03565.map"});
  }
  // A fault just beyond the file is no fault: the sweep reached the end.
  SetWriteFault({newSize, false});
  EXPECT_TRUE(SaveTile(*newer));
  ClearWriteFault();
  TrackTile loaded;
  FormatTilePath(3565, 13975, loaded.path);
  EXPECT_EQ(LoadTile(loaded), kLoaded);
}

TEST_F(FailureInjectionTest, RecorderWhoseSaveFailsKeepsTheOldFileAndRecordsOn) {
  // A tile with older marks; the recorder adds a fix to it and moves on to
  // another tile while the disk is full.
  const auto older = TileWithTrack(3565, 13975, 50);
  ASSERT_TRUE(SaveTile(*older));
  const Bytes oldFile = ReadBytes(older->path);
  for (const WriteFault& fault : FaultSweep((long long)oldFile.size(), 97)) {
    SCOPED_TRACE(Describe(fault));
    TrackRecorder recorder;
    ASSERT_TRUE(AddPoint(recorder, 35.66, 139.76));  // in tile (3565, 13975)
    SetWriteFault(fault);
    ASSERT_TRUE(AddPoint(recorder, 35.71, 139.76));  // the change of tile saves, and fails
    ASSERT_TRUE(AddPoint(recorder, 35.66, 139.76));
    ASSERT_TRUE(AddPoint(recorder, 35.71, 139.76));  // and fails again
    ClearWriteFault();
    EXPECT_EQ(ReadBytes(older->path), oldFile);
    // Each tile named once, with the reason a full disk gives.
    const int error = fault.failClose ? EIO : ENOSPC;
    const std::vector<TileProblem> named = {
        {TileProblem::Kind::kNotSaved, "RGD/E139N035/E13975-N03565.map", error},
        {TileProblem::Kind::kNotSaved, "RGD/E139N035/E13975-N03570.map", error}};
    EXPECT_TRUE(recorder.tileProblems == named);
    // Recording goes on: the second tile is written when released.
    EXPECT_TRUE(ReleaseRecorderTile(recorder));
    EXPECT_EQ(FilesBelow("RGD"),
              (std::set<std::string>{"E139N035/E13975-N03565.map", "E139N035/E13975-N03570.map"}));
    fs::remove("RGD/E139N035/E13975-N03570.map");
  }
}

// --- home file --------------------------------------------------------------

TEST_F(FailureInjectionTest, FailedHomeWriteKeepsTheOldFileAndTheHomeFields) {
  const std::string oldText = "# my home\nLAT: 14260\nLON: 55900\nSKP: 1\n";
  const std::string newText = "LAT: -14200\r\nLON: -29600\r\nSKP: 2\r\n";
  for (const WriteFault& fault : FaultSweep((long long)newText.size(), 1)) {
    SCOPED_TRACE(Describe(fault));
    WriteText(kHomeConfigPath, oldText);
    ViewState state;
    state.originLat = -14200;
    state.originLon = -29600;
    state.zoomIndex = 2;
    ScriptedPlatform platform;
    platform.QueueMessageAnswer(MessageAnswer::kYes);
    SetWriteFault(fault);
    EXPECT_FALSE(SaveHomePosition(state, platform, kHomeConfigPath));
    ClearWriteFault();
    const Bytes bytes = ReadBytes(kHomeConfigPath);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), oldText);
    EXPECT_EQ(state.homeLat, kDefaultHomeLat);
    EXPECT_EQ(state.homeLon, kDefaultHomeLon);
    EXPECT_EQ(state.homeZoom, kDefaultHomeZoom);
    EXPECT_EQ(platform.messages.size(), 1u);  // the question only; a failure is silent
    EXPECT_EQ(FilesBelow("."), std::set<std::string>{kHomeConfigPath});
  }
  // With room for every byte the home is saved.
  SetWriteFault({(long long)newText.size(), false});
  EXPECT_TRUE(WriteHomeConfig({-14200, -29600, 2}));
  const Bytes bytes = ReadBytes(kHomeConfigPath);
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), newText);
}

// --- images -----------------------------------------------------------------

class ExportFailureTest : public FailureInjectionTest {
 protected:
  ExportFailureTest() : raster_(kRasterSize, 0) {
    for (int i = 0; i < kRasterSide; ++i) raster_[i * kRasterSide + (kRasterSide - 1 - i)] = 1;
  }

  // Exports to "view.bmp" under `fault`, answering the prompt with `answer`
  // when the file exists; returns the messages shown.
  std::vector<ScriptedPlatform::Message> ExportUnder(const WriteFault& fault,
                                                     std::optional<OverwriteAnswer> answer) {
    ScriptedPlatform platform;
    platform.QueueExportPath("view.bmp");
    if (answer) platform.QueueOverwrite(*answer);
    SetWriteFault(fault);
    ExportBitmap(ViewState{}, raster_.data(), platform);
    ClearWriteFault();
    EXPECT_TRUE(platform.AllAnswersUsed());
    return platform.messages;
  }

  static void ExpectOneExclamation(const std::vector<ScriptedPlatform::Message>& messages,
                                   const char* text) {
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, text);
    EXPECT_EQ(messages[0].title, "");
    EXPECT_EQ(messages[0].style, MessageStyle::kExclamationOk);
  }

  // An earlier export of the same view with other marks.
  static Bytes OldImage() {
    std::vector<uint8_t> raster(kRasterSize, 0);
    for (int i = 0; i < kRasterSide; ++i) raster[i * kRasterSide + i] = 1;
    EXPECT_EQ(WriteNewImage("old.bmp", raster.data()), ImageWriteResult::kWritten);
    Bytes bytes = ReadBytes("old.bmp");
    fs::remove("old.bmp");
    return bytes;
  }

  std::vector<uint8_t> raster_;
};

// Counts around the header and the first buffered rows, then across the
// whole image.
std::vector<WriteFault> ImageFaults() {
  std::vector<WriteFault> faults;
  for (long long n : {0LL, 1LL, 53LL, 54LL, 55LL, 4085LL, 4086LL, 4087LL, 8119LL})
    faults.push_back({n, false});
  for (long long n = 40000; n < (long long)kBmpFileSize; n += 61111) faults.push_back({n, false});
  faults.push_back({(long long)kBmpFileSize - 1, false});
  faults.push_back({-1, true});
  return faults;
}

TEST_F(ExportFailureTest, FailedNewImageIsReportedAndLeavesNoFile) {
  for (const WriteFault& fault : ImageFaults()) {
    SCOPED_TRACE(Describe(fault));
    ExpectOneExclamation(ExportUnder(fault, std::nullopt), kCannotWriteText);
    EXPECT_TRUE(FilesBelow(".").empty());
  }
}

TEST_F(ExportFailureTest, FailedOverwriteIsReportedAndKeepsTheOldFile) {
  const Bytes old = OldImage();
  for (const WriteFault& fault : ImageFaults()) {
    SCOPED_TRACE(Describe(fault));
    WriteBytes("view.bmp", old);
    ExpectOneExclamation(ExportUnder(fault, OverwriteAnswer::kOverwrite), kCannotWriteText);
    EXPECT_EQ(ReadBytes("view.bmp"), old);
    EXPECT_EQ(FilesBelow("."), std::set<std::string>{"view.bmp"});
  }
}

TEST_F(ExportFailureTest, FailedMergeSaysCanNotMargeAndKeepsTheOldImage) {
  const Bytes old = OldImage();
  for (const WriteFault& fault : ImageFaults()) {
    SCOPED_TRACE(Describe(fault));
    WriteBytes("view.bmp", old);
    ExpectOneExclamation(ExportUnder(fault, OverwriteAnswer::kMerge), kCannotMergeText);
    EXPECT_EQ(ReadBytes("view.bmp"), old);
    EXPECT_EQ(FilesBelow("."), std::set<std::string>{"view.bmp"});  // no ".bk" left
  }
  // Without a fault the same merge succeeds silently.
  WriteBytes("view.bmp", old);
  EXPECT_TRUE(ExportUnder(WriteFault{}, OverwriteAnswer::kMerge).empty());
  EXPECT_NE(ReadBytes("view.bmp"), old);
}

}  // namespace
}  // namespace roamgrid
