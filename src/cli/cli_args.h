// The command line of roamgrid-cli: what the arguments ask for, read
// without touching any file (cli_args.cpp), and the help texts
// (cli_help.cpp). Numbers are read
// independently of the process locale, and an argument with anything after
// its number is refused.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/store_folder.h"
#include "import/import_defaults.h"

namespace roamgrid {

enum class CliCommand { kNone, kImport, kExport, kStats, kCheck, kMerge, kPlaces, kServe };

// Where `serve` listens unless told otherwise.
inline constexpr char kServeDefaultBind[] = "127.0.0.1";
constexpr int kServeDefaultPort = 8745;

// What export does with a file that exists already.
enum class ExistingFileMode {
  kRefuse,     // an existing file is an error
  kOverwrite,  // --overwrite: a fresh image replaces it
  kMerge,      // --merge: the raster is merged into it
};

// A point of the grid in grid units (1/400 degree).
struct GridPoint {
  int32_t lat = 0;
  int32_t lon = 0;
  bool operator==(const GridPoint&) const = default;
};

// A centre as typed, in degrees: the two texts (kept for the Jump rule,
// which reads them itself) and their values.
struct DegreeText {
  std::string latText;
  std::string lonText;
  double lat = 0.0;
  double lon = 0.0;
  bool operator==(const DegreeText&) const = default;
};

// A box in decimal degrees as --bbox gives it: south, west, north, east.
struct DegreeBox {
  double south = 0.0, west = 0.0, north = 0.0, east = 0.0;
  bool operator==(const DegreeBox&) const = default;
};

// What is drawn under the marks of a PNG export.
enum class ExportBackground { kNone, kCoast };

struct CliArgs {
  StoreFolderRequest store;  // -C DIR or --user-store, entered before the command
  CliCommand command = CliCommand::kNone;
  bool help = false;     // --help: of the program, or of `command` when one is given
  bool version = false;  // --version

  // import
  std::vector<std::string> logs;  // "-": standard input
  bool anyTalker = false;
  bool strict = false;  // --strict: only GGA lines with a right checksum and a fix
  int connectMetres = 0;  // --connect[=METRES]: kDefaultConnectMetres without a value; 0 off
  int maxSpeedKmh = 0;    // --max-speed KMH; 0 off
  // --max-accuracy METRES: positions stated less accurate are skipped; 0 no limit.
  std::optional<double> maxAccuracyM;

  // export
  std::optional<GridPoint> origin;   // --origin LAT,LON
  std::optional<DegreeText> center;  // --center DLAT,DLON
  std::optional<int32_t> zoom;       // --zoom Z, 0..7
  std::optional<DegreeBox> bbox;     // --bbox S,W,N,E
  ExportBackground background = ExportBackground::kNone;  // --background none|coast
  bool backgroundGiven = false;
  bool transparent = false;  // --transparent
  ExistingFileMode existing = ExistingFileMode::kRefuse;
  std::optional<std::string> file;  // FILE; none: the proposed name

  // map tiles (export --tiles / --web)
  std::optional<std::string> tiles;  // --tiles DIR|FILE.mbtiles
  std::optional<std::string> web;    // --web DIR
  // --zoom A-B (or one zoom) of the map tiles, 0..22; with --tiles and --web
  std::optional<std::pair<int32_t, int32_t>> tileZooms;
  std::optional<uint32_t> color;  // --color RRGGBB: 0xRRGGBB (also serve)
  // export --web: --base-map URL|none (default: the desktop program's tile
  // source) and --attribution TEXT of a --base-map URL
  std::optional<std::string> baseMap;
  std::optional<std::string> attribution;

  // serve
  std::optional<int32_t> port;      // --port N, 0..65535 (0: any free port)
  std::optional<std::string> bind;  // --bind ADDRESS

  // check
  bool clean = false;  // --clean: remove abandoned temporary files
  bool foldConflicts = false;  // --fold-conflicts: OR conflict copies into their tiles

  // merge
  std::vector<std::string> stores;  // STORE...: folders that hold RGD/

  // explorer tiles (stats, export)
  std::vector<int32_t> explorerZooms;  // stats --explorer Z,...; export --explorer Z (one)
  bool missing = false;                // export --missing: the unexplored tiles in --bbox

  // places (and export --places)
  std::string placesBy;                   // --by country|state|continent; empty: country
  std::string placesFormat;               // --format text|csv|json; empty: text
  std::optional<std::string> placesFile;  // export --places FILE (.geojson, .json or .csv)
};

// The outcome of reading the arguments: the request, or one line naming
// what is wrong (a usage error).
struct CliParse {
  CliArgs args;
  std::string error;
  bool ok() const { return error.empty(); }
};

// Reads the arguments after the program name.
CliParse ParseCliArgs(const std::vector<std::string>& arguments);

// The help text of the program (kNone) or of one subcommand.
std::string CliHelpText(CliCommand command);

// Strict conversions of a whole argument, independent of the locale:
// nothing may stand before or after the number.
//   ParseWholeInt32: optional sign, decimal digits, within int32.
//   ParseWholeDouble: a finite decimal number as strtod reads it (no
//   hexadecimal, infinity or NaN).
std::optional<int32_t> ParseWholeInt32(const std::string& text);
std::optional<double> ParseWholeDouble(const std::string& text);

}  // namespace roamgrid
