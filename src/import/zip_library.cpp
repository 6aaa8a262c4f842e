#include "import/zip_library.h"

#include "common/plugin_library.h"

namespace roamgrid {

namespace {

constexpr char kPluginFileName[] = "libroamgrid-zip.so";

}  // namespace

const RoamgridZipPlugin* ZipLibrary(std::string* error) {
  // Loaded at most once per process and never unloaded.
  static const LoadedPlugin<RoamgridZipPlugin> loaded = LoadPlugin<RoamgridZipPlugin>(
      kPluginFileName, ROAMGRID_ZIP_PLUGIN_SYMBOL, ROAMGRID_ZIP_PLUGIN_ABI, "the zip library");
  if (!loaded.table && error) *error = loaded.error;
  return loaded.table;
}

bool ZipPluginLoaded() { return PluginLoaded(kPluginFileName); }

std::vector<std::string> ZipPluginCandidates() { return PluginCandidates(kPluginFileName); }

}  // namespace roamgrid
