// Plugins: shared libraries that carry a heavy library (netCDF, libtiff
// with libgeotiff) for the few commands that need it, so that the
// programs start without it. Each plugin exports one C function that hands
// the core a table of functions; it is loaded with dlopen the first time
// it is needed, at most once per process, and never unloaded.
//
// A plugin is looked for beside the running program as installed
// (../lib/<arch>/roamgrid/ from its bin/ folder; the build tree has the
// same layout), then in the folder it is installed to: never through a
// search path, never in the working directory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace roamgrid {

// The paths where the plugin file `fileName` (e.g. "libroamgrid-netcdf.so")
// is looked for, in order; all absolute.
std::vector<std::string> PluginCandidates(const std::string& fileName);

// Whether the plugin `fileName` is loaded in this process, asked without
// loading it.
bool PluginLoaded(const std::string& fileName);

// The first candidate of `fileName` that exists, opened, and its exported
// `symbol` (null when it lacks it). On failure `handle` is null and `error`
// says why in one sentence naming the plugin as `what` ("the GeoTIFF
// writer"): not installed (with the paths looked at), or not loadable.
struct PluginSymbol {
  void* handle = nullptr;
  void* symbol = nullptr;
  std::string path;
  std::string error;
};
PluginSymbol OpenPluginSymbol(const std::string& fileName, const char* symbol,
                              const std::string& what);
// Unloads a plugin whose table was refused.
void ClosePlugin(void* handle);
// Why a plugin found at `path` was refused: its table is missing, of
// another number or shorter than the core's.
std::string ForeignPluginError(const std::string& what, const std::string& path);

// A loaded plugin's table, or why there is none.
template <typename Table>
struct LoadedPlugin {
  const Table* table = nullptr;
  std::string error;
};

// Loads the plugin `fileName` and asks its entry `symbol`, a function
// `const Table* (uint32_t abi)`, for its table of number `abi`. The table
// must begin with the fields `uint32_t abi` and `uint32_t size`; one of
// another number or smaller than the core's Table is refused (a leftover
// of an older installation) and the plugin unloaded.
template <typename Table>
LoadedPlugin<Table> LoadPlugin(const std::string& fileName, const char* symbol, uint32_t abi,
                               const std::string& what) {
  using Entry = const Table* (*)(uint32_t);
  const PluginSymbol found = OpenPluginSymbol(fileName, symbol, what);
  if (!found.handle) return {nullptr, found.error};
  const Table* table = found.symbol ? reinterpret_cast<Entry>(found.symbol)(abi) : nullptr;
  if (!table || table->abi != abi || table->size < sizeof(Table)) {
    ClosePlugin(found.handle);
    return {nullptr, ForeignPluginError(what, found.path)};
  }
  return {table, {}};
}

}  // namespace roamgrid
