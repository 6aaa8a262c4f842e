// Areas on the sphere the store measures with: the mean earth radius
// (6,371,008.8 m). A cell's area, and the area of a polygon whose edges are
// straight in longitude and latitude (as the country outlines are drawn and
// tested), so that a region's area and the area of its cells agree.
#pragma once

#include <cstddef>
#include <cstdint>

namespace roamgrid {

// Mean earth radius of the sphere the visited area is measured on.
constexpr double kEarthRadiusKm = 6371.0088;

// Area in km^2 of one cell whose south edge lies `cellRow` cells (of
// 1/17920 degree) north of the equator (negative: south), on the sphere of
// kEarthRadiusKm: R^2 * (side in radians) * (sin(north) - sin(south)).
// Latitudes beyond the poles are held at them, so such cells have no area.
double CellAreaKm2(int64_t cellRow);

// The signed area in km^2 enclosed by a ring of `count` points (degrees,
// longitude and latitude each in their own array; the last point joins the
// first) whose edges run straight in longitude and latitude: the integral
// of R^2 cos(lat) over the enclosed part of the plane. Positive when the
// ring runs anticlockwise (east, then north), negative when clockwise.
double RingAreaKm2(const double* lon, const double* lat, size_t count);

}  // namespace roamgrid
