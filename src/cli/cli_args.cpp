#include "cli/cli_args.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

#include "cli/places_cmd.h"
#include "common/number_text.h"
#include "common/text.h"
#include "geo/web_mercator.h"
#include "store/explorer_tiles.h"
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
    if (command == CliCommand::kServe) {
      if (name == "--color") return ReadColor(name, value);
      if (name == "--port") {
        if (args_.port) return name + " given twice";
        if (std::string error = TakeValue(name, value); !error.empty()) return error;
        const std::optional<int32_t> port = ParseWholeInt32(*value);
        if (!port || *port < 0 || *port > 65535)
          return name + ": " + Quoted(*value) + " is not a port from 0 to 65535";
        args_.port = port;
        return {};
      }
      if (name == "--bind") return ReadText(name, value, args_.bind);
    }
    if ((command == CliCommand::kPlaces && (name == "--by" || name == "--format")) ||
        (command == CliCommand::kExport && (name == "--by" || name == "--places"))) {
      if (std::string error = TakeValue(name, value); !error.empty()) return error;
      std::string error;
      ReadPlacesOption(name, *value, args_, error);
      return error;
    }
    if (command == CliCommand::kPlaces && name == "--bbox") return ReadBbox(name, value);
    if (command == CliCommand::kExport) {
      if (name == "--base-map") return ReadText(name, value, args_.baseMap);
      if (name == "--attribution") return ReadText(name, value, args_.attribution);
      if (name == "--origin") return ReadOrigin(name, value);
      if (name == "--center") return ReadCenter(name, value);
      if (name == "--zoom") return ReadZoom(name, value);
      if (name == "--tiles" || name == "--web") return ReadTilesTarget(name, value);
      if (name == "--color") return ReadColor(name, value);
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

  // --zoom Z (a zoom index of the view, 0..7) or, for map tiles, --zoom
  // A-B or one Web Mercator zoom up to 22; which it is, TakePositional
  // decides once --tiles or --web has been seen or not.
  std::string ReadZoom(const std::string& name, std::optional<std::string>& value) {
    if (args_.zoom || args_.tileZooms) return name + " given twice";
    if (std::string error = TakeValue(name, value); !error.empty()) return error;
    std::string firstText = *value, lastText = *value;
    const size_t dash = value->find('-', 1);
    if (dash != std::string::npos) {
      firstText = value->substr(0, dash);
      lastText = value->substr(dash + 1);
    }
    const std::optional<int32_t> first = ParseWholeInt32(firstText);
    const std::optional<int32_t> last = ParseWholeInt32(lastText);
    const bool index =
        dash == std::string::npos && first && *first >= kMinZoomIndex && *first <= kMaxZoomIndex;
    if (index) {
      args_.zoom = first;
      return {};
    }
    zoomText_ = *value;
    if (!first || !last || *first < 0 || *last > kMaxMapTileZoom || *first > *last)
      return {};  // told by CheckTilesExport, as a view's or a tile zoom
    args_.tileZooms = std::pair{*first, *last};
    return {};
  }

  std::string ReadTilesTarget(const std::string& name, std::optional<std::string>& value) {
    if (args_.tiles || args_.web) return "--tiles and --web given twice or together";
    if (std::string error = TakeValue(name, value); !error.empty()) return error;
    if (value->empty()) return name + ": the path is empty";
    (name == "--tiles" ? args_.tiles : args_.web) = *value;
    return {};
  }

  // An option's text, given once and not empty.
  std::string ReadText(const std::string& name, std::optional<std::string>& value,
                       std::optional<std::string>& into) {
    if (into) return name + " given twice";
    if (std::string error = TakeValue(name, value); !error.empty()) return error;
    if (value->empty()) return name + ": the value is empty";
    into = *value;
    return {};
  }

  std::string ReadColor(const std::string& name, std::optional<std::string>& value) {
    if (args_.color) return name + " given twice";
    if (std::string error = TakeValue(name, value); !error.empty()) return error;
    std::string digits = *value;
    if (!digits.empty() && digits[0] == '#') digits.erase(0, 1);
    uint32_t rgb = 0;
    const auto parsed = std::from_chars(digits.data(), digits.data() + digits.size(), rgb, 16);
    if (digits.size() != 6 || parsed.ec != std::errc() ||
        parsed.ptr != digits.data() + digits.size() ||
        digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
      return name + ": " + Quoted(*value) + " is not a colour RRGGBB (such as ff0000)";
    args_.color = rgb;
    return {};
  }

  // What --tiles and --web need of --zoom and exclude of the other options.
  std::string CheckTilesExport() {
    const bool tiles = args_.tiles || args_.web;
    if (!tiles) {
      if (zoomText_) return "--zoom: " + Quoted(*zoomText_) + " is not a zoom index from 0 to 7";
      if (args_.color) return "--color needs --tiles or --web";
      if (args_.baseMap || args_.attribution) return "--base-map and --attribution go with --web";
      return {};
    }
    if (zoomText_ && !args_.tileZooms)
      return "--zoom: " + Quoted(*zoomText_) + " is not A-B, zooms from 0 to " +
             std::to_string(kMaxMapTileZoom) + " with A not above B (such as 0-16)";
    if (args_.zoom) args_.tileZooms = std::pair{*args_.zoom, *args_.zoom};
    args_.zoom.reset();
    if (!args_.tileZooms)
      return std::string(args_.tiles ? "--tiles" : "--web") + " needs --zoom A-B";
    if (args_.origin || args_.center || !args_.explorerZooms.empty() || args_.transparent ||
        args_.backgroundGiven || args_.existing == ExistingFileMode::kMerge)
      return std::string(args_.tiles ? "--tiles" : "--web") +
             " excludes --origin, --center, --explorer, --transparent, --background and --merge";
    if ((args_.baseMap || args_.attribution) && !args_.web)
      return "--base-map and --attribution go with --web";
    if (args_.attribution && (!args_.baseMap || *args_.baseMap == "none"))
      return "--attribution needs --base-map URL";
    if (args_.file)
      return "export " + std::string(args_.tiles ? "--tiles" : "--web") + " takes no FILE (" +
             Quoted(*args_.file) + ")";
    // West above east: the box runs east across 180 degrees.
    if (args_.bbox &&
        !(args_.bbox->south < args_.bbox->north && args_.bbox->west != args_.bbox->east))
      return "--bbox needs south below north and west and east apart";
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
    if (!args_.file || !(HasSuffix(*args_.file, ".geojson") || HasSuffix(*args_.file, ".json")))
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
        if (std::string error = CheckTilesExport(); !error.empty()) return error;
        if (std::string error = CheckPlacesExport(args_, !positional.empty()); !error.empty())
          return error;
        return CheckExplorerExport();
      case CliCommand::kStats:
        if (!positional.empty()) return "stats takes no arguments (" + Quoted(positional[0]) + ")";
        return {};
      case CliCommand::kCheck:
        if (!positional.empty()) return "check takes no arguments (" + Quoted(positional[0]) + ")";
        return {};
      case CliCommand::kPlaces:
        if (!positional.empty()) return "places takes no arguments (" + Quoted(positional[0]) + ")";
        return {};
      case CliCommand::kServe:
        if (!positional.empty()) return "serve takes no arguments (" + Quoted(positional[0]) + ")";
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
      case CliCommand::kPlaces:
        return "places";
      case CliCommand::kServe:
        return "serve";
      case CliCommand::kNone:
        break;
    }
    return "roamgrid-cli";
  }

  const std::vector<std::string>& arguments_;
  size_t at_;
  CliArgs& args_;
  std::optional<std::string> zoomText_;  // a --zoom that is no zoom index of the view
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
    parse.error =
        "no command given: import, export, stats, check, merge, places or serve (see roamgrid-cli --help)";
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
  } else if (name == "places") {
    args.command = CliCommand::kPlaces;
  } else if (name == "serve") {
    args.command = CliCommand::kServe;
  } else {
    parse.error =
        "unknown command '" + name + "': import, export, stats, check, merge, places or serve";
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

}  // namespace roamgrid
