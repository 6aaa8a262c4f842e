// Logs judged by their content: gzip-compressed logs, GPX tracks and NMEA
// text, read through ImportNmeaLog into the same store.
#include <gtest/gtest.h>

#include <charconv>
#include <filesystem>
#include <string>
#include <vector>

#include "import/gpx_reader.h"
#include "import/input_formats.h"
#include "import/log_import.h"
#include "import/log_source.h"
#include "import/nmea_reader.h"
#include "support/generated_logs.h"
#include "support/temp_dir.h"
#include "tiles/track_recorder.h"

namespace roamgrid {
namespace {

namespace fs = std::filesystem;
using testing::FilesBelow;
using testing::GeneratedDrive;
using testing::Gzip;
using testing::WriteText;

TEST(JudgeLogStartTest, KnowsGzipGpxAndNmeaFromTheFirstBytes) {
  using namespace std::string_literals;
  struct Case {
    std::string start;
    bool atEnd;
    bool decided;
    LogKind kind;
  };
  const LogKind nmea = LogKind::kNmea, gpx = LogKind::kGpx, gzip = LogKind::kGzip;
  const Case cases[] = {
      {"\x1f\x8b\x08", false, true, gzip},
      {"\x1f", false, false, nmea},
      {"\x1f", true, true, nmea},
      {"<?xml version", false, true, gpx},
      {"\xef\xbb\xbf \r\n\t<gpx version", false, true, gpx},
      {"<gpx", true, true, gpx},
      {"  <?x", false, false, nmea},  // may still become "<?xml"
      {"  <?x", true, true, nmea},
      {"\xef\xbb", false, false, nmea},
      {"   ", false, false, nmea},
      {"", true, true, nmea},
      {std::string(kLogHeadMax, ' '), false, false, nmea},  // white space: read on
      {std::string(kLogJudgeMax, ' '), false, true, nmea},  // up to the bound
      {"<kml>", false, true, gpx},                          // XML: the root tells the reader
      {"\r\n{\"locations\"", false, true, LogKind::kJson},
      {"\x1e{", false, true, LogKind::kJson},
      {"{\"class\":\"VERSION\"", false, true, nmea},  // gpsd's report before its NMEA
      {"{\"cla", false, false, nmea},
      {std::string("\x0e\x20\x4c\x08\0\0\0\0.FIT", 12), false, true, LogKind::kFit},
      {std::string("\x0e\x20\x4c\x08\0\0\0\0.FI", 11), false, false, nmea},
      {std::string("\x0c\x20\x4c\x08\0\0\0\0.fit", 12), false, true, nmea},
      {"PK\x03\x04\x14", false, true, LogKind::kZip},
      {"PK\x03", false, false, nmea},
      {"$GPGGA,1", false, true, nmea},
      {"x<gpx", false, true, nmea},
      {"\xff\xfe<\0?\0x\0m\0l\0"s, false, true, gpx},  // UTF-16, either byte order
      {"\xfe\xff\0 \0<\0g\0p\0x"s, false, true, gpx},
      {"\xff\xfe<\0?\0"s, false, false, nmea},
      {"\xff", false, false, nmea},
      {"\xff\xfe\0\0<\0\0\0?\0\0\0x\0\0\0"s, false, true, nmea},  // UTF-32 is not read
      {"\xff\xfe$\0G\0P\0"s, false, true, nmea},
  };
  for (const Case& c : cases) {
    LogKind kind = LogKind::kGzip;
    EXPECT_EQ(JudgeLogStart(c.start.data(), c.start.size(), c.atEnd, &kind), c.decided)
        << '"' << c.start << '"';
    if (c.decided) {
      EXPECT_EQ(kind, c.kind) << '"' << c.start << '"';
    }
  }
}

TEST(ParseGpxDegreesTest, TakesWholeDecimalNumbersOnly) {
  const std::pair<const char*, std::optional<double>> cases[] = {
      {"35.6812", 35.6812},
      {" -139.7671 \n", -139.7671},
      {"+1", 1.0},
      {"0.1000000000000000055511151231257827", 0.1},  // rounded as strtod rounds
      {".5", 0.5},
      {"5.", 5.0},
      {"", std::nullopt},
      {" ", std::nullopt},
      {"-", std::nullopt},
      {".", std::nullopt},
      {"-1e-05", -1e-05},
      {"1E+2", 100.0},
      {"1e", std::nullopt},
      {"1e+", std::nullopt},
      {"0x10", std::nullopt},
      {"inf", std::nullopt},
      {"nan", std::nullopt},
      {"12abc", std::nullopt},
      {"1,5", std::nullopt},
      {"1 2", std::nullopt},
  };
  for (const auto& [text, value] : cases) EXPECT_EQ(ParseGpxDegrees(text), value) << text;
}

class LogFormatsTest : public testing::TempDirTest {
 protected:
  // Imports `logs` with one recorder into the store folder `store`.
  std::vector<ImportReport> Import(const std::string& store, const std::vector<std::string>& logs,
                                   ImportProgress* progress = nullptr) {
    fs::create_directories(store);
    fs::current_path(dir() / store);
    std::vector<ImportReport> reports;
    TrackRecorder recorder;
    ImportOptions options;
    options.progress = progress;
    for (const std::string& log : logs) {
      reports.emplace_back();
      EXPECT_TRUE(ImportNmeaLog(recorder, (dir() / log).string(), &reports.back(), options));
    }
    fs::current_path(dir());
    return reports;
  }
};

TEST_F(LogFormatsTest, CompressedLogsGiveTheStoreOfThePlainOnes) {
  const std::string a = GeneratedDrive(35.66, 139.76, 3000, 1);
  const std::string b = GeneratedDrive(-33.5002, -70.0498, 2000, 2) + "$GPGGA,1,3540.0";
  WriteText("a.log", a);
  WriteText("b.log", b);
  WriteText("a.log.gz", Gzip(a));
  // Members one after another, split inside a line, with zero padding.
  WriteText("b.log.gz", Gzip(b.substr(0, 777)) + Gzip("") + Gzip(b.substr(777)) + '\0' + '\0');
  WriteText("b.log.gz.gz", Gzip(Gzip(b)));
  const std::vector<ImportReport> plain = Import("plain", {"a.log", "b.log"});
  for (const auto& logs : {std::vector<std::string>{"a.log.gz", "b.log.gz"},
                           std::vector<std::string>{"a.log.gz", "b.log.gz.gz"}}) {
    std::error_code ignored;
    fs::remove_all("packed", ignored);
    const std::vector<ImportReport> packed = Import("packed", logs);
    for (size_t i = 0; i < 2; ++i) {
      EXPECT_TRUE(packed[i].compressed);
      EXPECT_FALSE(packed[i].readError) << packed[i].readErrorText;
      EXPECT_EQ(packed[i].fixes, plain[i].fixes);
      EXPECT_EQ(packed[i].skipped, plain[i].skipped);
      EXPECT_EQ(packed[i].bytesRead, (long long)fs::file_size(logs[i]));
    }
    EXPECT_GT(FilesBelow("plain/RGD").size(), 2u);
    EXPECT_TRUE(FilesBelow("packed/RGD") == FilesBelow("plain/RGD")) << logs[1];
  }
}

TEST_F(LogFormatsTest, DamagedCompressedLogRecordsWhatCameBeforeAndIsAReadError) {
  std::string log;
  for (unsigned seed = 1; seed <= 3; ++seed) log += GeneratedDrive(35.66, 139.76, 3000, seed);
  const std::string packed = Gzip(log);
  std::string flipped = packed;
  flipped[packed.size() / 2] ^= 0x55;
  struct Case {
    std::string bytes;
    const char* reason;
  };
  const Case cases[] = {
      {packed.substr(0, packed.size() / 2), "truncated"},
      {packed.substr(0, packed.size() - 3), "truncated"},  // inside the trailer
      {flipped, "damaged"},
      {packed + "trailing text", "damaged"},
      {packed + std::string(1, '\0') + packed, "damaged"},
  };
  WriteText("whole.log", log);
  const ImportReport whole = Import("whole", {"whole.log"})[0];
  const auto wholeTiles = FilesBelow("whole/RGD");
  for (const Case& c : cases) {
    WriteText("cut.log.gz", c.bytes);
    std::error_code ignored;
    fs::remove_all("cut", ignored);
    const ImportReport report = Import("cut", {"cut.log.gz"})[0];
    EXPECT_TRUE(report.readError);
    EXPECT_NE(report.readErrorText.find(c.reason), std::string::npos) << report.readErrorText;
    EXPECT_GT(report.fixes, 0);
    EXPECT_LE(report.fixes, whole.fixes);
    // A cut stream gives only tiles of the whole log. (Damaged data may
    // come out as other text before the check at the member's end.)
    if (std::string(c.reason) != "truncated") continue;
    for (const auto& entry : FilesBelow("cut/RGD")) EXPECT_TRUE(wholeTiles.count(entry.first));
  }
}

// The exact degrees of the fixes of an NMEA log, as the reader takes them.
std::vector<std::pair<double, double>> FixesOf(const std::string& log) {
  std::vector<std::pair<double, double>> fixes;
  size_t at = 0;
  while (at < log.size()) {
    size_t end = log.find('\n', at);
    end = end == std::string::npos ? log.size() : end + 1;
    double lat = 0, lon = 0;
    if (ReadGgaLine(log.data() + at, end - at, false, false, &lat, &lon) == GgaLine::kFix)
      fixes.push_back({lat, lon});
    at = end;
  }
  return fixes;
}

std::string Shortest(double value) {
  char text[32];
  return std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
}

TEST_F(LogFormatsTest, GpxTrackPointsGiveTheStoreOfTheSameDegrees) {
  const auto fixes =
      FixesOf(GeneratedDrive(35.66, 139.76, 2500, 3) + GeneratedDrive(-0.01, -0.02, 500, 4));
  ASSERT_GT(fixes.size(), 2900u);
  std::string gpx =
      "\xef\xbb\xbf\n\n<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<gpx version=\"1.1\" creator=\"test\" xmlns=\"http://www.topografix.com/GPX/1/1\">\n"
      "<wpt lat=\"10.0\" lon=\"10.0\"><name>home</name></wpt>\n"
      "<rte><rtept lat=\"20.0\" lon=\"20.0\"/></rte>\n<trk><trkseg>\n";
  for (size_t i = 0; i < fixes.size(); ++i) {
    if (i == 1000) gpx += "</trkseg><trkseg>";
    gpx += "<trkpt lat=\"" + Shortest(fixes[i].first) + "\" lon=\"" + Shortest(fixes[i].second) +
           "\"><ele>12.5</ele><time>2024-05-01T10:00:00Z</time></trkpt>\n";
  }
  // Unreadable track points are skipped and counted.
  gpx += "<trkpt lon=\"1\"/><trkpt lat=\"x\" lon=\"1\"/><trkpt lat=\"1e\" lon=\"1\"/>\n";
  gpx += "</trkseg></trk></gpx>\n";
  WriteText("track.gpx", gpx);
  WriteText("track.gpx.gz", Gzip(gpx));
  // GPX 1.0 with a prefix on every element name.
  std::string prefixed = "<gpx:gpx xmlns:gpx=\"http://www.topografix.com/GPX/1/0\"><gpx:trk>";
  for (const auto& [lat, lon] : fixes)
    prefixed += "<gpx:trkpt lat='" + Shortest(lat) + "' lon='" + Shortest(lon) + "'/>";
  WriteText("prefixed.gpx", prefixed + "</gpx:trk></gpx:gpx>");
  // The same in UTF-16, both byte orders, with the byte order mark.
  for (const bool little : {true, false}) {
    std::string wide = little ? "\xff\xfe" : "\xfe\xff";
    for (const char c :
         "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n" + prefixed + "</gpx:trk></gpx:gpx>")
      wide += little ? std::string{c, '\0'} : std::string{'\0', c};
    WriteText(little ? "utf16le.gpx" : "utf16be.gpx", wide);
  }

  fs::create_directories("direct");
  fs::current_path("direct");
  {
    TrackRecorder recorder;
    for (const auto& [lat, lon] : fixes) AddPoint(recorder, lat, lon);
  }
  fs::current_path(dir());
  const auto expected = FilesBelow("direct/RGD");
  EXPECT_GT(expected.size(), 2u);
  for (const char* name :
       {"track.gpx", "track.gpx.gz", "prefixed.gpx", "utf16le.gpx", "utf16be.gpx"}) {
    std::error_code ignored;
    fs::remove_all("gpx", ignored);
    const ImportReport report = Import("gpx", {name})[0];
    EXPECT_EQ(report.format, FindInputFormat("GPX"));
    EXPECT_FALSE(report.readError) << report.readErrorText;
    EXPECT_EQ(report.fixes, (long long)fixes.size()) << name;
    EXPECT_EQ(report.skipped, std::string(name).starts_with("track") ? 3 : 0) << name;
    EXPECT_TRUE(FilesBelow("gpx/RGD") == expected) << name;
  }
}

TEST_F(LogFormatsTest, BadGpxRecordsThePointsBeforeAndSaysWhereItFailed) {
  const std::string points =
      "<trkpt lat=\"35.66\" lon=\"139.76\"/>\n<trkpt lat=\"35.67\" lon=\"139.77\"/>\n";
  // Entities that would expand to gigabytes.
  std::string bomb = "<?xml version=\"1.0\"?>\n<!DOCTYPE gpx [\n<!ENTITY e0 \"laughs\">\n";
  for (int i = 1; i <= 9; ++i) {
    bomb += "<!ENTITY e" + std::to_string(i) + " \"";
    for (int j = 0; j < 10; ++j) bomb += "&e" + std::to_string(i - 1) + ";";
    bomb += "\">\n";
  }
  bomb += "]>\n<gpx><trk><trkseg>\n" + points;
  struct Case {
    std::string name, text;
    long long fixes;
    std::string reason;
  };
  const Case cases[] = {
      {"mismatched", "\n<gpx><trk><trkseg>\n" + points + "</trk>\n</gpx>", 2,
       "malformed GPX at line 5: mismatched tag"},
      {"cut", "<?xml version=\"1.0\"?>\n<gpx><trk><trkseg>\n" + points + "<trkpt lat=\"3", 2,
       "malformed GPX at line 5"},
      {"bomb-text", bomb + "<name>&e9;</name>" + points + "</trkseg></trk></gpx>", 2,
       "malformed GPX at line 17: limit on input amplification factor"},
      {"bomb-attribute", bomb + "<trkpt lat=\"1\" lon=\"2\" name=\"&e9;\"/>" + points, 2,
       "malformed GPX at line 17"},
      {"not-gpx", "<?xml version=\"1.0\"?><svg>" + points + "</svg>", 0,
       "not a GPX file: the root element is <svg>"},
      // An external entity is never loaded: it is not even looked for.
      {"external",
       "<?xml version=\"1.0\"?><!DOCTYPE gpx [<!ENTITY x SYSTEM \"/etc/passwd\">]>\n<gpx>"
       "<trk><trkseg><name>&x;</name>" +
           points + "</trkseg></trk></gpx>",
       2, ""},
  };
  for (const Case& c : cases) {
    WriteText(c.name, c.text);
    const ImportReport report = Import("store", {c.name})[0];
    EXPECT_EQ(report.fixes, c.fixes) << c.name;
    EXPECT_EQ(report.readError, !c.reason.empty()) << c.name;
    EXPECT_EQ(report.readErrorText.rfind(c.reason, 0), 0u)
        << c.name << ": " << report.readErrorText;
  }
}

TEST_F(LogFormatsTest, CancelStopsEveryKindAfterABlockAndReleasesTheTile) {
  std::string log;
  for (unsigned seed = 1; seed <= 40; ++seed) log += GeneratedDrive(35.66, 139.76, 2000, seed);
  std::string gpx = "<gpx><trk><trkseg>";
  for (const auto& [lat, lon] : FixesOf(log))
    gpx += "<trkpt lat=\"" + Shortest(lat) + "\" lon=\"" + Shortest(lon) + "\"/>\n";
  gpx += "</trkseg></trk></gpx>";
  WriteText("log", log);
  WriteText("log.gz", Gzip(log));
  WriteText("gpx", gpx);
  WriteText("gpx.gz", Gzip(gpx));
  struct CancelAtOnce : ImportProgress {
    bool Cancelled() override { return true; }
  } cancel;
  for (const char* name : {"log", "log.gz", "gpx", "gpx.gz"}) {
    const ImportReport report = Import(name + std::string("-store"), {name}, &cancel)[0];
    EXPECT_TRUE(report.cancelled) << name;
    EXPECT_FALSE(report.readError) << name << ": " << report.readErrorText;
    EXPECT_LT(report.bytesRead, (long long)fs::file_size(name)) << name;
    EXPECT_FALSE(FilesBelow(name + std::string("-store/RGD")).empty()) << name;
  }
}

// Only GPX is read in UTF-16: another log of this program's kinds is
// named as what it is, not called "not a GPX file".
}  // namespace
}  // namespace roamgrid
