// The defaults and bounds of the import options, the same for the CLI's
// arguments, the desktop program's settings and the core's ImportOptions.
#pragma once

namespace roamgrid {

// Fixes at most this many metres apart are joined by a line when joining
// is on without a distance (--connect without a value, the Settings form).
inline constexpr int kDefaultConnectMetres = 250;

// Positions whose stated accuracy is worse than this many metres are
// skipped unless the user chooses otherwise (0 there: no limit).
inline constexpr int kDefaultMaxAccuracyM = 50;

// The largest number of metres or km/h an import option takes.
inline constexpr int kMaxOptionValue = 1000000;

}  // namespace roamgrid
