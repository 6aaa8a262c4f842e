// The track formats beyond NMEA and GPX (location-history JSON, GeoJSON,
// KML and KMZ, TCX, FIT), each built from a generated track's degrees: the
// same store as AddPoint with the same degrees, what is not a visit left
// out, the accuracy rule, and a damaged tail.
#include <gtest/gtest.h>
#include <zip.h>

#include <charconv>
#include <cmath>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "import/fit_reader.h"
#include "import/input_formats.h"
#include "import/iso_time.h"
#include "import/json_reader.h"
#include "import/log_import.h"
#include "import/nmea_reader.h"
#include "support/fit_file.h"
#include "support/generated_logs.h"
#include "support/temp_dir.h"
#include "tiles/track_recorder.h"

namespace roamgrid {
namespace {

namespace fs = std::filesystem;
using testing::FilesBelow;
using testing::WriteText;

struct Degrees {
  double lat, lon;
};

std::vector<Degrees> GeneratedTrack(unsigned seed, int count) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> step(-0.0004, 0.0009);
  std::vector<Degrees> track;
  double lat = 35.66, lon = 139.76;
  for (int i = 0; i < count; ++i) track.push_back({lat += step(random), lon += step(random)});
  return track;
}

std::string Shortest(double value) {
  char text[32];
  return std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
}

std::string Iso(int second) {
  return "2024-05-01T10:" + std::to_string(10 + second / 60) + ":" +
         (second % 60 < 10 ? "0" : "") + std::to_string(second % 60) + ".5Z";
}

// A fixture: the file's bytes and the degrees it records.
struct Fixture {
  std::string name;
  std::string bytes;
  std::vector<Degrees> recorded;
};

// Positions in E7 integers and the degrees the reader makes of them.
std::vector<std::pair<long long, long long>> E7(const std::vector<Degrees>& track,
                                                std::vector<Degrees>& recorded) {
  std::vector<std::pair<long long, long long>> e7;
  for (const Degrees& d : track) {
    e7.push_back({std::llround(d.lat * 1e7), std::llround(d.lon * 1e7)});
    recorded.push_back({e7.back().first / 1e7, e7.back().second / 1e7});
  }
  return e7;
}

Fixture Records(const std::vector<Degrees>& track) {
  Fixture f{"Records.json", "{\"locations\": [\n", {}};
  const auto e7 = E7(track, f.recorded);
  for (size_t i = 0; i < e7.size(); ++i) {
    f.bytes += std::string(i ? ",\n" : "") + "{\"latitudeE7\": " + std::to_string(e7[i].first) +
               ", \"longitudeE7\": " + std::to_string(e7[i].second) + ", \"accuracy\": " +
               (i % 2 ? "12" : "50") + ", \"activity\": [{\"timestamp\": \"x\"}], " +
               (i % 3 ? "\"timestamp\": \"" + Iso(int(i)) + "\""
                      : "\"timestampMs\": \"" + std::to_string(1714558200000 + i * 1000) + "\"") +
               "}";
  }
  // Coarse: stated accuracy worse than 50 m.
  f.bytes += ",\n{\"latitudeE7\": 100000000, \"longitudeE7\": 100000000, \"accuracy\": 51}";
  f.bytes += "]}\n";
  return f;
}

Fixture Semantic(const std::vector<Degrees>& track) {
  Fixture f{"2024_MAY.json", "", {}};
  const auto e7 = E7(track, f.recorded);
  const auto latLon = [](const char* lat, const char* lon, std::pair<long long, long long> p) {
    return std::string("{\"") + lat + "\": " + std::to_string(p.first) + ", \"" + lon +
           "\": " + std::to_string(p.second) + "}";
  };
  const size_t half = e7.size() / 2;
  f.bytes = "{\"timelineObjects\": [{\"activitySegment\": {\"startLocation\": " +
            latLon("latitudeE7", "longitudeE7", e7[0]) +
            ", \"endLocation\": " + latLon("latitudeE7", "longitudeE7", e7.back()) +
            ", \"activities\": [{\"activityType\": \"WALKING\"}], \"waypointPath\": "
            "{\"waypoints\": [";
  for (size_t i = 1; i < half; ++i)
    f.bytes += (i > 1 ? ", " : "") + latLon("latE7", "lngE7", e7[i]);
  f.bytes += "]}, \"transitPath\": {\"transitStops\": [" +
             latLon("latitudeE7", "longitudeE7", {200000000, 200000000}) +
             "]}, \"simplifiedRawPath\": {\"points\": [";
  for (size_t i = half; i + 1 < e7.size(); ++i)
    f.bytes += std::string(i > half ? ", " : "") + "{\"latE7\": " + std::to_string(e7[i].first) +
               ", \"lngE7\": " + std::to_string(e7[i].second) +
               ", \"accuracyMeters\": 8, \"timestamp\": \"" + Iso(int(i)) + "\"}";
  f.bytes += "]}}}, {\"placeVisit\": {\"location\": " +
             latLon("latitudeE7", "longitudeE7", e7[half]) +
             ", \"otherCandidateLocations\": [" +
             latLon("latitudeE7", "longitudeE7", {-200000000, 200000000}) +
             "], \"centerLatE7\": 300000000, \"centerLngE7\": 300000000}}]}";
  f.recorded.push_back(f.recorded[half]);  // the visit, at a point of the path
  return f;
}

std::string DegreeText(const Degrees& d) {
  return Shortest(d.lat) + "\xc2\xb0, " + Shortest(d.lon) + "\xc2\xb0";
}

Fixture AndroidTimeline(const std::vector<Degrees>& track) {
  Fixture f{"Timeline.json", "{\"semanticSegments\": [{\"startTime\": \"" + Iso(0) +
                                 "\", \"timelinePath\": [",
            track};
  const size_t half = track.size() / 2;
  for (size_t i = 0; i < half; ++i)
    f.bytes += std::string(i ? ", " : "") + "{\"point\": \"" + DegreeText(track[i]) +
               "\", \"time\": \"" + Iso(int(i)) + "\"}";
  f.bytes += "]}, {\"visit\": {\"topCandidate\": {\"placeLocation\": {\"latLng\": \"" +
             DegreeText(track[half]) + "\"}}}}], \"rawSignals\": [";
  for (size_t i = half + 1; i < track.size(); ++i)
    f.bytes += "{\"position\": {\"LatLng\": \"" + DegreeText(track[i]) +
               "\", \"accuracyMeters\": 13, \"timestamp\": \"" + Iso(int(i)) +
               "\"}}, {\"wifiScan\": {\"deliveryTime\": \"x\"}}, ";
  f.bytes += "{\"position\": {\"LatLng\": \"1.5\xc2\xb0, 2.5\xc2\xb0\", \"accuracyMeters\": 900}}"
             "], \"userLocationProfile\": {\"frequentPlaces\": [{\"placeId\": \"p\", "
             "\"placeLocation\": \"20.5\xc2\xb0, 20.5\xc2\xb0\"}]}}";
  return f;
}

Fixture IosHistory(const std::vector<Degrees>& track) {
  const auto geo = [](const Degrees& d) { return "geo:" + Shortest(d.lat) + "," + Shortest(d.lon); };
  Fixture f{"location-history.json", "[{\"startTime\": \"2024-05-01T19:00:00.000+09:00\", "
                                     "\"endTime\": \"x\", \"timelinePath\": [", track};
  for (size_t i = 2; i < track.size(); ++i)
    f.bytes += std::string(i > 2 ? ", " : "") + "{\"point\": \"" + geo(track[i]) +
               "\", \"durationMinutesOffsetFromStartTime\": \"" + std::to_string(i) + "\"}";
  f.bytes += "]}, {\"visit\": {\"hierarchyLevel\": \"0\", \"topCandidate\": {\"placeLocation\": \"" +
             geo(track[0]) + "\"}}}, {\"activity\": {\"start\": \"" + geo(track[1]) +
             "\", \"end\": \"" + geo(track[1]) + "\"}}]";
  f.recorded.push_back(track[1]);  // start and end
  return f;
}

std::string Position(const Degrees& d) { return "[" + Shortest(d.lon) + ", " + Shortest(d.lat) + ", 12.5]"; }

Fixture GeoJson(const std::vector<Degrees>& track) {
  Fixture f{"track.geojson", "{\"type\": \"FeatureCollection\", \"features\": [", track};
  const size_t third = track.size() / 3;
  // A plain point is a place: not recorded.
  f.bytes += "{\"type\": \"Feature\", \"properties\": {\"name\": \"home\"}, \"geometry\": "
             "{\"type\": \"Point\", \"coordinates\": [20.5, 20.5]}},\n";
  f.bytes += "{\"type\": \"Feature\", \"geometry\": {\"type\": \"LineString\", \"coordinates\": [";
  for (size_t i = 0; i < third; ++i) f.bytes += (i ? ", " : "") + Position(track[i]);
  f.bytes += "]}, \"properties\": null},\n{\"type\": \"Feature\", \"geometry\": {\"type\": "
             "\"MultiLineString\", \"coordinates\": [[";
  for (size_t i = third; i < 2 * third; ++i)
    f.bytes += std::string(i > third ? (i == third + 5 ? "], [" : ", ") : "") + Position(track[i]);
  f.bytes += "]]}}";
  // Track points as GPX ones become, their properties after the geometry.
  for (size_t i = 2 * third; i < track.size(); ++i)
    f.bytes += ",\n{\"type\": \"Feature\", \"geometry\": {\"type\": \"Point\", \"coordinates\": " +
               Position(track[i]) + "}, \"properties\": {\"track_fid\": 0, \"time\": \"" +
               Iso(int(i)) + "\"}}";
  f.bytes += "]}\n";
  return f;
}

// GeoJSON as writers that sort members by name make it: "coordinates"
// before a geometry's "type", "geometry" and "properties" before a
// feature's "type"; a place, an area, a line and track points.
Fixture SortedGeoJson(const std::vector<Degrees>& track) {
  Fixture f{"sorted.geojson", "{\"features\": [", track};
  f.bytes +=
      "{\"geometry\": {\"coordinates\": [20.5, 20.5], \"type\": \"Point\"}, "
      "\"properties\": {\"name\": \"W1\"}, \"type\": \"Feature\"},\n"
      "{\"geometry\": {\"coordinates\": [[[21, 21], [22, 21], [22, 22], [21, 21]]], "
      "\"type\": \"Polygon\"}, \"properties\": {}, \"type\": \"Feature\"},\n"
      "{\"geometry\": {\"coordinates\": [";
  const size_t half = track.size() / 2;
  for (size_t i = 0; i < half; ++i) f.bytes += (i ? ", " : "") + Position(track[i]);
  f.bytes +=
      "], \"type\": \"LineString\"}, \"properties\": {\"name\": \"T1\"}, "
      "\"type\": \"Feature\"}";
  for (size_t i = half; i < track.size(); ++i)
    f.bytes += ",\n{\"geometry\": {\"coordinates\": " + Position(track[i]) +
               ", \"type\": \"Point\"}, \"properties\": {\"time\": \"" + Iso(int(i)) +
               "\", \"track_fid\": 0}, \"type\": \"Feature\"}";
  f.bytes += "], \"type\": \"FeatureCollection\"}\n";
  return f;
}

Fixture GeoJsonSequence(const std::vector<Degrees>& track) {
  Fixture f{"track.geojsons", "", track};
  for (size_t i = 0; i < track.size(); i += 100) {
    f.bytes += "\x1e{\"type\": \"Feature\", \"properties\": {}, \"geometry\": {\"type\": "
               "\"LineString\", \"coordinates\": [";
    for (size_t j = i; j < std::min(i + 101, track.size()); ++j)
      f.bytes += (j > i ? ", " : "") + Position(track[j]);
    if (i + 100 < track.size()) f.recorded.push_back(track[i + 100]);  // in both lines
    f.bytes += "]}}\n";
  }
  return f;
}

std::string KmlText(const std::vector<Degrees>& track) {
  std::string kml =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<kml xmlns=\"http://www.opengis.net/kml/2.2\" "
      "xmlns:gx=\"http://www.google.com/kml/ext/2.2\"><Document>\n"
      "<Placemark><Point><coordinates>20.5,20.5,0</coordinates></Point></Placemark>\n"
      "<Placemark><Polygon><outerBoundaryIs><LinearRing><coordinates>21,21 22,21 22,22 21,21"
      "</coordinates></LinearRing></outerBoundaryIs></Polygon></Placemark>\n"
      "<Placemark><LineString><tessellate>1</tessellate><coordinates>\n";
  const size_t half = track.size() / 2;
  for (size_t i = 0; i < half; ++i)
    kml += Shortest(track[i].lon) + "," + Shortest(track[i].lat) + (i % 2 ? ",10\n" : " ");
  kml += "</coordinates></LineString></Placemark>\n<Placemark><gx:Track>";
  for (size_t i = half; i < track.size(); ++i) kml += "<when>" + Iso(int(i)) + "</when>";
  for (size_t i = half; i < track.size(); ++i)
    kml += "<gx:coord>" + Shortest(track[i].lon) + " " + Shortest(track[i].lat) + " 10</gx:coord>\n";
  return kml + "</gx:Track></Placemark></Document></kml>\n";
}

std::string Zip(const std::vector<std::pair<std::string, std::string>>& entries) {
  const std::string path = "made.zip";
  int error = 0;
  zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  EXPECT_NE(archive, nullptr);
  for (const auto& [name, data] : entries) {
    zip_source_t* source = zip_source_buffer(archive, data.data(), data.size(), 0);
    EXPECT_GE(zip_file_add(archive, name.c_str(), source, ZIP_FL_OVERWRITE), 0);
  }
  EXPECT_EQ(zip_close(archive), 0);
  const std::vector<uint8_t> bytes = testing::ReadBytes(path);
  fs::remove(path);
  return std::string(bytes.begin(), bytes.end());
}

// An activity's laps, then a course as converters of GPS tracks write it
// (its lap's begin position and its turn directions are no visits).
Fixture Tcx(const std::vector<Degrees>& track) {
  Fixture f{"ride.tcx",
            "<?xml version=\"1.0\"?>\n<TrainingCenterDatabase xmlns=\"http://www.garmin.com/"
            "xmlschemas/TrainingCenterDatabase/v2\"><Activities><Activity Sport=\"Biking\">"
            "<Id>x</Id><Lap><Track>\n",
            track};
  for (size_t i = 0; i < track.size(); ++i) {
    if (i == track.size() / 3) f.bytes += "</Track><Track>";
    if (i == track.size() * 2 / 3)
      f.bytes +=
          "</Track></Lap></Activity></Activities><Courses><Course><Name>T1</Name><Lap>"
          "<BeginPosition><LatitudeDegrees>20.5</LatitudeDegrees><LongitudeDegrees>20.5"
          "</LongitudeDegrees></BeginPosition></Lap><Track>\n";
    f.bytes += "<Trackpoint><Time>" + Iso(int(i)) + "</Time><Position><LatitudeDegrees>" +
               Shortest(track[i].lat) + "</LatitudeDegrees><LongitudeDegrees>" +
               Shortest(track[i].lon) + "</LongitudeDegrees></Position></Trackpoint>\n";
    if (i % 50 == 0) f.bytes += "<Trackpoint><Time>x</Time><HeartRateBpm><Value>99</Value>"
                                "</HeartRateBpm></Trackpoint>\n";
  }
  f.bytes +=
      "</Track><CoursePoint><Name>Left</Name><Position><LatitudeDegrees>20.5"
      "</LatitudeDegrees><LongitudeDegrees>20.5</LongitudeDegrees></Position>"
      "</CoursePoint></Course></Courses></TrainingCenterDatabase>\n";
  return f;
}

Fixture Fit(const std::vector<Degrees>& track) {
  Fixture f{"ride.fit", "", {}};
  // Two files one after another.
  std::vector<int32_t> semicircles;
  for (const Degrees& d : track) {
    semicircles.push_back(int32_t(std::llround(d.lat * (2147483648.0 / 180))));
    semicircles.push_back(int32_t(std::llround(d.lon * (2147483648.0 / 180))));
    f.recorded.push_back(
        {SemicirclesToDegrees(semicircles.end()[-2]), SemicirclesToDegrees(semicircles.back())});
  }
  const auto middle = semicircles.begin() + std::ptrdiff_t(semicircles.size() / 2 / 2 * 2);
  f.bytes = testing::FitFile({semicircles.begin(), middle}) +
            testing::FitFile({middle, semicircles.end()});
  return f;
}

std::vector<Fixture> Fixtures() {
  const std::vector<Degrees> track = GeneratedTrack(7, 600);
  Fixture kml{"track.kml", KmlText(track), track};
  Fixture kmz{"track.kmz", Zip({{"files/x.png", "PNG"}, {"doc.kml", KmlText(track)}}), track};
  return {Records(track),
          Semantic(track),
          AndroidTimeline(track),
          IosHistory(track),
          GeoJson(track),
          GeoJsonSequence(track),
          SortedGeoJson(track),
          kml,
          kmz,
          Tcx(track),
          Fit(track)};
}

class TrackFormatsTest : public testing::TempDirTest {
 protected:
  ImportReport Import(const Fixture& fixture, const std::string& store, double maxAccuracyM = 50) {
    WriteText(fixture.name, fixture.bytes);
    std::error_code ignored;
    fs::remove_all(store, ignored);
    fs::create_directories(store);
    fs::current_path(dir() / store);
    ImportReport report;
    TrackRecorder recorder;
    ImportOptions options;
    options.maxAccuracyM = maxAccuracyM;
    EXPECT_TRUE(ImportNmeaLog(recorder, (dir() / fixture.name).string(), &report, options));
    fs::current_path(dir());
    return report;
  }

  // The store AddPoint makes of `recorded`.
  std::map<std::string, std::vector<uint8_t>> Direct(const std::vector<Degrees>& recorded) {
    std::error_code ignored;
    fs::remove_all("direct", ignored);
    fs::create_directories("direct");
    fs::current_path("direct");
    {
      TrackRecorder recorder;
      for (const Degrees& d : recorded) AddPoint(recorder, d.lat, d.lon);
    }
    fs::current_path(dir());
    return FilesBelow("direct/RGD");
  }
};

TEST_F(TrackFormatsTest, EachFormatGivesTheStoreOfTheSameDegrees) {
  for (const Fixture& fixture : Fixtures()) {
    const ImportReport report = Import(fixture, "store");
    EXPECT_FALSE(report.readError) << fixture.name << ": " << report.readErrorText;
    ASSERT_NE(report.format, nullptr) << fixture.name;
    EXPECT_STREQ(report.format->unit, "points") << fixture.name;
    EXPECT_EQ(report.fixes, (long long)fixture.recorded.size()) << fixture.name;
    EXPECT_GT(report.newCells, 100) << fixture.name;
    const auto expected = Direct(fixture.recorded);
    EXPECT_GT(expected.size(), 1u);
    EXPECT_TRUE(FilesBelow("store/RGD") == expected) << fixture.name;
  }
}

TEST_F(TrackFormatsTest, DamagedTailRecordsWhatCameBeforeAndIsAReadError) {
  for (const Fixture& whole : Fixtures()) {
    std::vector<Fixture> damaged = {{whole.name, whole.bytes.substr(0, whole.bytes.size() * 3 / 5), {}}};
    if (whole.name == "ride.fit") {
      damaged.push_back(whole);
      damaged.back().bytes.back() ^= 0x10;  // the second file's CRC
    }
    for (const Fixture& fixture : damaged) {
      const ImportReport report = Import(fixture, "store");
      EXPECT_TRUE(report.readError) << fixture.name;
      EXPECT_FALSE(report.readErrorText.empty()) << fixture.name;
      if (whole.name == "track.kmz") continue;  // its directory is at the end
      EXPECT_GT(report.fixes, 0) << fixture.name << ": " << report.readErrorText;
      EXPECT_LE(report.fixes, (long long)whole.recorded.size()) << fixture.name;
    }
  }
}

TEST_F(TrackFormatsTest, StatedAccuracyWorseThanTheLimitIsSkippedAndCounted) {
  const std::string records =
      "{\"locations\": [{\"latitudeE7\": 356600000, \"longitudeE7\": 1397600000, \"accuracy\": 10},"
      "{\"latitudeE7\": 356610000, \"longitudeE7\": 1397610000, \"accuracy\": 50},"
      "{\"latitudeE7\": 356620000, \"longitudeE7\": 1397620000, \"accuracy\": 50.5},"
      "{\"latitudeE7\": 356630000, \"longitudeE7\": 1397630000, \"accuracy\": 2000},"
      "{\"latitudeE7\": 356640000, \"longitudeE7\": 1397640000}]}";
  const std::pair<double, long long> cases[] = {{50, 3}, {100, 4}, {0, 5}, {5, 1}};
  for (const auto& [limit, fixes] : cases) {
    const ImportReport report = Import({"r.json", records, {}}, "store", limit);
    EXPECT_EQ(report.fixes, fixes) << limit;
    EXPECT_EQ(report.coarse, 5 - fixes) << limit;
  }
}

TEST_F(TrackFormatsTest, UnknownJsonAndOnlyAreasAreRefusedWithAReason) {
  const std::pair<std::string, std::string> cases[] = {
      {"{\"type\": \"Feature\", \"geometry\": {\"type\": \"Polygon\", \"coordinates\": "
       "[[[0, 0], [1, 0], [1, 1], [0, 0]]]}}\n{\"type\": \"MultiPolygon\", \"coordinates\": "
       "[[[[0, 0], [1, 0], [1, 1], [0, 0]]]]}",
       "this GeoJSON holds only areas (2 Polygon or MultiPolygon)"},
      {"{\"name\": \"roamgrid\", \"version\": \"1.0\"}", "no location history or GeoJSON"},
      {std::string(200, '[') + std::string(200, ']'), "nested deeper than 128"},
  };
  for (const auto& [json, reason] : cases) {
    const ImportReport report = Import({"x.json", json, {}}, "store");
    EXPECT_TRUE(report.readError);
    EXPECT_NE(report.readErrorText.find(reason), std::string::npos) << report.readErrorText;
  }
}

TEST_F(TrackFormatsTest, AreasArePassedOverAndCountedAndTheTracksRead) {
  const std::string line =
      "{\"type\": \"LineString\", \"coordinates\": [[139.76, 35.66], "
      "[139.761, 35.661]]}";
  const std::string area =
      "{\"coordinates\": [[[139, 35], [140, 35], [140, 36], [139, 35]]], "
      "\"type\": \"Polygon\"}";
  const std::string json =
      "{\"type\": \"FeatureCollection\", \"features\": [{\"type\": \"Feature\", \"geometry\": "
      "{\"type\": \"Point\", \"coordinates\": [139.7, 35.6]}}, {\"type\": \"Feature\", "
      "\"geometry\": " +
      area + "}, {\"type\": \"Feature\", \"geometry\": " + line +
      "}, {\"type\": \"Feature\", \"geometry\": {\"type\": \"MultiPolygon\", "
      "\"coordinates\": [[[[0, 0], [1, 0], [1, 1], [0, 0]]]]}}, {\"type\": \"Feature\", "
      "\"geometry\": {\"type\": \"MultiLineString\", \"coordinates\": [[[139.77, 35.67]]]}}]}";
  const ImportReport report = Import({"mixed.geojson", json, {}}, "store");
  EXPECT_FALSE(report.readError) << report.readErrorText;
  EXPECT_EQ(report.fixes, 3);
  EXPECT_EQ(report.areas, 2);
  EXPECT_EQ(report.skipped, 0);
  EXPECT_TRUE(FilesBelow("store/RGD") ==
              Direct({{35.66, 139.76}, {35.661, 139.761}, {35.67, 139.77}}));
}

// Every number is read from its text: digits beyond a double's precision
// round to the nearest, and a number beyond the range of a double ends
// the reading after what came before it (the parser's own conversion of
// such a number is not safe).
TEST_F(TrackFormatsTest, LongJsonNumbersAreReadOrEndTheReadingSafely) {
  std::string locations = "{\"locations\": [";
  std::vector<Degrees> recorded;
  for (int i = 0; i < 500; ++i) {
    locations += "{\"latitudeE7\": " + std::to_string(356600000 + i * 1000) +
                 ", \"longitudeE7\": 1397600000}, ";
    recorded.push_back({(356600000 + i * 1000) / 1e7, 139.76});
  }
  struct Case {
    std::string json;
    long long fixes;
    std::string error;  // empty: none
  };
  const Case cases[] = {
      {"{\"type\": \"LineString\", \"coordinates\": [[139.760000000000000000000000000001, "
       "35.66], [1397.7e-1, 3567000000000000000000000000000000000e-35]]}",
       2, ""},
      {"[1.0000000000000000001e-330]", 0,
       "a number beyond the range of a double (1.0000000000000000001e-330)"},
      {"[0." + std::string(360, '0') + "1]", 0, "a number beyond the range of a double (0.000"},
      {"[-1" + std::string(400, '0') + "]", 0, "malformed JSON"},
      {locations + "{\"latitudeE7\": 1.0000000000000000001e-330}]}", 500,
       "a number beyond the range"},
  };
  for (const Case& c : cases) {
    const ImportReport report = Import({"n.json", c.json, {}}, "store");
    EXPECT_EQ(report.fixes, c.fixes) << c.json.substr(0, 60);
    EXPECT_EQ(report.readError, !c.error.empty()) << c.json.substr(0, 60);
    EXPECT_NE(report.readErrorText.find(c.error), std::string::npos) << report.readErrorText;
  }
  // The 500 locations before the number are in the store.
  EXPECT_TRUE(FilesBelow("store/RGD") == Direct(recorded));
}

// Whole numbers take a shorter way than other numbers: negative ones, a
// negative zero and the longest ones land where their decimal text does.
TEST_F(TrackFormatsTest, WholeJsonNumbersLandWhereTheirDecimalTextDoes) {
  const std::string e7 =
      "{\"locations\": [{\"latitudeE7\": -336600001, \"longitudeE7\": -701234567}, "
      "{\"latitudeE7\": 356600000, \"longitudeE7\": -0}, "
      "{\"latitudeE7\": 999999999999999999, \"longitudeE7\": 0}]}";
  const ImportReport report = Import({"e7.json", e7, {}}, "e7");
  EXPECT_FALSE(report.readError) << report.readErrorText;
  EXPECT_EQ(report.fixes, 2);  // not the one at 10^11 degrees
  const std::string decimal =
      "{\"type\": \"LineString\", \"coordinates\": [[-70.1234567, -33.6600001], "
      "[0.0, 35.66]]}";
  EXPECT_FALSE(Import({"decimal.geojson", decimal, {}}, "decimal").readError);
  EXPECT_TRUE(FilesBelow("e7/RGD") == FilesBelow("decimal/RGD"));
  EXPECT_EQ(FilesBelow("e7/RGD").size(), 2u);
}

TEST_F(TrackFormatsTest, CoordinatesBeforeTheirTypeAreHeldWithinABound) {
  std::string many = "{\"coordinates\": [";
  for (size_t i = 0; i <= kJsonHeldPositionsMax; ++i) many += i ? ",[1,2]" : "[1,2]";
  many += "], \"type\": \"LineString\"}";
  ImportReport report = Import({"many.json", many, {}}, "store");
  EXPECT_TRUE(report.readError);
  EXPECT_NE(report.readErrorText.find("\"type\" comes after more than 1048576 positions"),
            std::string::npos)
      << report.readErrorText;
  EXPECT_EQ(report.fixes, 0);
  // No type at all: the positions are skipped, and nothing is found.
  report = Import({"untyped.json", "{\"coordinates\": [[1, 2], [3, 4]]}", {}}, "store");
  EXPECT_EQ(report.skipped, 2);
  EXPECT_NE(report.readErrorText.find("no location history or GeoJSON"), std::string::npos);
}

// A FIT file's positions wait for its CRC; the byte of a damage is named.
TEST_F(TrackFormatsTest, FitPositionsWaitForTheFileCrcAndTheBadByteIsNamed) {
  const std::vector<Degrees> track = GeneratedTrack(3, 10);
  std::vector<int32_t> first, second;
  std::vector<Degrees> firstRecorded;
  for (size_t i = 0; i < track.size(); ++i) {
    const int32_t lat = int32_t(std::llround(track[i].lat * (2147483648.0 / 180)));
    const int32_t lon = int32_t(std::llround(track[i].lon * (2147483648.0 / 180)));
    (i < 4 ? first : second).insert((i < 4 ? first : second).end(), {lat, lon});
    if (i < 4) firstRecorded.push_back({SemicirclesToDegrees(lat), SemicirclesToDegrees(lon)});
  }
  const std::string good = testing::FitFile(first);
  // The second file with one bit of its first record's latitude changed:
  // the header (14 bytes) and definitions (45), the record header and time.
  std::string changed = testing::FitFile(second);
  changed[14 + 45 + 5 + 1] ^= 0x01;
  // The first file with a byte order of 7 in its record definition.
  std::string order = good;
  order[14 + 11 + 2] = 7;
  struct Case {
    std::string bytes;
    long long fixes;
    std::string error;
  };
  const Case cases[] = {
      {good + changed, 4, "the file's CRC is wrong; none of its 6 positions were recorded"},
      {order, 0, "at byte 27: a definition of unknown byte order (7, not 0 or 1)"},
  };
  for (const Case& c : cases) {
    const ImportReport report = Import({"ride.fit", c.bytes, {}}, "store");
    EXPECT_EQ(report.fixes, c.fixes) << c.error;
    EXPECT_NE(report.readErrorText.find(c.error), std::string::npos) << report.readErrorText;
  }
  Import({"ride.fit", good + changed, {}}, "store");
  EXPECT_TRUE(FilesBelow("store/RGD") == Direct(firstRecorded));
}

TEST(PositionTextTest, ReadsDegreeAndGeoUriForms) {
  const std::pair<const char*, std::optional<std::pair<double, double>>> cases[] = {
      {"35.6812345\xc2\xb0, 139.7671234\xc2\xb0", std::pair{35.6812345, 139.7671234}},
      {"-33.5\xc2\xb0,-70.25\xc2\xb0", std::pair{-33.5, -70.25}},
      {"geo:35.68,139.76", std::pair{35.68, 139.76}},
      {"geo:35.68,139.76,12;u=35", std::pair{35.68, 139.76}},
      {"35.68, 139.76", std::nullopt},  // no degree sign: not said to be a position
      {"geo:95,10", std::nullopt},
      {"geo:1,x", std::nullopt},
      {"2024-05-01T10:00:00Z", std::nullopt},
  };
  for (const auto& [text, position] : cases) EXPECT_EQ(ParsePositionText(text), position) << text;
}

TEST(IsoTimeTest, ReadsZonesAndFractions) {
  const std::pair<const char*, std::optional<double>> cases[] = {
      {"1970-01-01T00:00:00Z", 0.0},
      {"2024-05-01T10:00:00.250Z", 1714557600.25},
      {"2024-05-01T19:00:00+09:00", 1714557600.0},
      {"2024-05-01T05:30:00-0430", 1714557600.0},
      {"2024-02-29 10:00:00", 1709200800.0},
      {"2023-02-29T10:00:00Z", std::nullopt},
      {"2024-05-01T24:00:00Z", std::nullopt},
      {"2024-05-01", std::nullopt},
      {"2024-05-01T10:00:00Zx", std::nullopt},
  };
  for (const auto& [text, seconds] : cases) EXPECT_EQ(ParseIsoTime(text), seconds) << text;
}

}  // namespace
}  // namespace roamgrid
