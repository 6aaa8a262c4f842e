// Small text helpers every layer uses alike.
#pragma once

#include <string>
#include <string_view>

namespace roamgrid {

// `text` in single quotes, as messages name paths and arguments: 'a.log'.
inline std::string Quoted(std::string_view text) { return "'" + std::string(text) + "'"; }

// Whether `name` ends in `suffix` and is longer than it (a name that is
// nothing but a suffix names no file of that kind); with `anyCase`, ASCII
// letters of either case match.
inline bool HasSuffix(std::string_view name, std::string_view suffix, bool anyCase = false) {
  if (name.size() <= suffix.size()) return false;
  const std::string_view end = name.substr(name.size() - suffix.size());
  if (!anyCase) return end == suffix;
  const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
  for (size_t i = 0; i < end.size(); ++i)
    if (lower(end[i]) != lower(suffix[i])) return false;
  return true;
}

// `text` with the line breaks inside its paragraphs made blanks, for a
// window that wraps text to its own width: lines broken for a terminal
// would break again there, unevenly. An empty line (two line feeds) still
// ends a paragraph.
inline std::string FlowingText(std::string_view text) {
  std::string flowing(text);
  for (size_t at = 0; at < flowing.size(); ++at) {
    if (flowing[at] != '\n') continue;
    const bool paragraphEnd =
        (at + 1 < flowing.size() && flowing[at + 1] == '\n') || (at > 0 && flowing[at - 1] == '\n');
    if (!paragraphEnd) flowing[at] = ' ';
  }
  return flowing;
}

}  // namespace roamgrid
