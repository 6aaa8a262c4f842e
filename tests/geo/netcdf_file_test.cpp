// Reading netCDF through the plugin: variables, dimensions and attributes
// of an installed GSHHG file, reads bounded by the variable before they
// reach the library, the check of a file's first bytes and size before the
// library sees it, and files that are not netCDF refused with a reason.
#include "geo/netcdf_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <vector>

#include "geo/gshhg_store.h"
#include "support/temp_dir.h"

namespace roamgrid {
namespace {

const std::string kCrudeShores = std::string(kGshhgFolder) + "/binned_GSHHS_c.nc";

TEST(NetcdfFileTest, ThePluginLiesBesideTheProgram) {
  const std::vector<std::string> candidates = NetcdfPluginCandidates();
  ASSERT_FALSE(candidates.empty());
  for (const std::string& path : candidates) {
    EXPECT_TRUE(path.starts_with("/")) << path;  // never looked up in the working directory
    EXPECT_TRUE(path.ends_with("/libroamgrid-netcdf.so")) << path;
  }
  // The build tree holds it where the programs look first.
  EXPECT_TRUE(std::filesystem::is_regular_file(candidates.front())) << candidates.front();
}

TEST(NetcdfFileTest, ReadsTheVariablesOfAnInstalledFile) {
  if (!std::filesystem::exists(kCrudeShores)) GTEST_SKIP() << "gmt-gshhg-low is not installed";
  std::string error;
  std::unique_ptr<NetcdfFile> file = OpenNetcdfFile(kCrudeShores, &error);
  ASSERT_TRUE(file) << error;
  EXPECT_TRUE(NetcdfPluginLoaded());

  const std::vector<std::string> names = file->VariableNames();
  EXPECT_NE(std::find(names.begin(), names.end(), "N_segments_in_a_bin"), names.end());
  EXPECT_EQ(file->DimensionLength("Dimension_of_bin_arrays"), size_t(162));
  EXPECT_FALSE(file->DimensionLength("Dimension_of_nothing"));
  EXPECT_EQ(file->TextAttribute(kNetcdfGlobal, "version", 64), "2.3.7");
  EXPECT_FALSE(file->TextAttribute(kNetcdfGlobal, "title", 8));   // longer than allowed
  EXPECT_FALSE(file->DoubleAttribute(kNetcdfGlobal, "version"));  // text, not a number

  const std::optional<NetcdfVariable> size = file->FindVariable("Bin_size_in_minutes");
  ASSERT_TRUE(size);
  EXPECT_EQ(size->type, NetcdfType::kInt);
  EXPECT_EQ(size->shape, std::vector<size_t>{1});
  int32_t minutes = 0;
  ASSERT_TRUE(file->Read(*size, 0, 1, &minutes)) << file->error();
  EXPECT_EQ(minutes, 1200);
  double asDouble = 0;
  ASSERT_TRUE(file->Read(*size, 0, 1, &asDouble));
  EXPECT_EQ(asDouble, 1200.0);

  // The points: unsigned offsets in signed shorts, read either way.
  const std::optional<NetcdfVariable> dx =
      file->FindVariable("Relative_longitude_from_SW_corner_of_bin");
  ASSERT_TRUE(dx);
  ASSERT_EQ(dx->shape, std::vector<size_t>{14138});
  std::vector<int16_t> signedValues(14138);
  ASSERT_TRUE(file->Read(*dx, 0, 14138, signedValues.data()));
  std::vector<uint16_t> range(10);
  ASSERT_TRUE(file->Read(*dx, 100, 10, range.data()) ||
              file->error().find("not representable") != std::string::npos)
      << file->error();
  EXPECT_FALSE(file->FindVariable("No_such_variable"));
  EXPECT_NE(file->error().find("No_such_variable"), std::string::npos) << file->error();
}

TEST(NetcdfFileTest, ReadsStopAtTheEndOfTheVariable) {
  if (!std::filesystem::exists(kCrudeShores)) GTEST_SKIP() << "gmt-gshhg-low is not installed";
  std::string error;
  std::unique_ptr<NetcdfFile> file = OpenNetcdfFile(kCrudeShores, &error);
  ASSERT_TRUE(file) << error;
  const std::optional<NetcdfVariable> count = file->FindVariable("N_segments_in_a_bin");
  ASSERT_TRUE(count);
  // A guard value after the buffer stays as it was whatever is asked.
  std::vector<int16_t> values(163, int16_t(-7));
  const struct {
    size_t start;
    size_t count;
  } outside[] = {{0, 163}, {162, 1}, {1, 162}, {size_t(-1), 2}, {5, size_t(-1)}};
  for (const auto& range : outside) {
    EXPECT_FALSE(file->Read(*count, range.start, range.count, values.data()))
        << range.start << "+" << range.count;
    EXPECT_NE(file->error().find("of a variable of 162"), std::string::npos) << file->error();
  }
  EXPECT_EQ(values[162], -7);
  EXPECT_TRUE(file->Read(*count, 0, 162, values.data()));
  EXPECT_EQ(values[162], -7);
  EXPECT_TRUE(file->Read(*count, 162, 0, values.data()));  // nothing, at the end
  // A two-dimensional shape is refused, never handed to the library.
  NetcdfVariable flat = *count;
  flat.shape = {18, 9};
  EXPECT_FALSE(file->Read(flat, 0, 1, values.data()));
}

// The first bytes of an HDF5 file with a version 0 superblock of 8-byte
// addresses whose end-of-file address is `end`.
std::vector<uint8_t> Hdf5Head(uint64_t end, uint8_t version = 0, uint8_t offsetBytes = 8) {
  std::vector<uint8_t> head = {0x89,    'H', 'D', 'F', '\r', '\n',        0x1a, '\n',
                               version, 0,   0,   0,   0,    offsetBytes, 8,    0,
                               4,       0,   16,  0,   0,    0,           0,    0};
  const auto address = [&](uint64_t value) {
    for (int at = 0; at < 8; ++at) head.push_back(uint8_t(value >> (8 * at)));
  };
  address(0);             // base
  address(~uint64_t(0));  // no free-space information
  address(end);
  address(~uint64_t(0));  // no driver information
  address(0);             // root group: its name
  address(0x60);          //             its object header
  return head;
}

TEST(NetcdfFileTest, OnlyWholeNetcdfFilesPassTheHeadCheck) {
  const std::vector<uint8_t> classic = {'C', 'D', 'F', 2, 0, 0, 0, 0};
  std::vector<uint8_t> version2 = {0x89, 'H', 'D', 'F', '\r', '\n', 0x1a, '\n', 2, 8, 8, 0};
  for (uint64_t address : {uint64_t(0), ~uint64_t(0), uint64_t(5000), uint64_t(0x30)}) {
    for (int at = 0; at < 8; ++at) version2.push_back(uint8_t(address >> (8 * at)));
  }
  const std::vector<uint8_t> whole = Hdf5Head(136598);
  const std::vector<uint8_t> cut(whole.begin(), whole.begin() + 30);
  struct Case {
    const char* name;
    std::vector<uint8_t> head;
    uint64_t fileBytes;
    const char* problem;  // empty: passes
  };
  const Case cases[] = {
      {"whole", Hdf5Head(136598), 136598, ""},
      {"bytes after the end", Hdf5Head(136598), 140000, ""},
      {"classic", classic, 4096, ""},
      {"version 2", version2, 5000, ""},
      {"truncated", Hdf5Head(136598), 68299,
       "cut short: 68299 bytes where its header counts 136598"},
      {"version 2 truncated", version2, 4999, "cut short"},
      {"no end", Hdf5Head(~uint64_t(0)), 136598, "without a valid end"},
      {"unknown version", Hdf5Head(136598, 7), 136598, "unknown version 7"},
      {"odd addresses", Hdf5Head(136598, 0, 3), 136598, "unknown form"},
      {"head cut short", cut, 136598, "cut short"},
      {"zip", {'P', 'K', 3, 4, 20, 0, 0, 0, 8, 0}, 136598, "not a netCDF file"},
      {"classic of no version", {'C', 'D', 'F', 3}, 4096, "not a netCDF file"},
      {"tiny", classic, 12, "only 12 bytes long"},
      {"huge", Hdf5Head(uint64_t(3) << 30), uint64_t(3) << 30,
       "more than a sound file of its kind"},
  };
  for (const Case& c : cases) {
    const std::string problem =
        CheckNetcdfHead(c.head.data(), c.head.size(), c.fileBytes, uint64_t(1) << 30);
    if (std::string(c.problem).empty()) {
      EXPECT_EQ(problem, "") << c.name;
    } else {
      EXPECT_NE(problem.find(c.problem), std::string::npos) << c.name << ": " << problem;
    }
  }
}

class NetcdfFolderTest : public testing::TempDirTest {};

TEST_F(NetcdfFolderTest, FilesOfOtherBytesAreRefusedWithAReason) {
  std::ofstream(dir() / "text.nc") << "not netCDF at all";
  for (const std::string& path :
       {(dir() / "text.nc").string(), (dir() / "missing.nc").string(), dir().string()}) {
    std::string error;
    EXPECT_FALSE(OpenNetcdfFile(path, &error)) << path;
    EXPECT_FALSE(error.empty()) << path;
  }
}

}  // namespace
}  // namespace roamgrid
