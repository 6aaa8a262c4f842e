// libzip for the KMZ reader and writer, from its plugin
// (libroamgrid-zip.so, see zip/zip_plugin_api.h), loaded the first time a
// zip archive is opened or written: runs that touch no archive start
// without libzip and the crypto library below it.
#pragma once

#include <string>
#include <vector>

#include "zip/zip_plugin_api.h"

namespace roamgrid {

// libzip's functions, loading the plugin the first time. Null, with
// *error saying why in one sentence, when the plugin cannot be loaded.
const RoamgridZipPlugin* ZipLibrary(std::string* error);

// Whether the plugin is loaded in this process, asked without loading it.
bool ZipPluginLoaded();
// Where the plugin is looked for (see common/plugin_library.h).
std::vector<std::string> ZipPluginCandidates();

}  // namespace roamgrid
