// Shared pieces of the fuzz targets: a private scratch folder made the
// working directory (the store and the home file live relative to it), raw
// file access for the harness itself, and a check that stops the fuzzer
// with a message when a promise of the code under test is broken.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace roamgrid::fuzz {

// Stops the run: libFuzzer keeps the input that got here as a crash.
#define FUZZ_CHECK(condition)                                                            \
  do {                                                                                   \
    if (!(condition)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                      \
    }                                                                                    \
  } while (0)

// Makes a fresh folder (in memory where /dev/shm exists) the working
// directory for the whole run and removes it at exit.
inline void EnterScratchDirectory() {
  static std::filesystem::path dir;
  if (!dir.empty()) return;
  std::filesystem::path base = std::filesystem::exists("/dev/shm")
                                   ? std::filesystem::path("/dev/shm")
                                   : std::filesystem::temp_directory_path();
  std::string pattern = (base / "roamgrid-fuzz-XXXXXX").string();
  if (!mkdtemp(pattern.data())) std::abort();
  dir = pattern;
  std::filesystem::current_path(dir);
  std::atexit([] {
    std::error_code ignored;
    std::filesystem::current_path("/", ignored);
    std::filesystem::remove_all(dir, ignored);
  });
}

inline void WriteRaw(const std::string& path, const uint8_t* data, size_t size) {
  FILE* file = std::fopen(path.c_str(), "wb");
  FUZZ_CHECK(file != nullptr);
  if (size) FUZZ_CHECK(std::fwrite(data, 1, size, file) == size);
  FUZZ_CHECK(std::fclose(file) == 0);
}

inline std::vector<uint8_t> ReadRaw(const std::string& path) {
  std::vector<uint8_t> out;
  FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return out;
  std::fseek(file, 0, SEEK_END);
  const long size = std::ftell(file);
  std::fseek(file, 0, SEEK_SET);
  out.resize(size > 0 ? size_t(size) : 0);
  out.resize(std::fread(out.data(), 1, out.size(), file));
  std::fclose(file);
  return out;
}

// Names of the entries of `dir` (empty when it is missing).
inline std::vector<std::string> Entries(const std::string& dir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(dir, ec))
    names.push_back(entry.path().filename().string());
  return names;
}

}  // namespace roamgrid::fuzz
