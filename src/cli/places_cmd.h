// roamgrid-cli places, and export --places: the visited countries, states
// or continents of the store with their cells, area and share, from the
// country outlines of gmt-dcw through the region index (geo/region_index.h).
#pragma once

#include <cstdio>
#include <optional>
#include <string>

#include "cli/cli_args.h"

namespace roamgrid {

// Reads the options of places (--by, --format) and export --places (--by,
// --places FILE): returns true when `name` is one of them, with a usage
// error (or nothing) in `error`.
bool ReadPlacesOption(const std::string& name, const std::string& value, CliArgs& args,
                      std::string& error);
// What export --places needs of the other export options; empty when
// sound.
std::string CheckPlacesExport(const CliArgs& args, bool fileGiven);

int RunPlaces(const CliArgs& args, std::FILE* out, std::FILE* err);
int RunPlacesExport(const CliArgs& args, std::FILE* out, std::FILE* err);

std::string PlacesHelpText();

}  // namespace roamgrid
