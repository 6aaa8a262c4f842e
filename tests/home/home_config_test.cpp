#include "home/home_config.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

#include "common/safe_file.h"
#include "support/temp_dir.h"

namespace roamgrid {
namespace {

using testing::ReadBytes;
using testing::WriteText;

const std::string kDefaultFile = "LAT: 14260\r\nLON: 55900\r\nSKP: 1\r\n";

class HomeConfigTest : public testing::TempDirTest {
 protected:
  void TearDown() override {
    ClearWriteFault();
    TempDirTest::TearDown();
  }
  static std::string ReadText(const std::string& path) {
    const std::vector<uint8_t> bytes = ReadBytes(path);
    return std::string(bytes.begin(), bytes.end());
  }
  static size_t FileCount() {
    size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("."))
      count += !entry.is_directory();
    return count;
  }
};

TEST_F(HomeConfigTest, ReadsValidatesAndAlignsFiles) {
  using Home = std::optional<HomePosition>;
  const Home none;
  const std::string comment254 = "#" + std::string(253, 'c');  // 254 characters
  struct Case {
    std::string text;
    Home home;
  };
  const Case cases[] = {
      {kDefaultFile, HomePosition{14260, 55900, 1}},
      {"LAT: 14260\nLON: 55900\nSKP: 1\n", HomePosition{14260, 55900, 1}},
      {"LAT: 14260\nLON: 55900\nSKP: 1", HomePosition{14260, 55900, 1}},  // no last line end
      // Alignment to the zoom's step, truncating toward zero.
      {"LAT: 14263\nLON: 55907\nSKP: 0\n", HomePosition{14260, 55905, 0}},
      {"LAT: 14263\nLON: 55907\nSKP: 1\n", HomePosition{14260, 55900, 1}},
      {"LAT: 14263\nLON: 55907\nSKP: 2\n", HomePosition{14260, 55900, 2}},
      {"LAT: -7\nLON: -7\nSKP: 0\n", HomePosition{-5, -5, 0}},
      {"LAT: -27\nLON: 27\nSKP: 3\n", HomePosition{-20, 20, 3}},
      {"LAT: 0\nLON: 0\nSKP: 7\n", HomePosition{0, 0, 7}},
      {"LAT: 0\nLON: 0\nSKP: 8\n", none},
      {"LAT: 0\nLON: 0\nSKP: -1\n", none},
      // Numbers as "%d" reads them; anything after the number is ignored.
      {"LAT: 14260abc\nLON: +55900 x\nSKP:  \t1;\n", HomePosition{14260, 55900, 1}},
      {"LAT: -2147483648\nLON: 2147483647\nSKP: 7\n", HomePosition{-2147483640, 2147483640, 7}},
      {"LAT: 2147483648\nLON: 0\nSKP: 1\n", none},  // does not fit 32 bits
      {"LAT: -2147483649\nLON: 0\nSKP: 1\n", none},
      {"LAT: 99999999999999999999\nLON: 0\nSKP: 1\n", none},
      {"LAT: \nLON: 0\nSKP: 1\n", none},
      {"LAT: \n5\nLON: 0\nSKP: 1\n", none},
      {"LAT: abc\nLON: 0\nSKP: 1\n", none},
      // Keys exactly as written, at the start of the line.
      {"LAT:14260\nLON: 55900\nSKP: 1\n", none},
      {"lat: 14260\nLON: 55900\nSKP: 1\n", none},
      {" LAT: 14260\nLON: 55900\nSKP: 1\n", none},
      // Order, repeats, missing keys, comments and empty lines.
      {"SKP: 2\nLAT: 40\nLON: 60\n", HomePosition{40, 60, 2}},
      {"LAT: 20\nLON: 60\nSKP: 2\nLAT: 40\n", HomePosition{40, 60, 2}},
      {"LAT: 20\nSKP: 2\n", none},
      {"# home\nLAT: 20\n#\nLON: 60\nSKP: 2\n# end", HomePosition{20, 60, 2}},
      {"LAT: 20\nLON: 60\nSKP: 2\n\n", none},
      {"LAT: 20\nLON: 60\nSKP: 2\r\n\r\n", none},
      {"\nLAT: 20\nLON: 60\nSKP: 2\n", none},
      {"LAT: 20\nLON: 60\nSKP: 2\nX\n", none},  // an invalid line after all three keys
      {"", none},
      // 255-character pieces: a longer line's rest is judged on its own.
      {comment254 + "\nLAT: 20\nLON: 60\nSKP: 2\n", HomePosition{20, 60, 2}},
      {comment254 + "x\nLAT: 20\nLON: 60\nSKP: 2\n", none},  // the second piece is "\n"
      {comment254 + "xLAT: 20\nLON: 60\nSKP: 2\n", HomePosition{20, 60, 2}},
      {comment254 + "x#\nLAT: 20\nLON: 60\nSKP: 2\n", HomePosition{20, 60, 2}},
      // A CR right before the LF takes no room in a piece, as a text-mode
      // read of CR LF lines gives it.
      {comment254 + "\r\nLAT: 20\r\nLON: 60\r\nSKP: 2\r\n", HomePosition{20, 60, 2}},
      {comment254 + "x\r\nLAT: 20\r\nLON: 60\r\nSKP: 2\r\n", none},
      {comment254 + "\rx\nLAT: 20\nLON: 60\nSKP: 2\n", none},  // a lone CR is a character
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    WriteText("home.cfg", c.text);
    EXPECT_EQ(ReadHomeConfig("home.cfg"), c.home);
  }
  EXPECT_EQ(ReadHomeConfig("missing.cfg"), none);
}

TEST_F(HomeConfigTest, LoadReplacesOnlyTheHomeFieldsOfAValidFile) {
  ViewState state;
  state.originLat = 1;
  EXPECT_FALSE(LoadHomeConfig(state));  // no file: the default home stays
  EXPECT_EQ(state.homeLat, 14260);
  EXPECT_EQ(state.homeLon, 55900);
  EXPECT_EQ(state.homeZoom, 1);

  WriteText(kHomeConfigPath, "LAT: 100\nLON: -100\nSKP: 9\n");
  EXPECT_FALSE(LoadHomeConfig(state));
  EXPECT_EQ(state.homeLat, 14260);

  WriteText(kHomeConfigPath, "LAT: 105\nLON: -105\nSKP: 4\n");
  EXPECT_TRUE(LoadHomeConfig(state));
  EXPECT_EQ(state.homeLat, 100);
  EXPECT_EQ(state.homeLon, -100);
  EXPECT_EQ(state.homeZoom, 4);
  EXPECT_EQ(state.originLat, 1);  // the view is not moved
}

TEST_F(HomeConfigTest, WritesExactlyTheThreeLinesAndReadsThemBack) {
  ASSERT_TRUE(WriteHomeConfig({14260, 55900, 1}));
  EXPECT_EQ(ReadText(kHomeConfigPath), kDefaultFile);
  EXPECT_EQ(ReadBytes(kHomeConfigPath).size(), 32u);

  // Values are written as given; alignment happens when reading.
  WriteText(kHomeConfigPath, "# my home\nLAT: 1\n");
  ASSERT_TRUE(WriteHomeConfig({-2147483647 - 1, 55907, 7}));
  EXPECT_EQ(ReadText(kHomeConfigPath), "LAT: -2147483648\r\nLON: 55907\r\nSKP: 7\r\n");
  EXPECT_EQ(ReadHomeConfig(), (HomePosition{-2147483640, 55900, 7}));
  EXPECT_EQ(FileCount(), 1u);  // no temporary file left behind
}

TEST_F(HomeConfigTest, FailedWriteKeepsTheOldFile) {
  WriteText(kHomeConfigPath, "# keep me\r\n" + kDefaultFile);
  const std::vector<uint8_t> before = ReadBytes(kHomeConfigPath);
  for (const WriteFault& fault : {WriteFault{.failAfterBytes = 0}, WriteFault{.failAfterBytes = 20},
                                  WriteFault{.failClose = true}}) {
    SetWriteFault(fault);
    EXPECT_FALSE(WriteHomeConfig({40, 60, 2}));
    EXPECT_EQ(ReadBytes(kHomeConfigPath), before);
    EXPECT_EQ(FileCount(), 1u);
  }
  ClearWriteFault();
  EXPECT_FALSE(WriteHomeConfig({40, 60, 2}, "no-such-folder/Roamgrid.cfg"));
}

}  // namespace
}  // namespace roamgrid
