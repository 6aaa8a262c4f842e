// DcwArrays read from a netCDF file through the netCDF reader (geo/netcdf_file.h),
// which loads the library only when the outlines are first needed.
#include <cmath>
#include <limits>

#include "geo/dcw_arrays.h"
#include "geo/netcdf_file.h"

namespace roamgrid {

namespace {

constexpr char kLonSuffix[] = "_lon";
constexpr char kLatSuffix[] = "_lat";
constexpr size_t kSuffixLength = 4;
constexpr size_t kMinCodeLength = 2;
constexpr size_t kMaxCodeLength = 8;
// The file of gmt-dcw is some 25 MB; anything past this is no outlines file.
constexpr uint64_t kMaxDcwFileBytes = uint64_t(256) << 20;

bool IsCode(const std::string& code) {
  if (code.size() < kMinCodeLength || code.size() > kMaxCodeLength) return false;
  for (char c : code) {
    if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) return false;
  }
  return true;
}

class NetcdfArrays final : public DcwArrays {
 public:
  explicit NetcdfArrays(std::unique_ptr<NetcdfFile> file) : file_(std::move(file)) {}

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
    if (!file_->Read(variables_[index].first, 0, length, lon.data()) ||
        !file_->Read(variables_[index].second, 0, length, lat.data())) {
      problem = regions_[index].code + ": " + file_->error();
      lon.clear();
      lat.clear();
      return false;
    }
    return true;
  }

  // Lists the regions; false with `problem` when the file cannot be read.
  bool List(std::string& problem) {
    for (const std::string& name : file_->VariableNames()) {
      if (name.size() <= kSuffixLength ||
          name.compare(name.size() - kSuffixLength, kSuffixLength, kLonSuffix) != 0)
        continue;
      DcwVariable region;
      region.code = name.substr(0, name.size() - kSuffixLength);
      if (!IsCode(region.code)) continue;
      const std::optional<NetcdfVariable> lon = file_->FindVariable(name);
      const std::optional<NetcdfVariable> lat = file_->FindVariable(region.code + kLatSuffix);
      if (!lon || !lat || !Usable(*lon) || !Usable(*lat)) continue;
      const size_t length = lon->shape[0];
      if (lat->shape[0] != length || length == 0 || length > kMaxDcwRegionPoints) continue;
      region.length = length;
      region.lon = Axis(lon->id);
      region.lat = Axis(lat->id);
      if (regions_.size() >= kMaxDcwRegions) {
        problem = "more than " + std::to_string(kMaxDcwRegions) + " regions";
        return false;
      }
      regions_.push_back(std::move(region));
      variables_.emplace_back(*lon, *lat);
    }
    if (regions_.empty() && !file_->error().empty()) {
      problem = file_->error();
      return false;
    }
    return true;
  }

 private:
  // Whether a variable is one-dimensional and unsigned 16-bit.
  static bool Usable(const NetcdfVariable& variable) {
    return variable.type == NetcdfType::kUShort && variable.OneDimensional();
  }

  // One number attribute; NaN when it is missing or not a number.
  double Number(int id, const char* name) const {
    return file_->DoubleAttribute(id, name).value_or(std::numeric_limits<double>::quiet_NaN());
  }

  DcwAxis Axis(int id) const { return {Number(id, "min"), Number(id, "max"), Number(id, "scale")}; }

  std::unique_ptr<NetcdfFile> file_;
  std::vector<DcwVariable> regions_;
  std::vector<std::pair<NetcdfVariable, NetcdfVariable>> variables_;  // lon and lat of each
};

}  // namespace

std::unique_ptr<DcwArrays> OpenDcwNetcdf(const std::string& path, std::string* problem) {
  // The netCDF library (HDF5 below it) trusts what it reads; it sees only
  // files that look whole.
  if (std::string why = CheckNetcdfFileOnDisk(path, kMaxDcwFileBytes); !why.empty()) {
    if (problem) *problem = why;
    return nullptr;
  }
  std::string error;
  std::unique_ptr<NetcdfFile> file = OpenNetcdfFile(path, &error);
  if (!file) {
    if (problem) {
      const std::string plugin = NetcdfPluginProblem();
      *problem = !plugin.empty() ? plugin : error.empty() ? "cannot be opened" : error;
    }
    return nullptr;
  }
  auto arrays = std::make_unique<NetcdfArrays>(std::move(file));
  std::string why;
  if (!arrays->List(why)) {
    if (problem) *problem = why;
    return nullptr;
  }
  return arrays;
}

}  // namespace roamgrid
