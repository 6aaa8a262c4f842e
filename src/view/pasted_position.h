// A position pasted whole into the latitude edit: map programs and phones
// copy "52.849945, 5.313161" (or a latitude and longitude separated by a
// tab, as spreadsheets do), and both halves belong in their own edits.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace roamgrid {

struct PastedPosition {
  std::string lat;  // "52.849945"
  std::string lon;  // "5.313161"
  bool operator==(const PastedPosition&) const = default;
};

// Splits `text` (surrounding white space ignored) when it is exactly two
// decimal numbers separated by a comma followed by white space, or by a
// tab (white space around it allowed). Each number may carry a sign and
// one decimal point, or one decimal comma. A single comma with no white
// space after it is a decimal comma and splits nothing ("52,849945").
// Nothing for any other text.
std::optional<PastedPosition> SplitPastedPosition(std::string_view text);

}  // namespace roamgrid
