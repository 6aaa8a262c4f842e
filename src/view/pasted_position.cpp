#include "view/pasted_position.h"

#include "common/number_text.h"

namespace roamgrid {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

}  // namespace

std::optional<PastedPosition> SplitPastedPosition(std::string_view text) {
  text = Trimmed(text);
  // The separator: a tab, or a comma with white space after it. Exactly one.
  // The blanks after it belong to it (", \t" is one separator).
  size_t cut = std::string_view::npos;
  size_t rest = 0;
  for (size_t at = 0; at < text.size(); ++at) {
    const bool tab = text[at] == '\t';
    const bool spacedComma = text[at] == ',' && at + 1 < text.size() && IsBlank(text[at + 1]);
    if (!tab && !spacedComma) continue;
    if (cut != std::string_view::npos) return std::nullopt;
    cut = at;
    while (at + 1 < text.size() && IsBlank(text[at + 1])) ++at;
    rest = at + 1;
  }
  if (cut == std::string_view::npos) return std::nullopt;
  const std::string_view lat = Trimmed(text.substr(0, cut));
  const std::string_view lon = Trimmed(text.substr(rest));
  if (!ParseTypedNumber(lat) || !ParseTypedNumber(lon)) return std::nullopt;
  return PastedPosition{std::string(lat), std::string(lon)};
}

}  // namespace roamgrid
