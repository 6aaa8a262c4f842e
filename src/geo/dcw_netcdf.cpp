// The netCDF side of DcwArrays: every call of the netCDF library that the
// country outlines need is in this file.
#include <netcdf.h>

#include <cmath>
#include <limits>

#include "geo/dcw_arrays.h"

namespace roamgrid {

namespace {

constexpr char kLonSuffix[] = "_lon";
constexpr char kLatSuffix[] = "_lat";
constexpr size_t kSuffixLength = 4;
constexpr size_t kMinCodeLength = 2;
constexpr size_t kMaxCodeLength = 8;

bool IsCode(const std::string& code) {
  if (code.size() < kMinCodeLength || code.size() > kMaxCodeLength) return false;
  for (char c : code) {
    if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) return false;
  }
  return true;
}

class NetcdfArrays final : public DcwArrays {
 public:
  explicit NetcdfArrays(int ncid) : ncid_(ncid) {}
  ~NetcdfArrays() override { nc_close(ncid_); }  // read only: nothing to lose
  NetcdfArrays(const NetcdfArrays&) = delete;
  NetcdfArrays& operator=(const NetcdfArrays&) = delete;

  const std::vector<DcwVariable>& Regions() const override { return regions_; }

  bool Read(size_t index, std::vector<uint16_t>& lon, std::vector<uint16_t>& lat,
            std::string& problem) override {
    if (index >= regions_.size()) {
      problem = "no such region";
      return false;
    }
    const size_t length = regions_[index].length;
    lon.assign(length, 0);
    lat.assign(length, 0);
    const size_t start = 0;
    int rc = nc_get_vara_ushort(ncid_, ids_[index].first, &start, &length, lon.data());
    if (rc == NC_NOERR)
      rc = nc_get_vara_ushort(ncid_, ids_[index].second, &start, &length, lat.data());
    if (rc != NC_NOERR) {
      problem = regions_[index].code + ": " + nc_strerror(rc);
      lon.clear();
      lat.clear();
      return false;
    }
    return true;
  }

  // Lists the regions; false with `problem` when the file cannot be read.
  bool List(std::string& problem) {
    int count = 0;
    int rc = nc_inq_nvars(ncid_, &count);
    if (rc != NC_NOERR) {
      problem = nc_strerror(rc);
      return false;
    }
    for (int id = 0; id < count; ++id) {
      char name[NC_MAX_NAME + 1] = {};
      if (nc_inq_varname(ncid_, id, name) != NC_NOERR) continue;
      const std::string text(name);
      if (text.size() <= kSuffixLength ||
          text.compare(text.size() - kSuffixLength, kSuffixLength, kLonSuffix) != 0)
        continue;
      DcwVariable region;
      region.code = text.substr(0, text.size() - kSuffixLength);
      if (!IsCode(region.code)) continue;
      int latId = -1;
      if (nc_inq_varid(ncid_, (region.code + kLatSuffix).c_str(), &latId) != NC_NOERR) continue;
      size_t lonLength = 0;
      size_t latLength = 0;
      if (!Shape(id, lonLength) || !Shape(latId, latLength)) continue;
      if (lonLength != latLength || lonLength == 0 || lonLength > kMaxDcwRegionPoints) continue;
      region.length = lonLength;
      region.lon = Axis(id);
      region.lat = Axis(latId);
      if (regions_.size() >= kMaxDcwRegions) {
        problem = "more than " + std::to_string(kMaxDcwRegions) + " regions";
        return false;
      }
      regions_.push_back(std::move(region));
      ids_.emplace_back(id, latId);
    }
    return true;
  }

 private:
  // Whether variable `id` is one-dimensional and unsigned 16-bit; its length.
  bool Shape(int id, size_t& length) const {
    nc_type type = NC_NAT;
    int dims = 0;
    int dim = -1;
    if (nc_inq_vartype(ncid_, id, &type) != NC_NOERR || type != NC_USHORT) return false;
    if (nc_inq_varndims(ncid_, id, &dims) != NC_NOERR || dims != 1) return false;
    if (nc_inq_vardimid(ncid_, id, &dim) != NC_NOERR) return false;
    return nc_inq_dimlen(ncid_, dim, &length) == NC_NOERR;
  }

  // One number attribute of variable `id`; NaN when it is missing or not
  // a single number.
  double Number(int id, const char* name) const {
    nc_type type = NC_NAT;
    size_t length = 0;
    if (nc_inq_att(ncid_, id, name, &type, &length) != NC_NOERR || length != 1 || type == NC_CHAR ||
        type == NC_STRING)
      return std::numeric_limits<double>::quiet_NaN();
    double value = 0;
    if (nc_get_att_double(ncid_, id, name, &value) != NC_NOERR)
      return std::numeric_limits<double>::quiet_NaN();
    return value;
  }

  DcwAxis Axis(int id) const { return {Number(id, "min"), Number(id, "max"), Number(id, "scale")}; }

  int ncid_;
  std::vector<DcwVariable> regions_;
  std::vector<std::pair<int, int>> ids_;  // lon and lat variable of each region
};

}  // namespace

std::unique_ptr<DcwArrays> OpenDcwNetcdf(const std::string& path, std::string* problem) {
  int ncid = -1;
  const int rc = nc_open(path.c_str(), NC_NOWRITE, &ncid);
  if (rc != NC_NOERR) {
    if (problem) *problem = nc_strerror(rc);
    return nullptr;
  }
  auto arrays = std::make_unique<NetcdfArrays>(ncid);
  std::string why;
  if (!arrays->List(why)) {
    if (problem) *problem = why;
    return nullptr;
  }
  return arrays;
}

}  // namespace roamgrid
