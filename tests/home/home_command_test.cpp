#include "home/home_command.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "home/home_config.h"
#include "support/scripted_platform.h"
#include "support/temp_dir.h"
#include "support/view_at.h"

namespace roamgrid {
namespace {

using testing::ReadBytes;
using testing::ScriptedPlatform;
using testing::WriteText;

ViewState At(int32_t lat, int32_t lon, int32_t zoom) { return testing::ViewAt(lat, lon, zoom); }

std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

class HomeCommandTest : public testing::TempDirTest {};

TEST_F(HomeCommandTest, AsksTheQuestionWithYesNoAndTheQuestionIcon) {
  ScriptedPlatform platform;
  platform.QueueMessageAnswer(MessageAnswer::kNo);
  ViewState state;
  SaveHomePosition(state, platform);
  ASSERT_EQ(platform.messages.size(), 1u);
  EXPECT_EQ(platform.messages[0].text, "Are you shure?");
  EXPECT_EQ(platform.messages[0].title, "Home Position");
  EXPECT_EQ(platform.messages[0].style, MessageStyle::kQuestionYesNo);
}

struct SaveCase {
  const char* name;
  MessageAnswer answer;
  int32_t lat, lon, zoom;
  const char* wantFile;  // nullptr: the old file stays byte for byte
};

TEST_F(HomeCommandTest, OnlyYesWritesTheOriginAndZoomAsTheNewHome) {
  const std::string old = "# mine\r\nLAT: 100\r\nLON: 200\r\nSKP: 3\r\n";
  const SaveCase cases[] = {
      {"No keeps the file", MessageAnswer::kNo, 14260, 55900, 1, nullptr},
      {"default home, 32 bytes", MessageAnswer::kYes, 14260, 55900, 1,
       "LAT: 14260\r\nLON: 55900\r\nSKP: 1\r\n"},
      {"zoom 7", MessageAnswer::kYes, 1280, -1280, 7, "LAT: 1280\r\nLON: -1280\r\nSKP: 7\r\n"},
      {"negative, written unaligned", MessageAnswer::kYes, -14265, -55905, 0,
       "LAT: -14265\r\nLON: -55905\r\nSKP: 0\r\n"},
  };
  for (const SaveCase& c : cases) {
    SCOPED_TRACE(c.name);
    WriteText("Roamgrid.cfg", old);
    ScriptedPlatform platform;
    platform.QueueMessageAnswer(c.answer);
    ViewState state = At(c.lat, c.lon, c.zoom);
    const bool changed = SaveHomePosition(state, platform);
    EXPECT_EQ(changed, c.wantFile != nullptr);
    EXPECT_EQ(ReadBytes("Roamgrid.cfg"), Bytes(c.wantFile ? c.wantFile : old));
    const ViewState defaults;
    EXPECT_EQ(state.homeLat, changed ? c.lat : defaults.homeLat);
    EXPECT_EQ(state.homeLon, changed ? c.lon : defaults.homeLon);
    EXPECT_EQ(state.homeZoom, changed ? c.zoom : defaults.homeZoom);
    EXPECT_TRUE(platform.AllAnswersUsed());
  }
}

TEST_F(HomeCommandTest, SavedHomeLoadsBackAtTheNextStart) {
  ScriptedPlatform platform;
  platform.QueueMessageAnswer(MessageAnswer::kYes);
  ViewState running = At(-27, 55907, 7);
  ASSERT_TRUE(SaveHomePosition(running, platform));
  ViewState next;
  ASSERT_TRUE(LoadHomeConfig(next));
  EXPECT_EQ(next.homeLat, -20);  // aligned only when read
  EXPECT_EQ(next.homeLon, 55900);
  EXPECT_EQ(next.homeZoom, 7);
}

// When the file cannot be replaced the program must not claim a home that
// the next start will not find: the fields and the old file stay.
TEST_F(HomeCommandTest, FailedWriteKeepsHomeFieldsAndOldFile) {
  std::filesystem::create_directory("Roamgrid.cfg");
  WriteText("Roamgrid.cfg/keep", "x");
  for (const std::string path : {"Roamgrid.cfg", "no-such-dir/Roamgrid.cfg"}) {
    SCOPED_TRACE(path);
    ScriptedPlatform platform;
    platform.QueueMessageAnswer(MessageAnswer::kYes);
    ViewState state = At(400, 800, 4);
    EXPECT_FALSE(SaveHomePosition(state, platform, path));
    EXPECT_EQ(state.homeLat, kDefaultHomeLat);
    EXPECT_EQ(state.homeLon, kDefaultHomeLon);
    EXPECT_EQ(state.homeZoom, kDefaultHomeZoom);
    EXPECT_EQ(state.originLat, 400);
  }
  EXPECT_TRUE(std::filesystem::is_directory("Roamgrid.cfg"));
  EXPECT_FALSE(std::filesystem::exists("no-such-dir"));
}

}  // namespace
}  // namespace roamgrid
