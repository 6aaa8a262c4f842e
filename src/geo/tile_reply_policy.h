// What the map tile layer does with each answer of a tile server: show the
// tile, follow a redirect, mark the tile missing for the run, or pause or
// block the server, and the one status line that says why tiles are
// missing. The Qt layer gathers the facts of a reply and carries out the
// verdict; the rules live here, free of the network.
//
// The rules keep the client polite whatever a server does: no answer is
// retried in a loop, a tile is asked for again only by a later view, a
// redirect chain is at most kMaxTileRedirects long and never changes the
// scheme, and a loop pauses the server like an error does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace roamgrid {

constexpr int kMaxTileRedirects = 3;         // per tile
constexpr int kBusyPauseSeconds = 60;        // 429 without Retry-After
constexpr int kErrorPauseSeconds = 30;       // 5xx without Retry-After
constexpr int kLostPauseSeconds = 60;        // time-out, too slow, no connection
constexpr int kRedirectPauseSeconds = 300;   // a redirect loop or too long a chain
constexpr int kMaxPauseSeconds = 24 * 3600;  // the longest Retry-After obeyed

// How a request ended short of a whole HTTP answer.
enum class TileFetchFailure {
  kNone,         // the answer arrived whole; httpStatus tells which
  kTooLarge,     // the body (or its Content-Length) passed kMaxMapTileBytes
  kTooSlow,      // the request's total time limit passed while data trickled in
  kStalled,      // no data for the transfer time-out
  kUnreachable,  // no connection: name, refused, reset, TLS
};

// What one answer to a tile request was.
struct TileReplyFacts {
  // The URLs asked for this tile so far, the one that answered last; more
  // than one after redirects.
  std::vector<std::string> asked;
  int httpStatus = 0;  // 0 without an HTTP answer
  TileFetchFailure failure = TileFetchFailure::kNone;
  bool image = false;       // the body decoded as a tile image
  std::string retryAfter;   // the Retry-After header as sent (may be empty)
  std::string location;     // a redirect's target, made absolute (may be empty)
  int64_t nowUnixTime = 0;  // seconds since 1970, for a Retry-After date
};

struct TileVerdict {
  enum class Action {
    kShow,       // keep and show the image; the status clears
    kFollow,     // ask `followUrl` for the same tile
    kMissing,    // the tile is not asked for again this run
    kFailed,     // nothing shown; asked again only by a later view
    kPauseHost,  // as kFailed, and no request to the server for pauseSeconds
    kBlockHost,  // no request to the server for the rest of the run
  };
  Action action = Action::kFailed;
  int pauseSeconds = 0;   // kPauseHost: 1 .. kMaxPauseSeconds
  std::string followUrl;  // kFollow
  // kFollow of a permanent redirect (301, 308) to another origin with the
  // same path and query: every tile of the old origin has moved.
  bool originMoved = false;
  std::string status;  // the status line; empty for kShow and kFollow
  bool operator==(const TileVerdict&) const = default;
};

// The verdict on one answer (see the header comment for the rules).
TileVerdict JudgeTileReply(const TileReplyFacts& facts);

// Seconds a Retry-After value asks for: whole seconds, or an HTTP date
// ("Sun, 06 Nov 1994 08:49:37 GMT") against `nowUnixTime`; held within
// 1 .. kMaxPauseSeconds. `fallback` when the value is empty or neither.
int RetryAfterSeconds(const std::string& value, int64_t nowUnixTime, int fallback);

// "scheme://authority" of an absolute http or https URL, scheme and
// authority in lower case; empty for anything else.
std::string UrlOrigin(const std::string& url);

// Tile servers known to have moved for good (a permanent redirect to
// another origin, same path), so that later runs ask the new origin
// straight away instead of the old one first. Kept as text lines
// "old-origin new-origin" in the tile cache folder; at most kMax entries,
// the newest kept.
class MovedOrigins {
 public:
  static constexpr size_t kMax = 32;
  static constexpr size_t kMaxTextBytes = 64 * 1024;

  // Reads the text (lines that are not two http(s) origins of one scheme
  // are skipped; text past kMaxTextBytes is ignored).
  static MovedOrigins Parse(const std::string& text);
  std::string Format() const;

  // Remembers that `from` moved to `to` (origins). Returns whether that
  // changed anything.
  bool Learn(const std::string& from, const std::string& to);
  // `url` with its origin replaced when that origin has moved (once, not
  // along chains).
  std::string Apply(const std::string& url) const;
  size_t size() const { return moves_.size(); }

 private:
  std::vector<std::pair<std::string, std::string>> moves_;  // oldest first
};

}  // namespace roamgrid
