// Country outlines made up for tests: regions given as rings in degrees,
// stored as the outlines file stores them (16-bit steps from a minimum, a
// longitude of 65535 before each ring), read through the DcwArrays seam.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "geo/dcw_arrays.h"
#include "geo/dcw_regions.h"

namespace roamgrid::testing {

using Ring = std::vector<std::pair<double, double>>;  // (lon, lat) in degrees

class FakeDcwArrays : public DcwArrays {
 public:
  // Adds region `code` with `rings`; each is written closed (its first
  // point repeated), as the file has them.
  void Add(const std::string& code, const std::vector<Ring>& rings) {
    DcwVariable variable;
    variable.code = code;
    double west = 1e9, east = -1e9, south = 1e9, north = -1e9;
    for (const Ring& ring : rings) {
      for (const auto& [lon, lat] : ring) {
        west = std::min(west, lon);
        east = std::max(east, lon);
        south = std::min(south, lat);
        north = std::max(north, lat);
      }
    }
    variable.lon = {west, east, 65534.0 / std::max(east - west, 1e-9)};
    variable.lat = {south, north, 65534.0 / std::max(north - south, 1e-9)};
    std::vector<uint16_t> lons, lats;
    const auto step = [](double value, const DcwAxis& axis) {
      return uint16_t(std::lround((value - axis.min) * axis.scale));
    };
    for (const Ring& ring : rings) {
      lons.push_back(65535);
      lats.push_back(0);
      for (size_t k = 0; k <= ring.size(); ++k) {
        const auto& [lon, lat] = ring[k % ring.size()];
        lons.push_back(step(lon, variable.lon));
        lats.push_back(step(lat, variable.lat));
      }
    }
    variable.length = lons.size();
    AddRaw(variable, std::move(lons), std::move(lats));
  }
  void AddRaw(const DcwVariable& variable, std::vector<uint16_t> lons, std::vector<uint16_t> lats) {
    regions_.push_back(variable);
    lons_.push_back(std::move(lons));
    lats_.push_back(std::move(lats));
  }

  const std::vector<DcwVariable>& Regions() const override { return regions_; }
  bool Read(size_t index, std::vector<uint16_t>& lon, std::vector<uint16_t>& lat,
            std::string& problem) override {
    ++*reads;
    if (index >= regions_.size()) {
      problem = "no such region";
      return false;
    }
    lon = lons_[index];
    lat = lats_[index];
    return true;
  }

  // Counts the reads, also after the arrays were handed to a catalogue.
  std::shared_ptr<int> reads = std::make_shared<int>(0);

 private:
  std::vector<DcwVariable> regions_;
  std::vector<std::vector<uint16_t>> lons_, lats_;
};

// A rectangle as a ring, anticlockwise.
inline Ring Box(double west, double south, double east, double north) {
  return {{west, south}, {east, south}, {east, north}, {west, north}};
}

// Names for made-up countries: every code in `europe` lies in Europe,
// every code in `asia` in Asia.
inline DcwNames MadeUpNames(const std::vector<std::string>& europe,
                            const std::vector<std::string>& asia = {}) {
  DcwNames names;
  for (const std::string& code : europe) names.countries[code] = {"EU", "Land " + code};
  for (const std::string& code : asia) names.countries[code] = {"AS", "Land " + code};
  return names;
}

}  // namespace roamgrid::testing
