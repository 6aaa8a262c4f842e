// roamgrid-cli's commands: each reads its arguments (already parsed), calls
// the core and reports on `out` (results) and `err` (one line per error).
// They return the exit status: 0 success, 1 failure, 2 usage error.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli_args.h"
#include "export/map_tiles_export.h"

namespace roamgrid {

class MarksMap;

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// The whole program: parses `arguments` (those after the program name),
// changes to the -C directories and runs the command.
int RunCli(const std::vector<std::string>& arguments, std::FILE* out, std::FILE* err);

// The commands, run in the working directory.
int RunImport(const CliArgs& args, std::FILE* out, std::FILE* err);
int RunExport(const CliArgs& args, std::FILE* out, std::FILE* err);
int RunStats(const CliArgs& args, std::FILE* out, std::FILE* err);
int RunCheck(const CliArgs& args, std::FILE* out, std::FILE* err);
int RunMerge(const CliArgs& args, std::FILE* out, std::FILE* err);
int RunServe(const CliArgs& args, std::FILE* out, std::FILE* err);
// export --tiles and export --web (RunExport passes them on).
int RunTilesExport(const CliArgs& args, std::FILE* out, std::FILE* err);
int RunWebExport(const CliArgs& args, std::FILE* out, std::FILE* err);

// The map tiles `args` ask for (--zoom A-B, --bbox, --color) into `path`.
MapTilesRequest TilesRequestOf(const CliArgs& args, const std::string& path);
// Writes them from `map` with a progress line on a terminal; on success
// says "<path>: <N> tiles" on `out`, else one line on `err`.
int WriteMapTiles(MarksMap& map, const MapTilesRequest& request, std::FILE* out, std::FILE* err);

}  // namespace roamgrid
