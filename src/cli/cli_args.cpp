#include "cli/cli_args.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

#include "common/number_text.h"
#include "tiles/explorer_tiles.h"
#include "view/view_state.h"

namespace roamgrid {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Splits "A,B" at its one comma.
bool SplitPair(const std::string& text, std::string* first, std::string* second) {
  const size_t comma = text.find(',');
  if (comma == std::string::npos || text.find(',', comma + 1) != std::string::npos) return false;
  *first = text.substr(0, comma);
  *second = text.substr(comma + 1);
  return true;
}

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

// Splits "A,B,..." at every comma.
std::vector<std::string> SplitList(const std::string& text) {
  std::vector<std::string> items;
  size_t from = 0;
  for (size_t comma; (comma = text.find(',', from)) != std::string::npos; from = comma + 1)
    items.push_back(text.substr(from, comma - from));
  items.push_back(text.substr(from));
  return items;
}

// Reads the arguments of one subcommand. `at` indexes the first argument
// after the subcommand's name.
class SubcommandReader {
 public:
  SubcommandReader(const std::vector<std::string>& arguments, size_t at, CliArgs& args)
      : arguments_(arguments), at_(at), args_(args) {}

  std::string Read() {
    bool optionsEnded = false;
    std::vector<std::string> positional;
    while (at_ < arguments_.size()) {
      const std::string& argument = arguments_[at_++];
      if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
        positional.push_back(argument);
        continue;
      }
      if (argument == "--") {
        optionsEnded = true;
        continue;
      }
      std::string error = ReadOption(argument);
      if (!error.empty()) return error;
    }
    return TakePositional(positional);
  }

 private:
  // Splits "--name=value" into its name and value; other options have none.
  static std::string OptionName(const std::string& argument, std::optional<std::string>* value) {
    const size_t equals = argument.find('=');
    if (argument.rfind("--", 0) != 0 || equals == std::string::npos) return argument;
    *value = argument.substr(equals + 1);
    return argument.substr(0, equals);
  }

  // The value of an option: after "=" or the next argument.
  std::string TakeValue(const std::string& name, std::optional<std::string>& value) {
    if (value) return {};
    if (at_ >= arguments_.size()) return name + " needs a value";
    value = arguments_[at_++];
    return {};
  }

  std::string ReadOption(const std::string& argument) {
    std::optional<std::string> value;
    const std::string name = OptionName(argument, &value);
    const CliCommand command = args_.command;
    const auto noValue = [&]() -> std::string {
      return value ? name + " takes no value" : std::string();
    };

    if (command == CliCommand::kImport && name == "--any-talker") {
      if (args_.anyTalker) return "--any-talker given twice";
      args_.anyTalker = true;
      return noValue();
    }
    if (command == CliCommand::kImport && name == "--strict") {
      if (args_.strict) return "--strict given twice";
      args_.strict = true;
      return noValue();
    }
    if (command == CliCommand::kImport && name == "--connect") {
      if (args_.connectMetres != 0) return "--connect given twice";
      if (!value) {
        args_.connectMetres = kDefaultConnectMetres;
        return {};
      }
      return ReadPositive(name, *value, "METRES", &args_.connectMetres);
    }
    if (command == CliCommand::kImport && name == "--max-speed") {
      if (args_.maxSpeedKmh != 0) return "--max-speed given twice";
      if (std::string error = TakeValue(name, value); !error.empty()) return error;
      return ReadPositive(name, *value, "KMH", &args_.maxSpeedKmh);
    }
    if (command == CliCommand::kImport && name == "--max-accuracy") {
      if (args_.maxAccuracyM) return "--max-accuracy given twice";
      if (std::string error = TakeValue(name, value); !error.empty()) return error;
      const std::optional<double> metres = ParseWholeDouble(*value);
      if (!metres || *metres < 0)
        return name + ": " + Quoted(*value) + " is not a number of metres (0 or more)";
      args_.maxAccuracyM = *metres;
      return {};
    }
    if (command == CliCommand::kCheck && name == "--fold-conflicts") {
      if (args_.foldConflicts) return "--fold-conflicts given twice";
      args_.foldConflicts = true;
      return noValue();
    }
    if (command == CliCommand::kCheck && name == "--clean") {
      if (args_.clean) return "--clean given twice";
      args_.clean = true;
      return noValue();
    }
    if ((command == CliCommand::kStats || command == CliCommand::kExport) &&
        name == "--explorer")
      return ReadExplorerZooms(name, value);
    if (command == CliCommand::kExport && name == "--missing") {
      if (args_.missing) return "--missing given twice";
      args_.missing = true;
      return noValue();
    }
    if (command == CliCommand::kExport) {
      if (name == "--origin") return ReadOrigin(name, value);
      if (name == "--center") return ReadCenter(name, value);
      if (name == "--zoom") return ReadZoom(name, value);
      if (name == "--bbox") return ReadBbox(name, value);
      if (name == "--background") return ReadBackground(name, value);
      if (name == "--transparent") {
        if (args_.transparent) return "--transparent given twice";
        args_.transparent = true;
        return noValue();
      }
      if (name == "--overwrite" || name == "--merge") {
        const ExistingFileMode mode =
            name == "--overwrite" ? ExistingFileMode::kOverwrite : ExistingFileMode::kMerge;
        if (args_.existing == mode) return name + " given twice";
        if (args_.existing != ExistingFileMode::kRefuse)
          return "--overwrite and --merge exclude each other";
        args_.existing = mode;
        return noValue();
      }
    }
    return "unknown option " + Quoted(argument) + " for " + CommandName();
  }

  // A whole number from 1 to kMaxOptionValue.
  static std::string ReadPositive(const std::string& name, const std::string& value,
                                  const char* what, int* out) {
    const std::optional<int32_t> number = ParseWholeInt32(value);
    if (!number || *number < 1 || *number > kMaxOptionValue)
      return name + ": " + Quoted(value) + " is not " + what + ", a whole number from 1 to " +
             std::to_string(kMaxOptionValue);
    *out = *number;
    return {};
  }

  std::string ReadBbox(const std::string& name, std::optional<std::string>& value) {
    if (args_.bbox) return name + " given twice";
    if (args_.origin || args_.center) return "--bbox excludes --origin and --center";
    if (std::string error = TakeValue(name, value); !error.empty()) return error;
    std::optional<double> edges[4];
    bool complete = true;
    size_t from = 0;
    for (int k = 0; k < 4 && complete; ++k) {
      const size_t comma = k < 3 ? value->find(',', from) : value->size();
      complete = comma != std::string::npos;
      if (complete) edges[k] = ParseWholeDouble(value->substr(from, comma - from));
      complete = complete && edges[k].has_value();
      from = comma + 1;
    }
    if (!complete)
      return name + ": " + Quoted(*value) +
             " is not S,W,N,E in degrees (four decimal numbers, such as 35.6,139.7,35.7,139.8)";
    args_.bbox = DegreeBox{*edges[0], *edges[1], *edges[2], *edges[3]};
    return {};
  }

  std::string ReadBackground(const std::string& name, std::optional<std::string>& value) {
    if (args_.backgroundGiven) return name + " given twice";
    if (std::string error = TakeValue(name, value); !error.empty()) return error;
    if (*value == "none") {
      args_.background = ExportBackground::kNone;
    } else if (*value == "coast") {
      args_.background = ExportBackground::kCoast;
    } else {
      return name + ": " + Quoted(*value) + " is not none or coast";
    }
    args_.backgroundGiven = true;
    return {};
  }

  std::string ReadOrigin(const std::string& name, std::optional<std::string>& value) {
    if (args_.origin) return name + " given twice";
    if (args_.center) return "--origin and --center exclude each other";
    if (args_.bbox) return "--bbox excludes --origin and --center";
    if (std::string error = TakeValue(name, value); !error.empty()) return error;
    std::string latText, lonText;
    std::optional<int32_t> lat, lon;
    if (SplitPair(*value, &latText, &lonText)) {
      lat = ParseWholeInt32(latText);
      lon = ParseWholeInt32(lonText);
    }
    if (!lat || !lon)
      return name + ": " + Quoted(*value) +
             " is not LAT,LON in grid units (two integers, such as 14260,55900)";
    args_.origin = GridPoint{*lat, *lon};
    return {};
  }

  std::string ReadCenter(const std::string& name, std::optional<std::string>& value) {
    if (args_.center) return name + " given twice";
    if (args_.origin) return "--origin and --center exclude each other";
    if (args_.bbox) return "--bbox excludes --origin and --center";
    if (std::string error = TakeValue(name, value); !error.empty()) return error;
    DegreeText center;
    std::optional<double> lat, lon;
    if (SplitPair(*value, &center.latText, &center.lonText)) {
      lat = ParseWholeDouble(center.latText);
      lon = ParseWholeDouble(center.lonText);
    }
    if (!lat || !lon)
      return name + ": " + Quoted(*value) +
             " is not DLAT,DLON in degrees (two decimal numbers, such as 35.675,139.775)";
    center.lat = *lat;
    center.lon = *lon;
    args_.center = center;
    return {};
  }

  std::string ReadZoom(const std::string& name, std::optional<std::string>& value) {
    if (args_.zoom) return name + " given twice";
    if (std::string error = TakeValue(name, value); !error.empty()) return error;
    const std::optional<int32_t> zoom = ParseWholeInt32(*value);
    if (!zoom || *zoom < kMinZoomIndex || *zoom > kMaxZoomIndex)
      return name + ": " + Quoted(*value) + " is not a zoom index from 0 to 7";
    args_.zoom = zoom;
    return {};
  }

  // --explorer Z,... (stats) or --explorer Z (export): Web Mercator zooms.
  std::string ReadExplorerZooms(const std::string& name, std::optional<std::string>& value) {
    if (!args_.explorerZooms.empty()) return name + " given twice";
    if (std::string error = TakeValue(name, value); !error.empty()) return error;
    const bool several = args_.command == CliCommand::kStats;
    const std::vector<std::string> items = SplitList(*value);
    if (!several && items.size() > 1) return name + " takes one zoom";
    for (const std::string& item : items) {
      const std::optional<int32_t> zoom = ParseWholeInt32(item);
      if (!zoom || *zoom < kMinExplorerZoom || *zoom > kMaxExplorerZoom)
        return name + ": " + Quoted(*value) + " is not " + (several ? "a list of zooms" : "a zoom") +
               " from " + std::to_string(kMinExplorerZoom) + " to " +
               std::to_string(kMaxExplorerZoom) + (several ? " (such as 14,17)" : "");
      if (std::find(args_.explorerZooms.begin(), args_.explorerZooms.end(), *zoom) ==
          args_.explorerZooms.end())
        args_.explorerZooms.push_back(*zoom);
    }
    return {};
  }

  // What --explorer, --missing and --bbox of export need of each other and
  // of the other options.
  std::string CheckExplorerExport() const {
    if (args_.explorerZooms.empty()) {
      if (args_.missing) return "--missing needs --explorer Z";
      return {};
    }
    if (args_.origin || args_.center || args_.zoom)
      return "--explorer excludes --origin, --center and --zoom";
    if (args_.existing == ExistingFileMode::kMerge) return "--explorer excludes --merge";
    if (args_.missing && !args_.bbox) return "--missing needs --bbox S,W,N,E";
    // West above east: the box runs east across the antimeridian.
    if (args_.bbox &&
        !(args_.bbox->south < args_.bbox->north && args_.bbox->west != args_.bbox->east))
      return "--explorer needs a --bbox with south below north and west and east apart";
    const auto endsWith = [](const std::string& text, const std::string& end) {
      return text.size() > end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
    };
    if (!args_.file || !(endsWith(*args_.file, ".geojson") || endsWith(*args_.file, ".json")))
      return "export --explorer writes GeoJSON: FILE must end in .geojson or .json";
    return {};
  }

  std::string TakePositional(const std::vector<std::string>& positional) {
    switch (args_.command) {
      case CliCommand::kImport:
        if (positional.empty()) return "import needs at least one LOG";
        for (const std::string& log : positional)
          if (log.empty()) return "import: a LOG path is empty";
        if (std::count(positional.begin(), positional.end(), "-") > 1)
          return "import: standard input ('-') can be read only once";
        args_.logs = positional;
        return {};
      case CliCommand::kExport:
        if (positional.size() > 1)
          return "export takes one FILE, not " + std::to_string(positional.size()) + " (" +
                 Quoted(positional[1]) + " is one too many)";
        if (positional.size() == 1) {
          if (positional[0].empty()) return "export: FILE is empty";
          args_.file = positional[0];
        }
        return CheckExplorerExport();
      case CliCommand::kStats:
        if (!positional.empty()) return "stats takes no arguments (" + Quoted(positional[0]) + ")";
        return {};
      case CliCommand::kCheck:
        if (!positional.empty()) return "check takes no arguments (" + Quoted(positional[0]) + ")";
        return {};
      case CliCommand::kMerge:
        if (positional.empty()) return "merge needs at least one STORE";
        for (const std::string& store : positional)
          if (store.empty()) return "merge: a STORE path is empty";
        args_.stores = positional;
        return {};
      case CliCommand::kNone:
        break;
    }
    return {};
  }

  std::string CommandName() const {
    switch (args_.command) {
      case CliCommand::kImport:
        return "import";
      case CliCommand::kExport:
        return "export";
      case CliCommand::kStats:
        return "stats";
      case CliCommand::kCheck:
        return "check";
      case CliCommand::kMerge:
        return "merge";
      case CliCommand::kNone:
        break;
    }
    return "roamgrid-cli";
  }

  const std::vector<std::string>& arguments_;
  size_t at_;
  CliArgs& args_;
};

bool IsHelp(const std::string& argument) { return argument == "--help" || argument == "-h"; }

}  // namespace

std::optional<int32_t> ParseWholeInt32(const std::string& text) {
  const char* begin = text.data();
  const char* end = begin + text.size();
  if (begin != end && *begin == '+') {
    ++begin;  // from_chars takes only a minus sign
    if (begin == end || !IsDigit(*begin)) return {};
  }
  if (begin == end || !(IsDigit(*begin) || *begin == '-')) return {};
  int32_t value = 0;
  const auto result = std::from_chars(begin, end, value);
  if (result.ec != std::errc() || result.ptr != end) return {};
  return value;
}

std::optional<double> ParseWholeDouble(const std::string& text) {
  // Decimal numbers only: strtod would also skip leading blanks and read
  // hexadecimal ("0x10" as 16), "inf" and "nan".
  if (text.empty() || !(IsDigit(text[0]) || std::strchr("+-.", text[0]))) return {};
  if (text.find_first_not_of("0123456789+-.eE") != std::string::npos) return {};
  const char* end = nullptr;
  const double value = ParseLeadingDouble(text.c_str(), &end);
  if (end != text.c_str() + text.size() || !std::isfinite(value)) return {};
  return value;
}

CliParse ParseCliArgs(const std::vector<std::string>& arguments) {
  CliParse parse;
  CliArgs& args = parse.args;
  size_t at = 0;
  // Options of the program, before the subcommand.
  while (at < arguments.size()) {
    const std::string& argument = arguments[at];
    if (IsHelp(argument)) {
      args.help = true;
      return parse;
    }
    if (argument == "--version") {
      args.version = true;
      return parse;
    }
    if (TakeStoreOption(arguments, at, args.store, parse.error)) {
      if (!parse.ok()) return parse;
      continue;
    }
    if (argument.size() > 1 && argument[0] == '-') {
      parse.error = "unknown option '" + argument + "' (options of a command come after its name)";
      return parse;
    }
    break;
  }
  if (at >= arguments.size()) {
    parse.error = "no command given: import, export, stats, check or merge (see roamgrid-cli --help)";
    return parse;
  }
  const std::string& name = arguments[at++];
  if (name == "import") {
    args.command = CliCommand::kImport;
  } else if (name == "export") {
    args.command = CliCommand::kExport;
  } else if (name == "stats") {
    args.command = CliCommand::kStats;
  } else if (name == "check") {
    args.command = CliCommand::kCheck;
  } else if (name == "merge") {
    args.command = CliCommand::kMerge;
  } else {
    parse.error = "unknown command '" + name + "': import, export, stats, check or merge";
    return parse;
  }
  // Help wins over every other argument of the subcommand (up to "--").
  for (size_t i = at; i < arguments.size() && arguments[i] != "--"; ++i) {
    if (IsHelp(arguments[i])) {
      args.help = true;
      return parse;
    }
  }
  parse.error = SubcommandReader(arguments, at, args).Read();
  return parse;
}

std::string CliHelpText(CliCommand command) {
  switch (command) {
    case CliCommand::kImport:
      return R"(Usage: roamgrid-cli [-C DIR | --user-store] import [--any-talker] [--strict]
                                     [--connect[=METRES]] [--max-speed KMH]
                                     [--max-accuracy METRES] LOG...

Reads the logs in the order given with one recorder, exactly as the Import
command of the desktop program does, and marks the cell of every fix in the
tiles below RGD/. A LOG of "-" is read from standard input (once), so that
`gpspipe -r | roamgrid-cli import --any-talker -` records from a receiver
gpsd serves. A LOG that is a folder stands for every regular file below it,
in name order, at any depth (links to folders are not followed; a folder
that cannot be listed or entered is named); files there that are no log are
counted in one line, "N files not recognised", and are no error.

Each log is judged by its content, not its name:
  gzip-compressed data   decompressed as it is read (members one after
                         another), then judged again: .log.gz, .gpx.gz
  GPX 1.0 or 1.1         XML with the root <gpx>: the lat and lon of every
                         track point (trkpt); route points and waypoints
                         are not recorded
  KML, KMZ               XML with the root <kml>, or a zip archive (its
                         first .kml): LineString coordinates and gx:Track
                         gx:coord; Point placemarks are not recorded
  TCX                    XML with the root <TrainingCenterDatabase>: the
                         Position of every Trackpoint of an activity or a
                         course
  FIT                    a FIT file header: the position of every record
                         message; header, messages and CRCs are checked,
                         and a file whose CRC is wrong records nothing
  location history       JSON: Records.json (locations[]), Semantic Location
                         History (activity paths and visits), Android
                         Timeline.json, iOS location-history.json
  GeoJSON                JSON: LineString and MultiLineString, and Point
                         features whose properties mark track points
                         (track_fid, track_seg_id, track_seg_point_id, or
                         "type": "trackpoint"); other Points are places and
                         not recorded; members in any order; Polygons and
                         MultiPolygons are areas, passed over and counted
  NMEA 0183 text         anything else: the position of every GGA sentence.
                         Without --any-talker only lines beginning "$GPGGA,"
                         are used, as in the desktop program.

One line per log on standard output:
  <path>: <F> fixes, <S> skipped, <N> new
                                   NMEA: F GGA fixes accepted, S unreadable
                                   GGA lines skipped (no position, bad
                                   hemisphere letter; with --strict also a
                                   wrong or missing checksum, fix quality 0),
                                   N cells newly marked
  <path>: <F> points, <S> skipped, <N> new
                                   the other formats: F track points
                                   accepted, S without a readable position;
                                   ", <C> less accurate than 50 m" before
                                   the new cells when positions were too
                                   coarse (see --max-accuracy)
  <path>: cannot open              the log could not be opened; the others are
                                   still read
and last "total: <N> new cells". A damaged or truncated compressed log,
malformed XML or JSON, or a damaged FIT file records what came before the
damage and is reported as a read error with its reason. With a terminal on
standard error a progress line shows the bytes read of the total and the
rate; it is erased when done. When a log read without --any-talker holds
GGA sentences of other talkers, a line on standard error says how many
(for standard input also at once, when the first arrives); so does one
after the total when fixes of fix quality 0 (marked invalid by the
receiver) were recorded, which --strict skips. With
--max-speed, ", <N> too fast" follows the count of a log that had such
fixes; with --connect, ", <N> cells on lines" the cells the lines added.

Options:
  --any-talker   also read the GGA sentences of multi-constellation receivers,
                 "$" + two letters + "GGA," ($GNGGA, $GLGGA, $GAGGA, $GBGGA,
                 $BDGGA, $GQGGA), field for field like "$GPGGA,"
  --strict       use a GGA line only when its checksum is present and right
                 and its fix quality is not 0; recommended for logs from
                 unknown sources, since marks cannot be taken back
  --connect[=METRES]
                 also mark the cells on the straight line between two
                 consecutive fixes of a track at most METRES apart (default
                 250), so that fast tracks are lines, not dots; where the log
                 has times and --max-speed is given, only when the speed
                 between them is within it. A track ends at the end of a log,
                 at a GPX trkseg, at NMEA GGA lines without a position and
                 where the times of two fixes are more than 30 s apart.
                 Off by default.
  --max-speed KMH
                 skip a fix whose speed from the last kept fix of its track is
                 above KMH (km/h), so that flights and receiver jumps leave no
                 marks; skipped fixes that keep within KMH of each other for
                 more than 30 s start a new track (a flight has landed) and
                 are recorded with it.
                 Times come from the GGA UTC field (the day rolling over at
                 midnight), GPX, KML and TCX times, FIT timestamps and the
                 JSON timestamps; fixes without times are not checked. Off by
                 default.
  --max-accuracy METRES
                 skip (and count) positions of location histories whose
                 stated accuracy is worse than METRES (default 50; 0: no
                 limit)
  -h, --help     show this help

SIGINT, SIGTERM or SIGHUP stop the reading at the next block: what was read
is recorded, the line of the log being read is printed, and the exit status
is 130, 143 or 129.

Exit status: 0 every log was read, 1 a log could not be opened or read to its
end, a folder could not be read, or a tile could not be written, 2 usage
error.
)";
    case CliCommand::kExport:
      return R"(Usage: roamgrid-cli [-C DIR | --user-store] export
         [--origin LAT,LON | --center DLAT,DLON | --bbox S,W,N,E] [--zoom Z]
         [--background none|coast] [--transparent] [--overwrite | --merge] [FILE]
       roamgrid-cli [-C DIR | --user-store] export --explorer Z [--bbox S,W,N,E [--missing]]
                                     [--overwrite] FILE.geojson

Writes the visited cells of a view, or of any region, in the format that
FILE's suffix names:
  .bmp              the view as the Export command writes it: a 448 x 448
                    24-bit BMP image, visited pixels red, all others white
  .png              a PNG image, visited pixels red on white
  .tif, .tiff       a GeoTIFF (EPSG:4326): one band, 1 visited, 0 not
  .geojson, .json   GeoJSON: one MultiPolygon feature per tile, rectangles of
                    visited cells, properties naming the tile
  .kml, .kmz        KML: the same rectangles as red polygons; a KMZ of a very
                    large region holds a transparent PNG overlay instead
  .geojson.gz, .json.gz, .kml.gz   the same, gzip-compressed
Prints the path written.

Options:
  --origin LAT,LON    the view's south-west corner in grid units (1/400 degree),
                      such as 14260,55900. Both must be multiples of 5 at zoom 0,
                      of 10 at zoom 1 and of 20 at zooms 2 to 7.
  --center DLAT,DLON  a centre in decimal degrees, north and east positive, such
                      as 35.675,139.775; the view is placed as the Jump command
                      places it (snapped to a tile boundary).
                      Without --origin, --center and --bbox: the home position
                      from Roamgrid.cfg, else the built-in home (origin
                      14260,55900, zoom 1). With another --zoom the home origin
                      is cut toward zero to that zoom's multiple, as
                      Roamgrid.cfg values are.
  --bbox S,W,N,E      any region in decimal degrees (not for .bmp), such as
                      35.6,139.7,35.7,139.8; west above east crosses the
                      antimeridian. Grown outward to whole cells (and pixels).
  --zoom Z            zoom index 0 to 7: a view side of 0.025, 0.05, 0.1, 0.2,
                      0.4, 0.8, 1.6 or 3.2 degrees. Default: the home zoom. For
                      images each pixel covers 2^Z x 2^Z cells (with --bbox the
                      default is 0, one cell per pixel); vector formats always
                      give whole cells. Images over 20000 x 20000 pixels are
                      refused with a zoom that fits.
  --background none|coast
                      what a .png shows under the marks (default none)
  --transparent       .png: unvisited pixels transparent instead of white
  --overwrite         replace an existing FILE with a fresh file
  --merge             .bmp only: merge into an existing FILE (an earlier export
                      of the same view): a pixel turns red only where the view
                      is marked and the old pixel is pure white. A FILE that is
                      not such an image is refused with "Can not Marge" and left
                      as it was. A missing FILE is written as a fresh image.
  -h, --help          show this help
  FILE                default: the name the Export command proposes, such as
                      N035.650-E139.7500-R0.050.bmp

Explorer tiles (GeoJSON):
  --explorer Z        write the explored Web Mercator tiles of zoom Z (0 to 24;
                      see stats --help) as GeoJSON polygons, one Feature a tile
                      with its z, x and y, to FILE (ending .geojson or .json)
  --bbox S,W,N,E      only the tiles that meet this box: south, west, north and
                      east edges in decimal degrees, such as 35.6,139.7,35.7,139.8;
                      west above east crosses the antimeridian
  --missing           instead the tiles inside --bbox still to explore (at most
                      1000000 of them), for planning a ride

An existing FILE is an error unless --overwrite or --merge is given. A file is
only ever replaced by a complete new one.

Exit status: 0 written, 1 FILE exists, cannot be read or written, or cannot
be merged into, 2 usage error (an unknown suffix or an image too large
included).
)";
    case CliCommand::kStats:
      return R"(Usage: roamgrid-cli [-C DIR | --user-store] stats [--explorer Z,...]

Reads every tile file below RGD/ once, one tile in memory at a time, and
prints:
  tile files               files named as the store names its tiles, such as
                           RGD/E139N035/E13975-N03500.map
  tiles not loaded whole   their number, then one line per tile: its path and
                           whether it is damaged or cannot be read
  visited cells            cells marked in the tiles (in a damaged tile, those
                           read before the damage)
  visited area             approximate, in square kilometres: each cell's area
                           at its latitude on a sphere of radius 6371.0088 km
                           (the mean earth radius), a cell being 1/17920 degree
                           on each side
  bounding box             south, west, north and east edges in degrees of the
                           tiles that hold a visited cell ("none" without any)
  explorer tiles at zoom Z for zooms 14 and 17 (about 2.4 km and 300 m at the
                           equator): the Web Mercator tiles (the squares of web
                           maps) that hold the centre of a visited cell; the
                           side of the largest square of them; and the largest
                           cluster: explored tiles whose four neighbours are
                           explored, counted as the largest group joined side
                           by side. The grid does not wrap at 180 degrees.

Options:
  --explorer Z,...   the explorer zooms shown, 0 to 24, instead of 14,17
  -h, --help         show this help

Exit status: 0 every tile was loaded whole, 1 a tile could not be loaded
whole or a folder of the store could not be read, 2 usage error.
)";
    case CliCommand::kCheck:
      return R"(Usage: roamgrid-cli [-C DIR | --user-store] check [--clean] [--fold-conflicts]

Reads every tile file below RGD/ once, one tile in memory at a time, and looks
for temporary files that a program killed while saving a tile left behind.
One line per problem on standard output:
  <path>: damaged                       a tile file that does not load whole
  <path>: cannot be read                a tile file that cannot be opened
  <path>: folder cannot be read         a folder of the store
  <path>: abandoned temporary file      a temporary file whose writer no
                                        longer runs (".roamgrid-<pid>-<n>.tmp")
  <path>: conflict copy of <tile>       a second version of a tile that a file
                                        sync tool left beside it:
      E13970-N03560.sync-conflict-20261207-101010-ABCDEFG.map   Syncthing
      E13970-N03560 (Ann's conflicted copy 2026-12-07).map      Dropbox
      E13970-N03560 (conflicted copy 2026-12-07 101010).map     Nextcloud
      E13970-N03560.map.orig, E13970-N03560.map~
then a summary line. Temporary files of programs still running are not
problems. Without --fold-conflicts tile files are never changed; the map
view, export and stats never read conflict copies.

Options:
  --clean           remove the abandoned temporary files (the line then ends
                    in ", removed"), holding the store lock so that no save is
                    cut
  --fold-conflicts  OR each conflict copy into its tile (marks only add up, so
                    nothing is lost) and then remove it under the store lock
                    (the line then ends in ", folded" and the count of new
                    cells); a copy that is damaged or cannot be read is named
                    and left
  -h, --help        show this help

Exit status: 0 the store is sound, 1 something was found (also when --clean
or --fold-conflicts dealt with it), 2 usage error.
)";
    case CliCommand::kMerge:
      return R"(Usage: roamgrid-cli [-C DIR | --user-store] merge STORE...

ORs every tile of the other stores (each STORE is a folder that holds RGD/)
into this store: a cell marked in either is marked afterwards. Marks only add
up, so stores merge exactly, in any order, and merging again changes nothing.
Tile by tile, one in memory at a time, each tile replaced only by a complete
new file under the store lock, as an import saves it; the other stores are
only read. One line per STORE on standard output:
  <STORE>: <F> tile files read, <T> tiles gained cells, <N> new cells
A damaged or unreadable tile of a STORE, or a tile of this store that is
damaged, is named on standard error and skipped. A STORE that is this store
(by any path or link) is refused.

To keep one record on several computers, sync the store folder with a file
sync tool and run `roamgrid-cli check --fold-conflicts` from time to time; or
copy a store over and merge it.

Options:
  -h, --help   show this help

Exit status: 0 every tile was merged, 1 a STORE was refused or a tile skipped
or not written, 2 usage error.
)";
    case CliCommand::kNone:
      break;
  }
  return R"(Usage: roamgrid-cli [-C DIR | --user-store] COMMAND [OPTIONS] [ARGUMENTS]
       roamgrid-cli --help | --version

Works on the Roamgrid store (the tiles below RGD/ and the home position in
Roamgrid.cfg): the same store, byte for byte, as the desktop program's.
Without an option the store is the working directory, and -C DIR uses DIR.
--user-store uses ${XDG_DATA_HOME:-$HOME/.local/share}/roamgrid, creating it
when missing: the store of Roamgrid started from the application menu.

Commands:
  import LOG...   record the fixes of NMEA logs, GPX, KML/KMZ, TCX and FIT
                  tracks, phone location histories, GeoJSON, gzip-compressed
                  logs and folders of them (or of standard input, "-")
  export [FILE]   write a view or region as BMP, PNG, GeoTIFF, GeoJSON or KML
  stats           count the tile files, visited cells, visited area and
                  explorer tiles
  check [--clean] [--fold-conflicts]
                  list damaged tiles, abandoned temporary files and conflict
                  copies of sync tools
  merge STORE...  OR the tiles of other stores into this one

Options:
  -C DIR          change to DIR first (several: each relative to the last)
  --user-store    use the user store folder, creating it when missing
  -h, --help      show this help; COMMAND --help shows a command's help
  --version       print the version

Exit status: 0 success, 1 failure (a file could not be read or written),
2 usage error. Errors are one line on standard error.
)";
}

}  // namespace roamgrid
