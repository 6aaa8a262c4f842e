#include "import/iso_time.h"

#include <cstdint>

namespace roamgrid {

namespace {

// Reads exactly `count` digits at `*at`.
bool Digits(std::string_view text, size_t* at, int count, int* value) {
  if (*at + size_t(count) > text.size()) return false;
  int result = 0;
  for (int i = 0; i < count; ++i) {
    const char c = text[*at + size_t(i)];
    if (c < '0' || c > '9') return false;
    result = result * 10 + (c - '0');
  }
  *at += size_t(count);
  *value = result;
  return true;
}

bool Expect(std::string_view text, size_t* at, char c) {
  if (*at >= text.size() || text[*at] != c) return false;
  ++*at;
  return true;
}

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t year, int month, int day) {
  year -= month <= 2;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t yearOfEra = year - era * 400;
  const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

int DaysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

}  // namespace

std::optional<double> ParseIsoTime(std::string_view text) {
  size_t at = 0;
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  if (!Digits(text, &at, 4, &year) || !Expect(text, &at, '-') || !Digits(text, &at, 2, &month) ||
      !Expect(text, &at, '-') || !Digits(text, &at, 2, &day))
    return std::nullopt;
  if (at >= text.size() || (text[at] != 'T' && text[at] != 't' && text[at] != ' '))
    return std::nullopt;
  ++at;
  if (!Digits(text, &at, 2, &hour) || !Expect(text, &at, ':') || !Digits(text, &at, 2, &minute) ||
      !Expect(text, &at, ':') || !Digits(text, &at, 2, &second))
    return std::nullopt;
  if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) || hour > 23 ||
      minute > 59 || second > 60)
    return std::nullopt;
  double fraction = 0;
  if (at < text.size() && (text[at] == '.' || text[at] == ',')) {
    ++at;
    double scale = 0.1;
    const size_t first = at;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at, scale /= 10)
      fraction += (text[at] - '0') * scale;
    if (at == first) return std::nullopt;
  }
  int offsetMinutes = 0;
  if (at < text.size()) {
    const char zone = text[at++];
    if (zone == 'Z' || zone == 'z') {
      // UTC
    } else if (zone == '+' || zone == '-') {
      int zoneHours = 0, zoneMinutes = 0;
      if (!Digits(text, &at, 2, &zoneHours)) return std::nullopt;
      if (at < text.size()) {
        Expect(text, &at, ':');
        if (!Digits(text, &at, 2, &zoneMinutes)) return std::nullopt;
      }
      if (zoneHours > 23 || zoneMinutes > 59) return std::nullopt;
      offsetMinutes = (zoneHours * 60 + zoneMinutes) * (zone == '-' ? -1 : 1);
    } else {
      return std::nullopt;
    }
  }
  if (at != text.size()) return std::nullopt;
  const int64_t seconds = DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 +
                          second - offsetMinutes * 60;
  return double(seconds) + fraction;
}

}  // namespace roamgrid
