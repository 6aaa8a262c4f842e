// roamgrid-cli places and export --places, run as the built program: the
// one line for missing, damaged and foreign outlines, misuse, and (with
// gmt-dcw installed) a track across the Basel tripoint in every format,
// counted again from the cache, limited by --bbox, and written as CSV and
// GeoJSON.
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "cli/cli_runner.h"
#include "geo/dcw_regions.h"
#include "support/generated_logs.h"
#include "support/temp_dir.h"

namespace roamgrid {
namespace {

namespace fs = std::filesystem;
using testing::CliRun;
using testing::RunCli;

std::vector<std::string> LinesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string ReadText(const std::string& path) {
  const std::vector<uint8_t> bytes = testing::ReadBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

bool Installed() { return fs::exists(std::string(kDcwFolder) + "/" + kDcwOutlinesFile); }

class CliPlacesTest : public testing::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    for (const char* name : {"XDG_CACHE_HOME", "ROAMGRID_DCW_DIR"}) {
      const char* value = std::getenv(name);
      saved_.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
    }
    setenv("XDG_CACHE_HOME", (dir() / "cache").c_str(), 1);
    unsetenv("ROAMGRID_DCW_DIR");
    fs::create_directories("store");
  }
  void TearDown() override {
    for (const auto& [name, value] : saved_) {
      if (value) {
        setenv(name.c_str(), value->c_str(), 1);
      } else {
        unsetenv(name.c_str());
      }
    }
    TempDirTest::TearDown();
  }
  // Records a track across the Basel tripoint (France, Germany and
  // Switzerland meet in the Rhine) into store/.
  void ImportBasel() {
    std::string log;
    for (int k = 0; k <= 600; ++k) {
      log += testing::GgaSentence(47.580 + k * 0.00002, 7.570 + k * 0.00006) + "\r\n";
      log += testing::GgaSentence(47.600 - k * 0.00002, 7.575 + k * 0.00004) + "\r\n";
    }
    testing::WriteText("basel.log", log);
    ASSERT_EQ(RunCli({"-C", "store", "import", "../basel.log"}).status, 0);
  }

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST_F(CliPlacesTest, MissingDamagedOrForeignOutlinesGiveOneLineAndNoPlaces) {
  testing::WriteText("t.log", testing::GgaSentence(47.59, 7.59) + "\r\n");
  ASSERT_EQ(RunCli({"-C", "store", "import", "../t.log"}).status, 0);
  struct Case {
    const char* what;
    std::vector<uint8_t> file;  // dcw-gmt.nc; none: missing
    std::string said;
  };
  std::vector<Case> cases = {{"missing", {}, "install gmt-dcw"},
                             {"not netCDF", {'n', 'o', 't', ' ', 'n', 'c'}, "no places"}};
  if (Installed()) {
    std::vector<uint8_t> real = testing::ReadBytes(std::string(kDcwFolder) + "/dcw-gmt.nc");
    real.resize(real.size() / 2);
    cases.push_back({"cut in half", real, "no places"});
  }
  const std::string foreign = "/usr/share/gmt-gshhg/binned_GSHHS_l.nc";
  if (fs::exists(foreign))
    cases.push_back({"a coastline file", testing::ReadBytes(foreign), "holds no country outlines"});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const fs::path folder = dir() / c.what;
    fs::create_directories(folder);
    if (!c.file.empty()) testing::WriteBytes((folder / "dcw-gmt.nc").string(), c.file);
    setenv("ROAMGRID_DCW_DIR", folder.c_str(), 1);
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"-C", "store", "places"},
          std::vector<std::string>{"-C", "store", "export", "--places", "p.csv"}}) {
      const CliRun run = RunCli(arguments);
      EXPECT_EQ(run.status, 1);
      EXPECT_EQ(run.out, "");
      ASSERT_EQ(LinesOf(run.err).size(), 1u) << run.err;
      EXPECT_NE(run.err.find(c.said), std::string::npos) << run.err;
    }
    EXPECT_FALSE(fs::exists("store/p.csv"));
  }
}

TEST_F(CliPlacesTest, EveryMisuseIsOneLineAndStatus2) {
  for (const std::vector<std::string>& arguments : std::vector<std::vector<std::string>>{
           {"places", "--by", "planet"},
           {"places", "--by", "state", "--by", "country"},
           {"places", "--format", "xml"},
           {"places", "--bbox", "3,0,1,1"},
           {"places", "extra"},
           {"places", "--places", "a.csv"},
           {"export", "--places", "a.txt"},
           {"export", "--places", "a.csv", "--zoom", "3"},
           {"export", "--places", "a.csv", "b.png"},
           {"export", "--by", "state", "a.png"},
       }) {
    const CliRun run = RunCli(arguments);
    EXPECT_EQ(run.status, 2) << arguments[1];
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(LinesOf(run.err).size(), 1u) << run.err;
  }
}

TEST_F(CliPlacesTest, ABaselTrackListsItsThreeCountriesInEveryForm) {
  if (!Installed()) GTEST_SKIP() << "gmt-dcw is not installed";
  ImportBasel();
  const CliRun text = RunCli({"-C", "store", "places"});
  ASSERT_EQ(text.status, 0) << text.err;
  EXPECT_EQ(text.err, "");
  const std::vector<std::string> lines = LinesOf(text.out);
  ASSERT_GE(lines.size(), 8u) << text.out;
  EXPECT_TRUE(lines[0].starts_with("code")) << lines[0];
  EXPECT_TRUE(lines[1].starts_with("CH ")) << lines[1];
  EXPECT_TRUE(lines[2].starts_with("DE ")) << lines[2];
  EXPECT_TRUE(lines[3].starts_with("FR ")) << lines[3];
  EXPECT_NE(text.out.find("countries visited: 3\nstates visited: 0\ncontinents visited: 1\n"),
            std::string::npos)
      << text.out;
  EXPECT_TRUE(fs::exists(dir() / "cache" / "roamgrid" / "places.idx"));

  // From the cache: the same answers.
  EXPECT_EQ(RunCli({"-C", "store", "places"}).out, text.out);

  // CSV, JSON: the cells of the summary are those stats counts; borders of
  // the outlines overlap a little, so a cell may lie in two countries.
  const CliRun csv = RunCli({"-C", "store", "places", "--format", "csv"});
  ASSERT_EQ(csv.status, 0);
  const std::vector<std::string> rows = LinesOf(csv.out);
  ASSERT_EQ(rows.size(), 4u) << csv.out;
  EXPECT_EQ(rows[0], "code,name,cells,km2,share");
  EXPECT_TRUE(rows[1].starts_with("CH,Switzerland,")) << rows[1];
  long long cells = 0;
  for (size_t k = 1; k < rows.size(); ++k) {
    std::istringstream fields(rows[k]);
    std::string code, name, count;
    std::getline(fields, code, ',');
    std::getline(fields, name, ',');
    std::getline(fields, count, ',');
    cells += std::stoll(count);
  }
  const CliRun json = RunCli({"-C", "store", "places", "--format", "json"});
  rapidjson::Document doc;
  doc.Parse(json.out.c_str());
  ASSERT_FALSE(doc.HasParseError()) << json.out;
  EXPECT_EQ(doc["places"].Size(), 3u);
  EXPECT_EQ(doc["summary"]["countries"].GetInt(), 3);
  const long long visited = doc["summary"]["visited"]["cells"].GetInt64();
  EXPECT_GE(cells + doc["summary"]["atSea"]["cells"].GetInt64(), visited);
  const CliRun stats = RunCli({"-C", "store", "stats"});
  EXPECT_NE(stats.out.find("visited cells: " + std::to_string(visited) + "\n"), std::string::npos)
      << stats.out;

  // Continents; and a box on the Swiss side of the border.
  const CliRun continents =
      RunCli({"-C", "store", "places", "--by", "continent", "--format", "csv"});
  EXPECT_EQ(LinesOf(continents.out).size(), 2u) << continents.out;
  EXPECT_TRUE(LinesOf(continents.out)[1].starts_with("EU,Europe,")) << continents.out;
  const CliRun swiss =
      RunCli({"-C", "store", "places", "--format", "csv", "--bbox", "47.580,7.570,47.5815,7.5745"});
  ASSERT_EQ(LinesOf(swiss.out).size(), 2u) << swiss.out;
  EXPECT_TRUE(LinesOf(swiss.out)[1].starts_with("CH,")) << swiss.out;

  // export --places: the same CSV; GeoJSON with the outlines.
  ASSERT_EQ(RunCli({"-C", "store", "export", "--places", "p.csv"}).status, 0);
  EXPECT_EQ(ReadText("store/p.csv"), csv.out);
  const CliRun again = RunCli({"-C", "store", "export", "--places", "p.csv"});
  EXPECT_EQ(again.status, 1);
  EXPECT_NE(again.err.find("exists; give --overwrite"), std::string::npos);
  const CliRun geojson = RunCli({"-C", "store", "export", "--places", "p.geojson"});
  ASSERT_EQ(geojson.status, 0) << geojson.err;
  EXPECT_EQ(geojson.out, "p.geojson\n");
  doc.Parse(ReadText("store/p.geojson").c_str());
  ASSERT_FALSE(doc.HasParseError());
  ASSERT_EQ(doc["features"].Size(), 3u);
  const auto& swissFeature = doc["features"][0];
  EXPECT_STREQ(swissFeature["properties"]["code"].GetString(), "CH");
  EXPECT_STREQ(swissFeature["geometry"]["type"].GetString(), "MultiPolygon");
  const auto& outer = swissFeature["geometry"]["coordinates"][0][0];
  EXPECT_GT(outer.Size(), 100u);
  EXPECT_EQ(outer[0][0].GetDouble(), outer[outer.Size() - 1][0].GetDouble());  // closed
}

}  // namespace
}  // namespace roamgrid
