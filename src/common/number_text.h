// Numbers as text, independent of the process locale. A Qt program adopts
// the user's locale, under which printf may print "0,050" and strtod stop
// at the dot; every conversion of the system goes through these functions.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace roamgrid {

// Formats `value` as printf's "%W.Pf" (zeroPad false) or "%0W.Pf" (zeroPad
// true) would in the "C" locale: P decimals, correctly rounded, padded to at
// least W characters with blanks in front or with zeros after the sign.
std::string FormatFixed(double value, int width, int precision, bool zeroPad = false);

// Reads a number from the start of `text` as strtod does in the "C" locale:
// leading white space skipped, the longest prefix that forms a number taken,
// 0.0 when there is none. When `end` is given it receives the first
// character not used (`text` itself when no number was read).
double ParseLeadingDouble(const char* text, const char** end = nullptr);

// Reads a number a person typed: as ParseLeadingDouble, except that a text
// with exactly one comma and no dot takes the comma as its decimal point
// ("35,70" is 35.7), as it is written where the decimal comma is usual.
// Any other text reads exactly as ParseLeadingDouble reads it.
double ParseTypedDecimal(const std::string& text);

// A number a person typed as the whole of `text` (white space around it
// allowed): a sign, digits and at most one decimal point or one decimal
// comma, read as ParseTypedDecimal reads it. Nothing for any other text
// ("", "35.6 N", "1e5", "35.6.7").
std::optional<double> ParseTypedNumber(std::string_view text);

// Reads an integer from the start of `text` as scanf's "%d" does: leading
// white space, an optional sign, then decimal digits; anything after them is
// ignored. Returns nothing when no digit follows or when the number does not
// fit a signed 32-bit integer.
std::optional<int32_t> ParseLeadingInt32(const char* text);

}  // namespace roamgrid
