#include "geo/sphere_area.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <numbers>

#include "tiles/grid_units.h"

namespace roamgrid {

namespace {
constexpr double kRadiansPerDegree = std::numbers::pi / 180.0;
}  // namespace

double CellAreaKm2(int64_t cellRow) {
  const auto clampToPole = [](double degrees) { return std::clamp(degrees, -90.0, 90.0); };
  const double south = clampToPole(double(cellRow) / double(kCellsPerDegree)) * kRadiansPerDegree;
  const double north =
      clampToPole(double(cellRow + 1) / double(kCellsPerDegree)) * kRadiansPerDegree;
  const double side = kRadiansPerDegree / double(kCellsPerDegree);
  // sin(north) - sin(south), written so that the small difference keeps
  // its precision.
  const double sinDifference = 2.0 * std::cos((north + south) / 2) * std::sin((north - south) / 2);
  return kEarthRadiusKm * kEarthRadiusKm * side * sinDifference;
}

double RingAreaKm2(const double* lon, const double* lat, size_t count) {
  // Green's theorem: the area is -R^2 times the integral of sin(lat) d(lon)
  // round the ring. Along an edge with latitude linear in longitude that
  // integral is d(lon) / d(lat) * (cos(lat1) - cos(lat2)); the divided
  // difference is written with sines of half angles so that short edges
  // keep their precision.
  double sum = 0;
  for (size_t i = 0; i < count; ++i) {
    const size_t j = i + 1 == count ? 0 : i + 1;
    const double dLon = (lon[j] - lon[i]) * kRadiansPerDegree;
    if (dLon == 0) continue;
    const double lat1 = lat[i] * kRadiansPerDegree;
    const double lat2 = lat[j] * kRadiansPerDegree;
    const double half = (lat2 - lat1) / 2;
    // (cos(lat1) - cos(lat2)) / (lat2 - lat1) = sin(mean) * sin(half) / half
    const double sinc = half == 0 ? 1.0 : std::sin(half) / half;
    sum += dLon * std::sin((lat1 + lat2) / 2) * sinc;
  }
  return -kEarthRadiusKm * kEarthRadiusKm * sum;
}

}  // namespace roamgrid
