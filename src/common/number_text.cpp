#include "common/number_text.h"

#include <locale.h>
#include <stdlib.h>

#include <charconv>
#include <cstdint>
#include <cstring>

namespace roamgrid {

namespace {

// The "C" locale object, made once; strtod_l reads numbers under it
// whatever setlocale says.
locale_t CLocale() {
  static const locale_t locale = newlocale(LC_ALL_MASK, "C", locale_t(0));
  return locale;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Exact powers of ten: every one up to 1e22 is a double without rounding.
constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                             1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// Plain decimals such as "4807.038" are by far the most common field in a
// log. With at most 15 significant digits both the digit string and the
// power of ten are exact doubles, and one correctly rounded division gives
// the very double strtod returns. Anything else is left to strtod_l.
bool ParsePlainDecimal(const char* text, double* value, const char** end) {
  const char* p = text;
  uint64_t mantissa = 0;
  int digits = 0;
  while (IsDigit(*p)) {
    mantissa = mantissa * 10 + uint64_t(*p - '0');
    ++digits;
    ++p;
    if (digits > 15) return false;
  }
  int fraction = 0;
  if (*p == '.') {
    ++p;
    while (IsDigit(*p)) {
      mantissa = mantissa * 10 + uint64_t(*p - '0');
      ++digits;
      ++fraction;
      ++p;
      if (digits > 15) return false;
    }
  }
  if (digits == 0) return false;
  // An exponent or a hexadecimal prefix would continue the number.
  if (*p == 'e' || *p == 'E' || *p == 'x' || *p == 'X') return false;
  *value = double(mantissa) / kPow10[fraction];
  *end = p;
  return true;
}

}  // namespace

std::string FormatFixed(double value, int width, int precision, bool zeroPad) {
  char buffer[400];
  const auto result =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, precision);
  std::string text(buffer, result.ec == std::errc() ? result.ptr : buffer);
  if (int(text.size()) < width) {
    const size_t fill = size_t(width) - text.size();
    if (zeroPad && !text.empty() && (IsDigit(text.back()))) {
      const size_t at = (text[0] == '-') ? 1 : 0;
      text.insert(at, fill, '0');
    } else {
      text.insert(0, fill, ' ');
    }
  }
  return text;
}

double ParseLeadingDouble(const char* text, const char** end) {
  double value = 0.0;
  const char* stop = text;
  if (!ParsePlainDecimal(text, &value, &stop)) {
    char* tail = nullptr;
    value = strtod_l(text, &tail, CLocale());
    stop = tail;
  }
  if (end) *end = stop;
  return value;
}

double ParseTypedDecimal(const std::string& text) {
  const size_t comma = text.find(',');
  if (comma == std::string::npos || text.find(',', comma + 1) != std::string::npos ||
      text.find('.') != std::string::npos) {
    return ParseLeadingDouble(text.c_str());
  }
  std::string dotted = text;
  dotted[comma] = '.';
  return ParseLeadingDouble(dotted.c_str());
}

std::optional<double> ParseTypedNumber(std::string_view text) {
  while (!text.empty() && IsSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsSpace(text.back())) text.remove_suffix(1);
  std::string_view digits = text;
  if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) digits.remove_prefix(1);
  bool digit = false;
  bool separator = false;
  for (char c : digits) {
    if (IsDigit(c)) {
      digit = true;
    } else if ((c == '.' || c == ',') && !separator) {
      separator = true;
    } else {
      return std::nullopt;
    }
  }
  if (!digit) return std::nullopt;
  return ParseTypedDecimal(std::string(text));
}

std::optional<int32_t> ParseLeadingInt32(const char* text) {
  const char* p = text;
  while (IsSpace(*p)) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') {
    negative = (*p == '-');
    ++p;
  }
  if (!IsDigit(*p)) return std::nullopt;
  int64_t magnitude = 0;
  while (IsDigit(*p)) {
    magnitude = magnitude * 10 + (*p - '0');
    if (magnitude > int64_t(INT32_MAX) + 1) return std::nullopt;
    ++p;
  }
  const int64_t value = negative ? -magnitude : magnitude;
  if (value > INT32_MAX || value < INT32_MIN) return std::nullopt;
  return int32_t(value);
}

}  // namespace roamgrid
