// The raw content of the country outlines file, dcw-gmt.nc of Debian's
// gmt-dcw package, as it is stored: per region (a country such as "FR" or a
// state such as "USTX") two arrays of unsigned 16-bit numbers, `<CODE>_lon`
// and `<CODE>_lat`, each with `min`, `max` and `scale` attributes. A value v
// stands for min + v / scale degrees; a longitude of 65535 separates the
// polygons of a region. Nothing here interprets the numbers: the region
// catalogue (geo/dcw_regions.h) checks and decodes them.
//
// This is the one seam to the netCDF library: DcwArrays is what the rest of
// the program sees, and OpenDcwNetcdf (geo/dcw_netcdf.cpp) the only code
// that calls the library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace roamgrid {

// The most points one region may have; Alaska, the largest, has about
// 616,000. A longer array is refused rather than allocated.
constexpr size_t kMaxDcwRegionPoints = size_t(4) << 20;
// The most regions one file may list (the file holds about 520).
constexpr size_t kMaxDcwRegions = 4096;

// The attributes of one coordinate array. An attribute that is missing or
// not one number is NaN.
struct DcwAxis {
  double min = 0;
  double max = 0;
  double scale = 0;
};

// One region as the file lists it.
struct DcwVariable {
  std::string code;   // the name before "_lon": "FR", "USTX", "ARA"
  size_t length = 0;  // points in each of the two arrays
  DcwAxis lon;
  DcwAxis lat;
};

class DcwArrays {
 public:
  virtual ~DcwArrays() = default;
  // The regions of the file, in the file's order.
  virtual const std::vector<DcwVariable>& Regions() const = 0;
  // Reads the two arrays of region `index` (each `length` values). False
  // with a reason in `problem` when they cannot be read.
  virtual bool Read(size_t index, std::vector<uint16_t>& lon, std::vector<uint16_t>& lat,
                    std::string& problem) = 0;
};

// Opens the netCDF file at `path` and lists its regions: every pair of
// one-dimensional unsigned 16-bit variables "<CODE>_lon" and "<CODE>_lat"
// of the same length (1 to kMaxDcwRegionPoints) with a CODE of 2 to 8
// letters and digits. Other variables are passed over. Null with a reason
// in `problem` when the file cannot be opened or read, or lists more than
// kMaxDcwRegions regions.
std::unique_ptr<DcwArrays> OpenDcwNetcdf(const std::string& path, std::string* problem);

}  // namespace roamgrid
