#include "geo/tile_reply_policy.h"

#include <gtest/gtest.h>

namespace roamgrid {
namespace {

using Action = TileVerdict::Action;
using Failure = TileFetchFailure;

constexpr int64_t kNow = 784111777;  // Sun, 06 Nov 1994 08:49:37 GMT
const std::string kTile = "https://a.example/7/70/40.png";

TEST(TileReplyPolicyTest, EachAnswerGetsOneVerdict) {
  struct Case {
    const char* name;
    int status;
    Failure failure;
    bool image;
    const char* retryAfter;
    Action action;
    int pauseSeconds;
    const char* statusLine;
  } cases[] = {
      {"tile", 200, Failure::kNone, true, "", Action::kShow, 0, ""},
      {"not an image", 200, Failure::kNone, false, "", Action::kFailed, 0,
       "tiles: the server sent no image"},
      {"401", 401, Failure::kNone, false, "", Action::kBlockHost, 0,
       "tiles: access blocked by server (401)"},
      {"403", 403, Failure::kNone, false, "", Action::kBlockHost, 0,
       "tiles: access blocked by server (403)"},
      {"404", 404, Failure::kNone, false, "", Action::kMissing, 0, "tiles: tile not found (404)"},
      {"410", 410, Failure::kNone, false, "", Action::kMissing, 0, "tiles: tile not found (410)"},
      {"429 bare", 429, Failure::kNone, false, "", Action::kPauseHost, 60,
       "tiles: too many requests, pausing (429)"},
      {"429 seconds", 429, Failure::kNone, false, " 120 ", Action::kPauseHost, 120,
       "tiles: too many requests, pausing (429)"},
      {"429 date", 429, Failure::kNone, false, "Sun, 06 Nov 1994 08:59:37 GMT", Action::kPauseHost,
       600, "tiles: too many requests, pausing (429)"},
      {"429 a week", 429, Failure::kNone, false, "604800", Action::kPauseHost, 86400,
       "tiles: too many requests, pausing (429)"},
      {"429 nonsense", 429, Failure::kNone, false, "soon", Action::kPauseHost, 60,
       "tiles: too many requests, pausing (429)"},
      {"500", 500, Failure::kNone, false, "", Action::kPauseHost, 30, "tiles: server error (500)"},
      {"503 later", 503, Failure::kNone, false, "45", Action::kPauseHost, 45,
       "tiles: server error (503)"},
      {"400", 400, Failure::kNone, false, "", Action::kFailed, 0, "tiles: request refused (400)"},
      {"304 alone", 304, Failure::kNone, false, "", Action::kFailed, 0,
       "tiles: request refused (304)"},
      {"too large", 200, Failure::kTooLarge, false, "", Action::kPauseHost, 60,
       "tiles: a tile larger than 4 MiB was refused"},
      {"too slow", 200, Failure::kTooSlow, false, "", Action::kPauseHost, 60,
       "tiles: server too slow, request stopped"},
      {"stalled", 0, Failure::kStalled, false, "", Action::kPauseHost, 60,
       "tiles: no answer from server (time-out)"},
      {"unreachable", 0, Failure::kUnreachable, false, "", Action::kPauseHost, 60,
       "tiles: cannot reach server"},
  };
  for (const Case& c : cases) {
    TileReplyFacts facts;
    facts.asked = {kTile};
    facts.httpStatus = c.status;
    facts.failure = c.failure;
    facts.image = c.image;
    facts.retryAfter = c.retryAfter;
    facts.nowUnixTime = kNow;
    const TileVerdict verdict = JudgeTileReply(facts);
    EXPECT_EQ(verdict.action, c.action) << c.name;
    EXPECT_EQ(verdict.pauseSeconds, c.pauseSeconds) << c.name;
    EXPECT_EQ(verdict.status, c.statusLine) << c.name;
  }
}

TEST(TileReplyPolicyTest, RedirectsAreFollowedThreeTimesWithinTheirScheme) {
  struct Case {
    const char* name;
    int status;
    std::vector<std::string> asked;
    const char* location;
    Action action;
    bool originMoved;
    const char* statusLine;
  } cases[] = {
      {"temporary", 302, {kTile}, "https://b.example/7/70/40.png", Action::kFollow, false, ""},
      {"moved for good", 301, {kTile}, "https://b.example/7/70/40.png", Action::kFollow, true, ""},
      {"308, new port",
       308,
       {kTile},
       "https://a.example:8443/7/70/40.png",
       Action::kFollow,
       true,
       ""},
      {"moved, other path",
       301,
       {kTile},
       "https://b.example/v2/7/70/40.png",
       Action::kFollow,
       false,
       ""},
      {"moved, same origin",
       301,
       {kTile},
       "https://a.example/v2/7/70/40.png",
       Action::kFollow,
       false,
       ""},
      {"third",
       307,
       {kTile, "https://b.example/1", "https://c.example/2"},
       "https://d.example/3",
       Action::kFollow,
       false,
       ""},
      {"fourth",
       307,
       {kTile, "https://b.example/1", "https://c.example/2", "https://d.example/3"},
       "https://e.example/4",
       Action::kPauseHost,
       false,
       "tiles: too many redirects, pausing"},
      {"to itself",
       302,
       {kTile},
       kTile.c_str(),
       Action::kPauseHost,
       false,
       "tiles: redirect loop, pausing"},
      {"round two",
       302,
       {kTile, "https://b.example/x"},
       kTile.c_str(),
       Action::kPauseHost,
       false,
       "tiles: redirect loop, pausing"},
      {"to http",
       301,
       {kTile},
       "http://a.example/7/70/40.png",
       Action::kBlockHost,
       false,
       "tiles: redirect to another scheme refused (301)"},
      {"to ftp",
       302,
       {kTile},
       "ftp://a.example/7/70/40.png",
       Action::kFailed,
       false,
       "tiles: redirect refused (302)"},
      {"no target", 302, {kTile}, "", Action::kFailed, false, "tiles: request refused (302)"},
  };
  for (const Case& c : cases) {
    TileReplyFacts facts;
    facts.asked = c.asked;
    facts.httpStatus = c.status;
    facts.location = c.location;
    const TileVerdict verdict = JudgeTileReply(facts);
    EXPECT_EQ(verdict.action, c.action) << c.name;
    EXPECT_EQ(verdict.originMoved, c.originMoved) << c.name;
    EXPECT_EQ(verdict.status, c.statusLine) << c.name;
    EXPECT_EQ(verdict.followUrl, c.action == Action::kFollow ? c.location : "") << c.name;
    EXPECT_EQ(verdict.pauseSeconds, c.action == Action::kPauseHost ? 300 : 0) << c.name;
  }
}

TEST(TileReplyPolicyTest, RetryAfterDatesAndOrigins) {
  EXPECT_EQ(RetryAfterSeconds("Sun, 06 Nov 1994 08:49:00 GMT", kNow, 9), 1);  // past: at once
  EXPECT_EQ(RetryAfterSeconds("Mon, 07 Nov 1994 08:49:37 GMT", kNow, 9), 86400);
  EXPECT_EQ(RetryAfterSeconds("Thu, 29 Feb 2024 00:00:00 GMT", 1709164800 - 30, 9), 30);
  EXPECT_EQ(RetryAfterSeconds("99999999999999999999999", kNow, 9), 86400);
  EXPECT_EQ(RetryAfterSeconds("0", kNow, 9), 1);
  for (const char* bad :
       {"", "  ", "-5", "1.5", "Sun, 06 Nov 1994 08:49:37 UTC", "Sun, 06 Foo 1994 08:49:37 GMT",
        "Sun, 36 Nov 1994 08:49:37 GMT", "Fri, 30 Feb 2024 00:00:00 GMT"}) {
    EXPECT_EQ(RetryAfterSeconds(bad, kNow, 9), 9) << bad;
  }
  EXPECT_EQ(UrlOrigin("HTTPS://Tiles.Example:8080/{z}/{x}?k=1"), "https://tiles.example:8080");
  EXPECT_EQ(UrlOrigin("http://h?x"), "http://h");
  EXPECT_EQ(UrlOrigin("http:///path"), "");
  EXPECT_EQ(UrlOrigin("file:///etc/passwd"), "");
  EXPECT_EQ(UrlOrigin("maps/town.mbtiles"), "");
}

TEST(TileReplyPolicyTest, MovedOriginsAreRememberedBoundedAndNeverRound) {
  MovedOrigins moved;
  EXPECT_TRUE(moved.Learn("https://a.example", "https://b.example"));
  EXPECT_FALSE(moved.Learn("https://a.example", "https://b.example"));
  EXPECT_FALSE(moved.Learn("https://a.example", "http://b.example"));  // no scheme change
  EXPECT_EQ(moved.Apply("https://a.example/1/2/3.png?k=A"), "https://b.example/1/2/3.png?k=A");
  EXPECT_EQ(moved.Apply("https://c.example/1/2/3.png"), "https://c.example/1/2/3.png");
  // Moving back replaces the old move: one step, never a cycle.
  EXPECT_TRUE(moved.Learn("https://b.example", "https://a.example"));
  EXPECT_EQ(moved.size(), 1u);
  EXPECT_EQ(moved.Apply("https://b.example/x"), "https://a.example/x");
  EXPECT_EQ(moved.Apply("https://a.example/x"), "https://a.example/x");

  // Through the text file and back; junk lines are skipped.
  const MovedOrigins read = MovedOrigins::Parse(
      moved.Format() + "garbage\nhttp://x https://y\nhttps://p.example/path https://q\n" +
      "https://s.example https://t.example\n");
  EXPECT_EQ(read.Format(),
            "https://b.example https://a.example\n"
            "https://s.example https://t.example\n");
  // At most kMax moves, the newest kept.
  MovedOrigins many;
  for (size_t i = 0; i < MovedOrigins::kMax + 5; ++i) {
    many.Learn("https://h" + std::to_string(i), "https://n" + std::to_string(i));
  }
  EXPECT_EQ(many.size(), MovedOrigins::kMax);
  EXPECT_EQ(many.Apply("https://h0/a"), "https://h0/a");
  EXPECT_EQ(many.Apply("https://h36/a"), "https://n36/a");
  EXPECT_EQ(
      MovedOrigins::Parse(std::string(MovedOrigins::kMaxTextBytes, '\n') + "https://a https://b\n")
          .size(),
      0u);
}

}  // namespace
}  // namespace roamgrid
