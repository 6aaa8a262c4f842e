// The floors and inputs of the track-format import benchmark
// (bench/run_track_bench.sh):
//   roamgrid_track_floor sax FILE         a bare RapidJSON SAX parse (the
//                                         flags the importer uses, a handler
//                                         that does nothing), in 64 KiB blocks
//   roamgrid_track_floor read FILE        a plain read in 64 KiB blocks
//   roamgrid_track_floor records FILE MB  writes a Records.json of about MB
//   roamgrid_track_floor fit FILE MB      writes FIT files one after another
#include <fcntl.h>
#include <unistd.h>

#include <rapidjson/filereadstream.h>
#include <rapidjson/reader.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "support/fit_file.h"

namespace {

constexpr size_t kBlock = size_t(64) << 10;

int Sax(const char* path) {
  FILE* file = std::fopen(path, "rb");
  if (!file) return 1;
  std::vector<char> buffer(kBlock);
  rapidjson::FileReadStream stream(file, buffer.data(), buffer.size());
  rapidjson::BaseReaderHandler<> handler;
  rapidjson::Reader reader;
  // The importer's flags: numbers are handed over as text.
  constexpr unsigned kFlags =
      rapidjson::kParseStopWhenDoneFlag | rapidjson::kParseNumbersAsStringsFlag;
  const bool ok = reader.Parse<kFlags>(stream, handler);
  std::fclose(file);
  std::printf("%s\n", ok ? "parsed" : "error");
  return ok ? 0 : 1;
}

int Read(const char* path) {
  const int fd = open(path, O_RDONLY);
  if (fd < 0) return 1;
  std::vector<char> buffer(kBlock);
  long long total = 0;
  for (ssize_t got; (got = read(fd, buffer.data(), buffer.size())) > 0;) total += got;
  close(fd);
  std::printf("%lld bytes\n", total);
  return 0;
}

std::string Number(long long value) {
  char text[24];
  return std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
}

// A walk around Tokyo as a phone records it: about 180 bytes a location.
int Records(const char* path, long long megabytes) {
  FILE* file = std::fopen(path, "wb");
  if (!file) return 1;
  std::mt19937 random(5);
  std::uniform_int_distribution<int> step(-40, 60);
  std::uniform_int_distribution<int> accuracy(3, 70);
  long long lat = 356600000, lon = 1397600000, written = 0, time = 1500000000000;
  std::fputs("{\n  \"locations\": [", file);
  for (long long n = 0; written < (megabytes << 20); ++n) {
    lat += step(random);
    lon += step(random);
    time += 15000;
    const std::string location =
        std::string(n ? ", " : "") + "{\n    \"latitudeE7\": " + Number(lat) +
        ",\n    \"longitudeE7\": " + Number(lon) + ",\n    \"accuracy\": " +
        Number(accuracy(random)) + ",\n    \"source\": \"WIFI\",\n    \"timestampMs\": \"" +
        Number(time) + "\"\n  }";
    std::fwrite(location.data(), 1, location.size(), file);
    written += (long long)location.size();
  }
  std::fputs("]\n}\n", file);
  return std::fclose(file) == 0 ? 0 : 1;
}

int Fit(const char* path, long long megabytes) {
  FILE* file = std::fopen(path, "wb");
  if (!file) return 1;
  std::mt19937 random(6);
  std::uniform_int_distribution<int> step(-400, 600);
  int32_t lat = 425000000, lon = 1667000000;
  long long written = 0;
  while (written < (megabytes << 20)) {
    std::vector<int32_t> semicircles;
    for (int i = 0; i < 20000; ++i) {
      semicircles.push_back(lat += step(random));
      semicircles.push_back(lon += step(random));
    }
    const std::string bytes = roamgrid::testing::FitFile(semicircles);
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    written += (long long)bytes.size();
  }
  return std::fclose(file) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 2 ? argv[1] : "";
  if (mode == "sax") return Sax(argv[2]);
  if (mode == "read") return Read(argv[2]);
  if (mode == "records" && argc > 3) return Records(argv[2], std::atoll(argv[3]));
  if (mode == "fit" && argc > 3) return Fit(argv[2], std::atoll(argv[3]));
  std::fprintf(stderr, "usage: roamgrid_track_floor sax|read FILE | records|fit FILE MB\n");
  return 2;
}
