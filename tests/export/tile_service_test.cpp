#include "export/tile_service.h"

#include <gtest/gtest.h>

#include "export/map_tiles_export.h"
#include "export/web_page.h"
#include "map/map_store.h"
#include "map/marks_map.h"
#include "support/temp_dir.h"

namespace roamgrid {
namespace {

using testing::CellAt;
using testing::TempDirTest;

using testing::MemoryOnly;

TEST(ParseTilePath, TakesOnlyTilesOfTheWorld) {
  struct Case {
    const char* path;
    bool ok;
  };
  const Case cases[] = {
      {"0/0/0.png", true},
      {"22/4194303/4194303.png", true},
      {"3/7/3.png", true},
      {"23/0/0.png", false},
      {"3/8/0.png", false},
      {"3/0/8.png", false},
      {"3/-1/0.png", false},
      {"3/+1/0.png", false},
      {"3/07/3.png", false},
      {"03/7/3.png", false},
      {"3/7/3.png.png", false},
      {"3/7/3.jpg", false},
      {"3/7/3", false},
      {"3//3.png", false},
      {"3/7/3/.png", false},
      {"3/99999999999999999999/3.png", false},
      {"../../etc/passwd", false},
      {"3/7/3.png/../../x", false},
      {"", false},
      {"3/7/ 3.png", false},
  };
  for (const Case& c : cases) {
    int z = -1, x = -1, y = -1;
    EXPECT_EQ(ParseTilePath(c.path, z, x, y), c.ok) << c.path;
  }
  int z, x, y;
  ASSERT_TRUE(ParseTilePath("12/3638/1612.png", z, x, y));
  EXPECT_EQ(z, 12);
  EXPECT_EQ(x, 3638);
  EXPECT_EQ(y, 1612);
}

class TileServiceTest : public TempDirTest {};

TEST_F(TileServiceTest, AnswersTheRoutesAndNothingElse) {
  testing::WriteCells(testing::Track(35.68, 139.76, 200, 4));
  MarksMap map(MemoryOnly());
  MarksMap reference(MemoryOnly());
  reference.Refresh();
  TileService::Options options;
  options.origin = "http://127.0.0.1:8745";
  options.files["/"] = {"text/html; charset=utf-8", "<!DOCTYPE html>page"};
  TileService service(map, options);

  // A tile holds the bytes the tile export writes.
  const std::string path = "/12/3638/1612.png";
  int z, x, y;
  ASSERT_TRUE(ParseTilePath(path.substr(1), z, x, y));
  MaskImage mask;
  ASSERT_TRUE(reference.RenderMarksTile(z, x, y, mask));
  std::vector<uint8_t> png;
  ASSERT_TRUE(EncodeMarksTile(mask, Rgb{255, 0, 0}, png));
  const HttpAnswer tile = service.Answer("GET", path + "?v=1", "");
  EXPECT_EQ(tile.status, 200);
  EXPECT_EQ(tile.contentType, "image/png");
  EXPECT_EQ(tile.body, std::string(png.begin(), png.end()));
  EXPECT_FALSE(tile.etag.empty());

  struct Case {
    const char* method;
    const char* path;
    int status;
  };
  const Case cases[] = {
      {"GET", "/", 200},
      {"GET", "/index.html", 200},
      {"GET", "/tiles.json", 200},
      {"GET", "/0/0/0.png", 200},
      {"GET", "/5/1/1.png", 200},  // no marks: the empty tile
      {"GET", "/../../etc/passwd", 404},
      {"GET", "/etc/passwd", 404},
      {"GET", "/leaflet/../../../../etc/passwd", 404},
      {"GET", "/23/0/0.png", 404},
      {"GET", "/3/-1/0.png", 404},
      {"GET", "/3/4294967296/0.png", 404},
      {"GET", "//0/0/0.png", 404},
      {"POST", "/0/0/0.png", 405},
      {"PUT", "/", 405},
      {"DELETE", "/", 405},
      {"OPTIONS", "/", 405},
      {"get", "/", 405},
  };
  for (const Case& c : cases) {
    const HttpAnswer answer = service.Answer(c.method, c.path, "");
    EXPECT_EQ(answer.status, c.status) << c.method << " " << c.path;
    if (c.status == 405) {
      EXPECT_EQ(answer.allow, "GET, HEAD");
    }
  }
  EXPECT_EQ(service.Answer("GET", "/5/1/1.png", "").body, service.emptyTile());
  const HttpAnswer json = service.Answer("GET", "/tiles.json", "");
  EXPECT_NE(json.body.find("\"tiles\":[\"http://127.0.0.1:8745/{z}/{x}/{y}.png\"]"),
            std::string::npos)
      << json.body;
  EXPECT_NE(json.body.find("\"bounds\":[139.7"), std::string::npos) << json.body;
  const HttpAnswer head = service.Answer("HEAD", path, "");
  EXPECT_EQ(head.status, 200);
  EXPECT_TRUE(head.body.empty());
  EXPECT_EQ(head.etag, tile.etag);
}

TEST_F(TileServiceTest, EtagsHoldUntilAnImportChangesTheTile) {
  testing::WriteCells({CellAt(35.68, 139.76)});
  MarksMap map(MemoryOnly());
  TileService::Options options;
  options.refreshInterval = std::chrono::milliseconds(0);
  TileService service(map, options);
  const std::string tokyo = "/10/909/403.png", elsewhere = "/10/100/100.png";
  const HttpAnswer first = service.Answer("GET", tokyo, "");
  const HttpAnswer other = service.Answer("GET", elsewhere, "");
  EXPECT_EQ(service.Answer("GET", tokyo, first.etag).status, 304);
  EXPECT_TRUE(service.Answer("GET", tokyo, first.etag).body.empty());
  EXPECT_EQ(service.Answer("GET", tokyo, "\"x\", " + first.etag).status, 304);
  EXPECT_EQ(service.Answer("GET", tokyo, "\"other\"").status, 200);

  // A new mark in the tile: a new ETag at once, the old one no longer holds.
  testing::WriteCells({CellAt(35.68, 139.76), CellAt(35.69, 139.77)});
  const HttpAnswer second = service.Answer("GET", tokyo, first.etag);
  EXPECT_EQ(second.status, 200);
  EXPECT_NE(second.etag, first.etag);
  EXPECT_NE(second.body, first.body);
  // Far away nothing changed.
  EXPECT_EQ(service.Answer("GET", elsewhere, other.etag).status, 304);

  // Another colour, another tag.
  MarksMap again(MemoryOnly());
  options.colour = Rgb{0, 0, 255};
  TileService blue(again, options);
  EXPECT_NE(blue.Answer("GET", tokyo, "").etag, second.etag);
}

TEST(WebPage, NamesOnlyItsOwnFilesAndTheBaseMapWithEscapedTexts) {
  WebPageOptions options;
  options.baseUrl = "https://{s}.tile.example.org/{z}/{x}/{-y}.png";
  options.baseSubdomains = {"a", "b"};
  options.baseAttribution = "</script><script>alert('x')</script> & Co";
  options.bounds = WorldBox{0.8, 0.39, 0.9, 0.40};
  const std::string html = WebPageHtml(options);
  // The attribution cannot end the script.
  EXPECT_EQ(html.find("</script><script>alert"), std::string::npos);
  EXPECT_NE(html.find("https://{s}.tile.example.org/{z}/{x}/{y}.png"), std::string::npos);
  EXPECT_NE(html.find("tms: true"), std::string::npos);
  EXPECT_NE(html.find("map.fitBounds"), std::string::npos);
  EXPECT_NE(html.find("L.control.layers"), std::string::npos);
  // No address but the base map's.
  size_t at = 0;
  int addresses = 0;
  while ((at = html.find("://", at)) != std::string::npos) {
    EXPECT_EQ(html.compare(at - 5, 8, "https://"), 0) << html.substr(at - 10, 40);
    ++addresses;
    ++at;
  }
  EXPECT_EQ(addresses, 1);
  options.baseUrl.clear();
  options.coastUrl = "coast/{z}/{x}/{y}.png";
  EXPECT_EQ(WebPageHtml(options).find("://"), std::string::npos);
}

}  // namespace
}  // namespace roamgrid
