// Times as location histories, KML and TCX write them: ISO 8601 / RFC 3339
// date-times ("2024-05-01T08:15:30.250Z", "2024-05-01T17:15:30+09:00"),
// turned into seconds since 1970-01-01 00:00 UTC, so that positions of one
// track can be compared by time whatever their zone.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

namespace roamgrid {

// Seconds since 1970-01-01T00:00:00Z of `text`: a date "YYYY-MM-DD", "T"
// (or "t" or one blank), "hh:mm:ss" with an optional fraction, then "Z",
// "+hh:mm", "-hh:mm", "+hhmm" or nothing (read as UTC). Nothing for any
// other text or a field out of range (month 13, minute 60...).
std::optional<double> ParseIsoTime(std::string_view text);

}  // namespace roamgrid
