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

}  // namespace roamgrid
