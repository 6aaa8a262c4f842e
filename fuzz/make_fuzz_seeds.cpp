// Writes a small seed corpus for each fuzz target, made with the system's
// own writers, into OUTDIR/<target>/:
//   make_fuzz_seeds OUTDIR
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "common/byte_io.h"
#include "common/number_text.h"
#include "common/safe_file.h"
#include "export/bmp_file.h"
#include "geo/gshhg_store.h"
#include "geo/netcdf_file.h"
#include "geo/region_index.h"
#include "home/home_config.h"
#include "map/overview.h"
#include "map/overview_cache.h"
#include "support/dcw_fixture.h"
#include "support/fit_file.h"
#include "support/gzip_member.h"
#include "support/synthetic_gshhg.h"
#include "tiles/tile_file.h"

namespace roamgrid {
namespace {

namespace fs = std::filesystem;

void WriteSeed(const fs::path& dir, const std::string& name, const std::vector<uint8_t>& bytes) {
  fs::create_directories(dir);
  FILE* file = std::fopen((dir / name).c_str(), "wb");
  if (!file) {
    std::perror((dir / name).c_str());
    std::exit(1);
  }
  if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::fclose(file);
}

void WriteSeed(const fs::path& dir, const std::string& name, const std::string& text) {
  WriteSeed(dir, name, std::vector<uint8_t>(text.begin(), text.end()));
}

// Tile files: the canonical encodings of a few tiles, and damaged ones.
void TileSeeds(const fs::path& dir) {
  auto cells = std::make_unique<uint8_t[]>(kCellCount);
  WriteSeed(dir, "empty", EncodeTile(0, 0, cells.get()));
  cells[0] = 1;
  WriteSeed(dir, "first-cell", EncodeTile(0, 0x01, cells.get()));
  cells[kCellCount - 1] = 1;
  cells[448 * 896 + 300] = 1;
  const std::vector<uint8_t> corners = EncodeTile(0x82, 0x01, cells.get());
  WriteSeed(dir, "corners", corners);
  // A short diagonal track with some dense groups.
  for (int i = 0; i < 200; ++i) cells[(100 + i) * 896 + 50 + i] = 1;
  for (int i = 0; i < 21; ++i) cells[600 * 896 + 700 + i] = 1;
  WriteSeed(dir, "track", EncodeTile(0x44, 0x11, cells.get()));
  // The longest file, every group a literal, and the same with bytes after
  // the last group.
  for (int i = 0; i < kCellCount; i += kCellsPerGroup) cells[i + (i / 7) % 7] = 1;
  std::vector<uint8_t> dense = EncodeTile(0xFF, 0xFF, cells.get());
  WriteSeed(dir, "dense", dense);
  dense.insert(dense.end(), 300, 0x40);
  WriteSeed(dir, "dense-tail", dense);
  // Damaged: cut in the stream, header only, a foreign format byte, and a
  // final run reaching two groups past the end.
  WriteSeed(dir, "cut", std::vector<uint8_t>(corners.begin(), corners.begin() + 400));
  WriteSeed(dir, "header-only", std::vector<uint8_t>{0x00, 0x12, 0x34});
  std::vector<uint8_t> foreign = corners;
  foreign[0] = 0x01;
  WriteSeed(dir, "foreign", foreign);
  std::vector<uint8_t> overrun = EncodeTile(0, 0, std::make_unique<uint8_t[]>(kCellCount).get());
  overrun.back() = 0x81;
  WriteSeed(dir, "overrun", overrun);
}

std::vector<uint8_t> ReadSeed(const fs::path& path) {
  std::vector<uint8_t> out;
  FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return out;
  uint8_t chunk[65536];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
    out.insert(out.end(), chunk, chunk + got);
  std::fclose(file);
  return out;
}

// ddmm.mmmm (dddmm.mmmm) of |degrees| and its hemisphere letter.
std::string NmeaField(double degrees, int degreeDigits, char positive, char negative) {
  const double magnitude = degrees < 0 ? -degrees : degrees;
  const int whole = int(magnitude);
  const double value = whole * 100.0 + (magnitude - whole) * 60.0;
  return FormatFixed(value, degreeDigits + 7, 4, true) + "," + (degrees < 0 ? negative : positive);
}

std::string GgaLine(double lat, double lon, const char* talker = "GP") {
  return std::string("$") + talker + "GGA,123519," + NmeaField(lat, 2, 'N', 'S') + "," +
         NmeaField(lon, 3, 'E', 'W') + ",1,08,0.9,545.4,M,46.9,M,,*47";
}

// NMEA logs: a track over several tiles in both hemispheres, line ends LF
// and CR LF, other sentences, a fix-less GGA line and an overlong line.
void NmeaSeeds(const fs::path& dir) {
  std::string track;
  for (int i = 0; i < 40; ++i) track += GgaLine(35.64 + i * 0.004, 139.74 + i * 0.003) + "\n";
  WriteSeed(dir, "track", track);
  std::string south;
  for (int i = 0; i < 10; ++i) south += GgaLine(-0.02 + i * 0.004, -0.03 + i * 0.006) + "\r\n";
  WriteSeed(dir, "equator-crlf", south);
  WriteSeed(dir, "mixed",
            "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A\n" +
                GgaLine(48.1173, 11.5167, "GN") + "\n$GPGGA,123520,,,,,0,00,,,M,,M,,*66\n" +
                GgaLine(-33.8568, 151.2153) + "\n" + GgaLine(179.999, -179.999));
  WriteSeed(dir, "long-line", std::string(1020, 'x') + GgaLine(35.65, 139.75) + "\n");
}

// GPX documents (after one byte that chooses the reader's block size): a
// track, route points and waypoints, a prefix on names, bad points, an
// internal entity, malformed XML.
std::vector<std::string> GpxDocuments() {
  std::string track = "<trk><trkseg>";
  for (int i = 0; i < 20; ++i)
    track += "<trkpt lat=\"" + FormatFixed(35.64 + i * 0.004, 0, 6) + "\" lon=\"" +
             FormatFixed(139.74 + i * 0.003, 0, 6) + "\"><ele>5.0</ele></trkpt>\n";
  track += "</trkseg></trk>";
  return {
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<gpx version=\"1.1\" "
      "xmlns=\"http://www.topografix.com/GPX/1/1\">\n<wpt lat=\"1\" lon=\"2\"/>"
      "<rte><rtept lat=\"3\" lon=\"4\"/></rte>\n" +
          track + "</gpx>\n",
      "<g:gpx xmlns:g=\"http://www.topografix.com/GPX/1/0\"><g:trk><g:trkseg>"
      "<g:trkpt lat=' -0.01 ' lon='-1e-05'/><g:trkpt lat='x' lon='1'/><g:trkpt lon='2'/>"
      "</g:trkseg></g:trk></g:gpx>",
      "<?xml version=\"1.0\"?><!DOCTYPE gpx [<!ENTITY p \"<trkpt lat='35.6' lon='139.7'/>\">]>"
      "<gpx><trk><trkseg>&p;&p;</trkseg></trk></gpx>",
      "<gpx><trk><trkseg>" + track.substr(0, 200) + "</trk>\n</gpx>",
  };
}

void GpxSeeds(const fs::path& dir) {
  int n = 0;
  for (const std::string& document : GpxDocuments()) {
    ++n;
    WriteSeed(dir, "gpx-" + std::to_string(n), char(n * 13) + document);
  }
}

// Compressed logs: NMEA and GPX in one member, several members, zero
// padding, a cut stream, and gzip inside gzip.
void GzipSeeds(const fs::path& dir) {
  std::string track;
  for (int i = 0; i < 40; ++i) track += GgaLine(35.64 + i * 0.004, 139.74 + i * 0.003) + "\r\n";
  const std::string packed = testing::Gzip(track);
  WriteSeed(dir, "nmea", packed);
  WriteSeed(dir, "gpx", testing::Gzip(GpxDocuments()[0]));
  WriteSeed(dir, "members",
            testing::Gzip(track.substr(0, 333)) + testing::Gzip(track.substr(333)) +
                std::string(4, '\0'));
  WriteSeed(dir, "cut", packed.substr(0, packed.size() / 2));
  WriteSeed(dir, "nested", testing::Gzip(packed));
}

// JSON logs (after one byte that chooses the reader's block size): each
// location history and GeoJSON form, coarse points, a polygon, a cut text,
// members in sorted order, numbers longer than a double holds.
void JsonSeeds(const fs::path& dir) {
  const std::string degree = "\xc2\xb0";
  const std::string documents[] = {
      "{\"locations\": [{\"latitudeE7\": 356600000, \"longitudeE7\": 1397600000, "
      "\"accuracy\": 10, \"timestamp\": \"2024-05-01T10:00:00.5Z\"}, {\"latitudeE7\": "
      "356610000, \"longitudeE7\": 1397610000, \"accuracy\": 900, \"timestampMs\": \"1\"}]}",
      "{\"timelineObjects\": [{\"activitySegment\": {\"startLocation\": {\"latitudeE7\": 1, "
      "\"longitudeE7\": 2}, \"waypointPath\": {\"waypoints\": [{\"latE7\": 356600000, "
      "\"lngE7\": 1397600000}]}, \"simplifiedRawPath\": {\"points\": [{\"latE7\": 3, "
      "\"lngE7\": 4, \"accuracyMeters\": 8}]}}}, {\"placeVisit\": {\"location\": "
      "{\"latitudeE7\": 5, \"longitudeE7\": 6}, \"otherCandidateLocations\": "
      "[{\"latitudeE7\": 7, \"longitudeE7\": 8}]}}]}",
      "{\"semanticSegments\": [{\"startTime\": \"2024-05-01T10:00:00+09:00\", "
      "\"timelinePath\": [{\"point\": \"35.66" + degree + ", 139.76" + degree +
          "\", \"time\": \"2024-05-01T10:00:00Z\"}]}], \"rawSignals\": [{\"position\": "
          "{\"LatLng\": \"35.67" + degree + ", 139.77" + degree +
          "\", \"accuracyMeters\": 13}}]}",
      "[{\"startTime\": \"2024-05-01T10:00:00.000+09:00\", \"timelinePath\": [{\"point\": "
      "\"geo:35.66,139.76\", \"durationMinutesOffsetFromStartTime\": \"3\"}]}, {\"activity\": "
      "{\"start\": \"geo:35.6,139.7\", \"end\": \"geo:35.7,139.8\"}}]",
      "{\"type\": \"FeatureCollection\", \"features\": [{\"type\": \"Feature\", "
      "\"geometry\": {\"type\": \"MultiLineString\", \"coordinates\": [[[139.76, 35.66], "
      "[139.77, 35.67, 5]]]}}, {\"type\": \"Feature\", \"geometry\": {\"type\": \"Point\", "
      "\"coordinates\": [139.7, 35.6]}, \"properties\": {\"track_fid\": 0}}]}",
      "\x1e{\"type\": \"Feature\", \"geometry\": {\"type\": \"LineString\", \"coordinates\": "
      "[[1, 2], [3, 4]]}}\n\x1e{\"type\": \"Polygon\", \"coordinates\": [[[0, 0]]]}\n",
      "{\"locations\": [{\"latitudeE7\": 356600000, \"longitudeE7\": 13976",
      "{\"features\": [{\"geometry\": {\"coordinates\": [[139.76, 35.66], [139.77, 35.67]], "
      "\"type\": \"LineString\"}, \"type\": \"Feature\"}, {\"geometry\": {\"coordinates\": "
      "[139.7, 35.6], \"type\": \"Point\"}, \"properties\": {\"track_fid\": 0}, \"type\": "
      "\"Feature\"}, {\"geometry\": {\"coordinates\": [[[0, 0], [1, 1], [0, 0]]], \"type\": "
      "\"Polygon\"}}], \"type\": \"FeatureCollection\"}",
      "[1.0000000000000000001e-330]",
      "{\"locations\": [{\"latitudeE7\": 356600000, \"longitudeE7\": 1397600000}, "
      "{\"latitudeE7\": 0." +
          std::string(360, '0') + "1, \"longitudeE7\": 1e400}]}",
      "{\"type\": \"LineString\", \"coordinates\": [[139.7600000000000000000000000000001, "
      "35.66000000000000000000000000000000000000000000001e0]]}",
  };
  int n = 0;
  for (const std::string& document : documents) {
    ++n;
    WriteSeed(dir, "json-" + std::to_string(n), char(n * 13) + document);
  }
}

// FIT files (after one byte that chooses the reader's block size): two
// files one after another, one cut, one with a wrong CRC.
void FitSeeds(const fs::path& dir) {
  std::vector<int32_t> semicircles;
  for (int i = 0; i < 12; ++i) {
    semicircles.push_back(425000000 + i * 5000);
    semicircles.push_back(1667000000 + i * 7000);
  }
  const std::string file = testing::FitFile(semicircles);
  WriteSeed(dir, "fit-chained", char(7) + file + file);
  WriteSeed(dir, "fit-cut", char(20) + file.substr(0, file.size() / 2));
  std::string wrong = file;
  wrong.back() ^= 1;
  WriteSeed(dir, "fit-crc", char(33) + wrong);
}

// Home files as the writer makes them, and a few hand-edited forms.
void HomeSeeds(const fs::path& dir) {
  fs::create_directories(dir);
  const HomePosition homes[] = {
      {14260, 55900, 1}, {-14200, -29600, 2}, {14263, 55907, 0}, {2147483640, -2147483640, 7}};
  int n = 0;
  for (const HomePosition& home : homes) {
    if (!WriteHomeConfig(home, (dir / ("written-" + std::to_string(n++))).string())) std::exit(1);
  }
  WriteSeed(dir, "edited", "# home\nSKP: 3\nLAT: -27 text\n#\nLON: 900\nLAT: 40");
}

// Images: a whole exported image, cut ones and one with a foreign header.
void BmpSeeds(const fs::path& dir) {
  fs::create_directories(dir);
  std::vector<uint8_t> raster(kRasterSize, 0);
  for (int i = 0; i < kRasterSide; ++i) raster[i * kRasterSide + i] = 1;
  const fs::path whole = dir / "whole";
  if (WriteNewImage(whole.string(), raster.data()) != ImageWriteResult::kWritten) std::exit(1);
  const std::vector<uint8_t> image = ReadSeed(whole);
  for (size_t cut : {size_t(54), size_t(55), size_t(56), size_t(54 + 3 * 500)})
    WriteSeed(dir, "cut-" + std::to_string(cut),
              std::vector<uint8_t>(image.begin(), image.begin() + cut));
  std::vector<uint8_t> coloured(image.begin(), image.begin() + 54 + 3 * 64);
  for (size_t i = 54; i < coloured.size(); i += 7) coloured[i] = 0x12;
  WriteSeed(dir, "coloured", coloured);
  std::vector<uint8_t> foreign(image.begin(), image.begin() + 54 + 30);
  foreign[38] = 0x13;  // a horizontal resolution
  WriteSeed(dir, "foreign", foreign);
}

// A fuzz_gshhg_bins input: the head's length and the file's size, the
// head, then the variables.
std::vector<uint8_t> GshhgInput(const std::vector<uint8_t>& head, uint32_t fileBytes,
                                const testing::MemoryNetcdfFile& file) {
  std::vector<uint8_t> bytes = {uint8_t(head.size()), uint8_t(head.size() >> 8)};
  for (int at = 0; at < 4; ++at) bytes.push_back(uint8_t(fileBytes >> (8 * at)));
  bytes.insert(bytes.end(), head.begin(), head.end());
  const std::vector<uint8_t> variables = file.Bytes();
  bytes.insert(bytes.end(), variables.begin(), variables.end());
  return bytes;
}

// GSHHG shorelines: a copy of the installed crude file (its first bytes,
// its size and every variable the store reads), when there is one, and
// small synthetic files with every kind of segment.
void GshhgSeeds(const fs::path& dir) {
  const std::vector<uint8_t> classic = {'C', 'D', 'F', 1, 0, 0, 0, 0};
  testing::SyntheticBin island;
  island.bin = 4 * 18;
  for (int level = 1; level <= 4; ++level) {
    island.segments.push_back(
        testing::Square(level, uint16_t(8000 * level), uint16_t(65535 - 8000 * level)));
  }
  testing::SyntheticBin coast;
  coast.bin = 4 * 18 + 1;
  coast.corners = {1, 1, 0, 0};
  coast.segments.push_back(
      {1, kGshhgWest, kGshhgEast, {{0, 30000}, {30000, 34000}, {65535, 30000}}});
  coast.segments.push_back({2, kGshhgSouth, kGshhgSouth, {{20000, 0}, {25000, 9000}, {30000, 0}}});
  WriteSeed(dir, "synthetic",
            GshhgInput(classic, 4096, testing::SyntheticShoreFile(1200, {island, coast})));

  const std::string path = std::string(kGshhgFolder) + "/binned_GSHHS_c.nc";
  FILE* raw = std::fopen(path.c_str(), "rb");
  if (!raw) return;
  std::vector<uint8_t> head(kNetcdfHeadBytes);
  head.resize(std::fread(head.data(), 1, head.size(), raw));
  std::fseek(raw, 0, SEEK_END);
  const long fileBytes = std::ftell(raw);
  std::fclose(raw);
  std::string error;
  std::unique_ptr<NetcdfFile> netcdf = OpenNetcdfFile(path, &error);
  if (!netcdf) {
    std::fprintf(stderr, "make_fuzz_seeds: %s: %s\n", path.c_str(), error.c_str());
    return;
  }
  testing::MemoryNetcdfFile copy;
  for (const char* name :
       {"Bin_size_in_minutes", "N_bins_in_360_longitude_range",
        "N_bins_in_180_degree_latitude_range", "Id_of_first_segment_in_a_bin",
        "Embedded_node_levels_in_a_bin", "N_segments_in_a_bin",
        "Embedded_npts_levels_exit_entry_for_a_segment", "Id_of_first_point_in_a_segment",
        "Relative_longitude_from_SW_corner_of_bin", "Relative_latitude_from_SW_corner_of_bin"}) {
    const std::optional<NetcdfVariable> variable = netcdf->FindVariable(name);
    if (!variable || !variable->OneDimensional()) return;
    std::vector<int32_t> values(variable->shape[0]);
    if (!netcdf->Read(*variable, 0, values.size(), values.data())) return;
    copy.Add(name, variable->type, std::vector<int64_t>(values.begin(), values.end()));
  }
  WriteSeed(dir, "binned_GSHHS_c", GshhgInput(head, uint32_t(fileBytes), copy));
}

// Overview cache files of a few tiles, each as a whole file (first byte
// 0) and as its unpacked payload (first byte 1).
void OverviewSeeds(const fs::path& dir) {
  OverviewPyramid overview;
  std::vector<TileRecord> records;
  for (int i = 0; i < 3; ++i) {
    TileRecord record;
    record.latKey = 3500 + 5 * i;
    record.lonKey = 13975;
    record.hash = 1234567u * unsigned(i + 1);
    record.settled = i != 1;
    if (i == 2) record.explorerExtras = {uint64_t{52000} << 32 | 116000};
    records.push_back(record);
    overview.Mark(1819000 / 2 + 40 * i, 806000 / 2 + i);
  }
  overview.UpdateCoarser();
  for (size_t count : {size_t(0), size_t(1), records.size()}) {
    const std::vector<TileRecord> some(records.begin(), records.begin() + long(count));
    const std::vector<uint8_t> file =
        EncodeOverviewCache("/fuzz/RGD", some, count ? overview : OverviewPyramid{});
    std::vector<uint8_t> whole = {0};
    whole.insert(whole.end(), file.begin(), file.end());
    WriteSeed(dir, "file-" + std::to_string(count), whole);
    // The payload: what the header says it unpacks to.
    uLongf size = uLongf(GetLE64(file.data() + 16));
    std::vector<uint8_t> payload(size + 1, 1);
    uncompress(payload.data() + 1, &size, file.data() + 32, uLong(file.size() - 32));
    WriteSeed(dir, "payload-" + std::to_string(count), payload);
  }
}

// Country outlines: one region's arrays (mode 0), an index cache body (mode
// 1) and names lists (mode 2), as fuzz_dcw_outlines reads them.
void DcwSeeds(const fs::path& dir) {
  const auto put = [](std::vector<uint8_t>& bytes, uint64_t value, int n) {
    for (int k = 0; k < n; ++k) bytes.push_back(uint8_t(value >> (8 * k)));
  };
  // Attributes as small numbers: 7 E and 47 N, 1/4096 degree steps.
  const auto outline = [&](const std::vector<std::vector<std::pair<int, int>>>& rings) {
    std::vector<uint8_t> bytes = {0, 0};
    put(bytes, 350, 2);
    put(bytes, 65535, 2);
    put(bytes, 47 * 300, 2);
    put(bytes, 65535, 2);
    for (const auto& ring : rings) {
      put(bytes, 65535, 2);
      put(bytes, 0, 2);
      for (size_t k = 0; k <= ring.size(); ++k) {
        put(bytes, uint64_t(ring[k % ring.size()].first), 2);
        put(bytes, uint64_t(ring[k % ring.size()].second), 2);
      }
    }
    return bytes;
  };
  WriteSeed(dir, "square", outline({{{0, 0}, {400, 0}, {400, 400}, {0, 400}}}));
  WriteSeed(
      dir, "hole",
      outline({{{0, 0}, {900, 0}, {900, 900}, {0, 900}}, {{200, 200}, {300, 200}, {300, 300}}}));
  WriteSeed(dir, "diagonal", outline({{{0, 0}, {5000, 100}, {100, 5000}}}));
  // Raw attributes: a ring round the south pole stored -180..180.
  std::vector<uint8_t> polar = {0, 1};
  for (double value : {-180.0, 180.0, 65534.0 / 360, -80.0, -60.0, 65534.0 / 20}) {
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    put(polar, bits, 8);
  }
  put(polar, 65535, 2);
  put(polar, 0, 2);
  for (int lon = 0; lon <= 36; ++lon) {
    put(polar, uint64_t((lon % 36) * 65534 / 36), 2);
    put(polar, uint64_t(30000 + (lon % 5) * 3000), 2);
  }
  WriteSeed(dir, "polar", polar);

  auto arrays = std::make_unique<testing::FakeDcwArrays>();
  arrays->Add("AA", {testing::Box(7.0, 47.0, 7.22, 47.2)});
  arrays->Add("BB", {{{7.22, 47.0}, {7.42, 47.0}, {7.22, 47.2}}});
  DcwCatalogue catalogue(std::move(arrays), testing::MadeUpNames({"AA", "BB"}), "fuzz");
  RegionIndex index(catalogue, "");
  if (!index.Prepare({{4705, 705}, {4700, 720}, {-100, -100}})) std::exit(1);
  std::vector<uint8_t> body = index.CacheBody();
  body.insert(body.begin(), 1);
  WriteSeed(dir, "cache", body);

  WriteSeed(dir, "names",
            std::string("\x02# list\nEU AA Land A\nAS BB Land, B\n") + '\0' + "AA X Ex\r\n");
}

}  // namespace
}  // namespace roamgrid

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_fuzz_seeds OUTDIR\n");
    return 2;
  }
  const std::filesystem::path out = argv[1];
  roamgrid::TileSeeds(out / "fuzz_tile_load");
  roamgrid::NmeaSeeds(out / "fuzz_nmea_log");
  roamgrid::GpxSeeds(out / "fuzz_gpx_log");
  roamgrid::GzipSeeds(out / "fuzz_gzip_log");
  roamgrid::JsonSeeds(out / "fuzz_json_log");
  roamgrid::FitSeeds(out / "fuzz_fit_log");
  roamgrid::HomeSeeds(out / "fuzz_home_config");
  roamgrid::BmpSeeds(out / "fuzz_bmp_merge");
  roamgrid::GshhgSeeds(out / "fuzz_gshhg_bins");
  roamgrid::OverviewSeeds(out / "fuzz_overview_cache");
  roamgrid::DcwSeeds(out / "fuzz_dcw_outlines");
  return 0;
}
