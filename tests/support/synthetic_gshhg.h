// Small GSHHG shoreline files made in memory: a few bins of chosen
// segments and corner levels in the layout Debian's binned files have, for
// tests that must not depend on the installed data.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "geo/gshhg_store.h"
#include "support/memory_netcdf.h"

namespace roamgrid::testing {

struct SyntheticSegment {
  int level = 1;
  int entry = kGshhgInside;
  int exit = kGshhgInside;
  std::vector<std::pair<uint16_t, uint16_t>> points;  // x, y in 1/65535 of the bin's side
};

struct SyntheticBin {
  int bin = 0;  // row by row from the north-west corner
  // South-west, south-east, north-east, north-west.
  std::array<int, 4> corners{};
  std::vector<SyntheticSegment> segments;
};

// The four corner levels packed as the files keep them.
inline int PackCorners(const std::array<int, 4>& corners) {
  return corners[0] << 9 | corners[1] << 6 | corners[2] << 3 | corners[3];
}

// A shoreline file of bins of `binMinutes` where every bin not listed is
// empty with all corners at `emptyLevel`.
inline MemoryNetcdfFile SyntheticShoreFile(int binMinutes, std::vector<SyntheticBin> bins,
                                           int emptyLevel = 0) {
  const int across = 21600 / binMinutes;
  const int down = 10800 / binMinutes;
  const size_t binCount = size_t(across) * size_t(down);
  std::vector<int64_t> first(binCount, 0);
  std::vector<int64_t> count(binCount, 0);
  std::vector<int64_t> corners(binCount,
                               PackCorners({emptyLevel, emptyLevel, emptyLevel, emptyLevel}));
  std::vector<int64_t> starts;
  std::vector<int64_t> info;
  std::vector<int64_t> dx;
  std::vector<int64_t> dy;
  std::sort(bins.begin(), bins.end(), [](auto& a, auto& b) { return a.bin < b.bin; });
  size_t next = 0;
  for (size_t bin = 0; bin < binCount; ++bin) {
    first[bin] = int64_t(starts.size());
    if (next < bins.size() && size_t(bins[next].bin) == bin) {
      const SyntheticBin& wanted = bins[next++];
      corners[bin] = PackCorners(wanted.corners);
      count[bin] = int64_t(wanted.segments.size());
      for (const SyntheticSegment& segment : wanted.segments) {
        starts.push_back(int64_t(dx.size()));
        info.push_back(int64_t(segment.points.size()) << 9 | segment.level << 6 |
                       segment.entry << 3 | segment.exit);
        for (const auto& [x, y] : segment.points) {
          dx.push_back(int16_t(x));  // unsigned offsets kept in signed shorts
          dy.push_back(int16_t(y));
        }
      }
    }
  }
  MemoryNetcdfFile file;
  file.Add("Bin_size_in_minutes", NetcdfType::kInt, {binMinutes});
  file.Add("N_bins_in_360_longitude_range", NetcdfType::kInt, {across});
  file.Add("N_bins_in_180_degree_latitude_range", NetcdfType::kInt, {down});
  file.Add("Id_of_first_segment_in_a_bin", NetcdfType::kInt, first);
  file.Add("Embedded_node_levels_in_a_bin", NetcdfType::kShort, corners);
  file.Add("N_segments_in_a_bin", NetcdfType::kShort, count);
  file.Add("Embedded_npts_levels_exit_entry_for_a_segment", NetcdfType::kInt, info);
  file.Add("Id_of_first_point_in_a_segment", NetcdfType::kInt, starts);
  file.Add("Relative_longitude_from_SW_corner_of_bin", NetcdfType::kShort, dx);
  file.Add("Relative_latitude_from_SW_corner_of_bin", NetcdfType::kShort, dy);
  return file;
}

// A closed square shoreline from `low` to `high` on both axes, its first
// point repeated at its end as the files keep closed shorelines.
inline SyntheticSegment Square(int level, uint16_t low, uint16_t high) {
  return {level,
          kGshhgInside,
          kGshhgInside,
          {{low, low}, {high, low}, {high, high}, {low, high}, {low, low}}};
}

// Puts a stand-in for `name` in `folder`: the store looks for the file and
// checks its first bytes (a classic netCDF header) before it asks the
// opener, which serves `file` in its place.
inline void PlaceStandIn(const std::filesystem::path& folder, const std::string& name) {
  std::filesystem::create_directories(folder);
  const int fd = open((folder / name).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const uint8_t header[64] = {'C', 'D', 'F', 1};
  if (fd >= 0) {
    (void)!write(fd, header, sizeof header);
    close(fd);
  }
}

// An opener serving a copy of `file` for every path.
inline NetcdfOpener ServeFile(MemoryNetcdfFile file) {
  return [file = std::move(file)](const std::string&, std::string*) {
    return std::unique_ptr<NetcdfFile>(std::make_unique<MemoryNetcdfFile>(file));
  };
}

}  // namespace roamgrid::testing
