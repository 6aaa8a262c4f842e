#include "geo/tile_reply_policy.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <chrono>
#include <string_view>

namespace roamgrid {
namespace {

using Action = TileVerdict::Action;

TileVerdict Verdict(Action action, std::string status, int pauseSeconds = 0) {
  TileVerdict verdict;
  verdict.action = action;
  verdict.status = std::move(status);
  verdict.pauseSeconds = pauseSeconds;
  return verdict;
}

std::string WithStatus(const char* text, int status) {
  return std::string(text) + " (" + std::to_string(status) + ")";
}

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

bool ReadNumber(std::string_view text, size_t at, size_t digits, int& value) {
  if (at + digits > text.size()) return false;
  const char* begin = text.data() + at;
  const auto [end, error] = std::from_chars(begin, begin + digits, value);
  return error == std::errc() && end == begin + digits;
}

// Seconds since 1970 of an IMF-fixdate, "Sun, 06 Nov 1994 08:49:37 GMT".
bool ParseHttpDate(std::string_view text, int64_t& unixTime) {
  static constexpr std::array<std::string_view, 12> kMonths = {
      "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  if (text.size() != 29 || text.substr(3, 2) != ", " || text.substr(25) != " GMT") return false;
  int day = 0, year = 0, hour = 0, minute = 0, second = 0;
  const auto month = std::find(kMonths.begin(), kMonths.end(), text.substr(8, 3));
  if (month == kMonths.end() || !ReadNumber(text, 5, 2, day) || !ReadNumber(text, 12, 4, year) ||
      !ReadNumber(text, 17, 2, hour) || !ReadNumber(text, 20, 2, minute) ||
      !ReadNumber(text, 23, 2, second) || text[7] != ' ' || text[11] != ' ' || text[16] != ' ' ||
      text[19] != ':' || text[22] != ':' || day < 1 || day > 31 || hour > 23 || minute > 59 ||
      second > 60) {
    return false;
  }
  const std::chrono::year_month_day date{std::chrono::year(year),
                                         std::chrono::month(unsigned(month - kMonths.begin()) + 1),
                                         std::chrono::day(unsigned(day))};
  if (!date.ok()) return false;
  const int64_t days = std::chrono::sys_days(date).time_since_epoch().count();
  unixTime = days * 86400 + hour * 3600 + minute * 60 + second;
  return true;
}

std::string_view Trimmed(std::string_view text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

TileVerdict JudgeRedirect(const TileReplyFacts& facts) {
  const std::string& from = facts.asked.back();
  const std::string fromOrigin = UrlOrigin(from), toOrigin = UrlOrigin(facts.location);
  if (toOrigin.empty()) {
    return Verdict(Action::kFailed, WithStatus("tiles: redirect refused", facts.httpStatus));
  }
  if (fromOrigin.substr(0, fromOrigin.find(':')) != toOrigin.substr(0, toOrigin.find(':'))) {
    // http to https or back: the source should name the scheme its server
    // wants; following would change what the user chose.
    return Verdict(Action::kBlockHost,
                   WithStatus("tiles: redirect to another scheme refused", facts.httpStatus));
  }
  if (std::find(facts.asked.begin(), facts.asked.end(), facts.location) != facts.asked.end()) {
    return Verdict(Action::kPauseHost, "tiles: redirect loop, pausing", kRedirectPauseSeconds);
  }
  if (facts.asked.size() > size_t{kMaxTileRedirects}) {
    return Verdict(Action::kPauseHost, "tiles: too many redirects, pausing", kRedirectPauseSeconds);
  }
  TileVerdict verdict = Verdict(Action::kFollow, "");
  verdict.followUrl = facts.location;
  verdict.originMoved = (facts.httpStatus == 301 || facts.httpStatus == 308) &&
                        fromOrigin != toOrigin &&
                        from.substr(fromOrigin.size()) == facts.location.substr(toOrigin.size());
  return verdict;
}

}  // namespace

TileVerdict JudgeTileReply(const TileReplyFacts& facts) {
  const int status = facts.httpStatus;
  switch (facts.failure) {
    case TileFetchFailure::kNone:
      break;
    case TileFetchFailure::kTooLarge:
      // No map server sends such tiles: a broken or hostile one is paused.
      return Verdict(Action::kPauseHost, "tiles: a tile larger than 4 MiB was refused",
                     kLostPauseSeconds);
    case TileFetchFailure::kTooSlow:
      return Verdict(Action::kPauseHost, "tiles: server too slow, request stopped",
                     kLostPauseSeconds);
    case TileFetchFailure::kStalled:
      return Verdict(Action::kPauseHost, "tiles: no answer from server (time-out)",
                     kLostPauseSeconds);
    case TileFetchFailure::kUnreachable:
      return Verdict(Action::kPauseHost, "tiles: cannot reach server", kLostPauseSeconds);
  }
  if (status >= 200 && status < 300) {
    return facts.image ? Verdict(Action::kShow, "")
                       : Verdict(Action::kFailed, "tiles: the server sent no image");
  }
  if (status >= 300 && status < 400 && !facts.location.empty() && !facts.asked.empty()) {
    return JudgeRedirect(facts);
  }
  if (status == 401 || status == 403) {
    return Verdict(Action::kBlockHost, WithStatus("tiles: access blocked by server", status));
  }
  if (status == 404 || status == 410) {
    return Verdict(Action::kMissing, WithStatus("tiles: tile not found", status));
  }
  const int64_t now = facts.nowUnixTime;
  if (status == 429) {
    return Verdict(Action::kPauseHost, "tiles: too many requests, pausing (429)",
                   RetryAfterSeconds(facts.retryAfter, now, kBusyPauseSeconds));
  }
  if (status >= 500 && status < 600) {
    return Verdict(Action::kPauseHost, WithStatus("tiles: server error", status),
                   RetryAfterSeconds(facts.retryAfter, now, kErrorPauseSeconds));
  }
  if (status != 0) return Verdict(Action::kFailed, WithStatus("tiles: request refused", status));
  return Verdict(Action::kPauseHost, "tiles: cannot reach server", kLostPauseSeconds);
}

int RetryAfterSeconds(const std::string& value, int64_t nowUnixTime, int fallback) {
  const std::string_view text = Trimmed(value);
  if (text.empty()) return fallback;
  int64_t seconds = 0;
  if (std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    // Digits only; a number too long for 64 bits is as long as any.
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seconds);
    if (error != std::errc() || end != text.data() + text.size()) seconds = kMaxPauseSeconds;
  } else if (int64_t when = 0; ParseHttpDate(text, when)) {
    seconds = when - nowUnixTime;
  } else {
    return fallback;
  }
  return static_cast<int>(std::clamp<int64_t>(seconds, 1, kMaxPauseSeconds));
}

std::string UrlOrigin(const std::string& url) {
  const size_t colon = url.find("://");
  if (colon == std::string::npos) return {};
  const std::string scheme = Lower(std::string_view(url).substr(0, colon));
  if (scheme != "http" && scheme != "https") return {};
  const size_t start = colon + 3;
  const size_t end = std::min(url.find_first_of("/?#", start), url.size());
  if (end == start) return {};
  return scheme + "://" + Lower(std::string_view(url).substr(start, end - start));
}

MovedOrigins MovedOrigins::Parse(const std::string& text) {
  MovedOrigins moved;
  std::string_view rest = std::string_view(text).substr(0, kMaxTextBytes);
  while (!rest.empty()) {
    const size_t end = std::min(rest.find('\n'), rest.size());
    const std::string_view line = Trimmed(rest.substr(0, end));
    rest.remove_prefix(std::min(end + 1, rest.size()));
    const size_t space = line.find(' ');
    if (space == std::string_view::npos) continue;
    const std::string from(line.substr(0, space)), to(Trimmed(line.substr(space + 1)));
    // Only what Learn itself would have written.
    if (UrlOrigin(from) != from || UrlOrigin(to) != to) continue;
    moved.Learn(from, to);
  }
  return moved;
}

std::string MovedOrigins::Format() const {
  std::string text;
  for (const auto& [from, to] : moves_) text += from + ' ' + to + '\n';
  return text;
}

bool MovedOrigins::Learn(const std::string& from, const std::string& to) {
  if (from.empty() || to.empty() || from == to ||
      from.substr(0, from.find(':')) != to.substr(0, to.find(':'))) {
    return false;
  }
  const auto known = std::find_if(moves_.begin(), moves_.end(),
                                  [&](const auto& move) { return move.first == from; });
  if (known != moves_.end() && known->second == to) return false;
  if (known != moves_.end()) moves_.erase(known);
  // A move straight back would make the two origins send each tile round.
  std::erase_if(moves_, [&](const auto& move) { return move.first == to; });
  moves_.emplace_back(from, to);
  if (moves_.size() > kMax) moves_.erase(moves_.begin());
  return true;
}

std::string MovedOrigins::Apply(const std::string& url) const {
  const std::string origin = UrlOrigin(url);
  if (origin.empty()) return url;
  for (const auto& [from, to] : moves_) {
    if (from == origin) return to + url.substr(origin.size());
  }
  return url;
}

}  // namespace roamgrid
