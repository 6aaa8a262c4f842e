#include "cli/places_cmd.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "cli/cli_commands.h"
#include "cli/cli_output.h"
#include "common/safe_file.h"
#include "common/text.h"
#include "export/places_files.h"
#include "export/region_cells.h"
#include "export/text_output.h"
#include "geo/dcw_regions.h"
#include "geo/places_tally.h"
#include "geo/region_index.h"
#include "store/store_places.h"

namespace roamgrid {

namespace {

PlaceLevel LevelOf(const CliArgs& args) {
  return PlaceLevelFromName(args.placesBy).value_or(PlaceLevel::kCountry);
}

// Counts the store's visited cells by place and prints or writes them with
// `emit`. Returns the exit status.
template <class Emit>
int CountPlaces(const CliArgs& args, const char* command, std::FILE* err, Emit&& emit) {
  const std::string name = command;
  std::optional<CellRegion> region;
  if (args.bbox) {
    std::string why;
    region =
        DegreeBoxCells(args.bbox->south, args.bbox->west, args.bbox->north, args.bbox->east, &why);
    if (!why.empty()) {
      Error(err, name + ": --bbox: " + why);
      return kExitUsage;
    }
  }

  DcwCatalogue catalogue(DcwFolderFromEnvironment());
  RegionIndex index(catalogue, PlacesCachePath());
  const auto outlinesFailed = [&]() {
    Error(err, name + ": " + DcwProblemText(catalogue));
    return kExitFailure;
  };
  StorePlaces count = CountStorePlaces(index, region);
  if (!count.tally) return outlinesFailed();
  const PlacesTally& tally = *count.tally;

  const PlaceLevel level = LevelOf(args);
  if (!index.PrepareAreas(AreasNeeded(tally, index.regions(), level))) return outlinesFailed();
  if (!index.Save())
    Error(err, name + ": warning: cannot keep the places index: " + index.report().cacheProblem);

  const std::vector<PlaceLine> lines = PlaceLines(tally, index, level);
  const PlacesSummary summary = Summarize(tally, index.regions());
  int status = emit(lines, summary, catalogue, index);
  for (const std::string& problem : count.problems) Error(err, name + ": " + problem);
  if (!count.problems.empty() && status == kExitOk) {
    Error(err, name + ": the counts leave out what could not be read");
    status = kExitFailure;
  }
  return status;
}

}  // namespace

bool ReadPlacesOption(const std::string& name, const std::string& value, CliArgs& args,
                      std::string& error) {
  if (name == "--by") {
    if (!args.placesBy.empty()) {
      error = "--by given twice";
    } else if (!PlaceLevelFromName(value)) {
      error = "--by: " + Quoted(value) + " is not country, state or continent";
    } else {
      args.placesBy = value;
    }
    return true;
  }
  if (name == "--format") {
    if (!args.placesFormat.empty()) {
      error = "--format given twice";
    } else if (value != "text" && value != "csv" && value != "json") {
      error = "--format: " + Quoted(value) + " is not text, csv or json";
    } else {
      args.placesFormat = value;
    }
    return true;
  }
  if (name == "--places") {
    if (args.placesFile) {
      error = "--places given twice";
    } else if (!(HasSuffix(value, ".geojson") || HasSuffix(value, ".json") ||
                 HasSuffix(value, ".csv"))) {
      error = "export --places writes GeoJSON or CSV: FILE must end in .geojson, .json or .csv";
    } else {
      args.placesFile = value;
    }
    return true;
  }
  return false;
}

std::string CheckPlacesExport(const CliArgs& args, bool fileGiven) {
  if (!args.placesFile) {
    if (!args.placesBy.empty()) return "--by needs --places FILE";
    return {};
  }
  if (fileGiven) return "export --places FILE takes no other FILE";
  if (args.origin || args.center || args.zoom || args.backgroundGiven || args.transparent ||
      args.existing == ExistingFileMode::kMerge || !args.explorerZooms.empty() || args.missing)
    return "--places excludes --origin, --center, --zoom, --background, --transparent, --merge "
           "and --explorer";
  return {};
}

int RunPlaces(const CliArgs& args, std::FILE* out, std::FILE* err) {
  const PlacesFormat format = args.placesFormat == "csv"    ? PlacesFormat::kCsv
                              : args.placesFormat == "json" ? PlacesFormat::kJson
                                                            : PlacesFormat::kText;
  return CountPlaces(
      args, "places", err,
      [&](const std::vector<PlaceLine>& lines, const PlacesSummary& summary, DcwCatalogue&,
          RegionIndex&) {
        TextOutput text(out);
        WritePlacesTable(text, format, LevelOf(args), lines, summary);
        if (!text.Finish()) {
          Error(err, std::string("places: writing the table failed: ") + std::strerror(errno));
          return kExitFailure;
        }
        return kExitOk;
      });
}

int RunPlacesExport(const CliArgs& args, std::FILE* out, std::FILE* err) {
  const std::string& path = *args.placesFile;
  struct stat info;
  if (StatFollowingLinks(path, &info) == 0) {
    if (args.existing != ExistingFileMode::kOverwrite) {
      Error(err, "export: " + Quoted(path) + " exists; give --overwrite");
      return kExitFailure;
    }
  } else if (errno != ENOENT) {
    Error(err, "export: cannot look at " + Quoted(path) + ": " + FileErrorText(errno));
    return kExitFailure;
  }
  const bool csv = HasSuffix(path, ".csv");
  return CountPlaces(
      args, "export", err,
      [&](const std::vector<PlaceLine>& lines, const PlacesSummary& summary,
          DcwCatalogue& catalogue, RegionIndex& index) {
        ReplacingFile file(path);
        errno = 0;
        if (!file.Open()) {
          Error(err, "export: cannot create " + Quoted(path) + ": " + FileErrorText(errno));
          return kExitFailure;
        }
        bool written = true;
        {
          TextOutput text(file, false);
          if (csv) {
            WritePlacesTable(text, PlacesFormat::kCsv, LevelOf(args), lines, summary);
          } else {
            written = WritePlacesGeoJson(text, LevelOf(args), lines, index.regions(),
                                         [&](size_t r) { return catalogue.Shape(r); });
          }
          written = text.Finish() && written;
        }
        if (!written && !catalogue.problem().empty()) {
          file.Abandon();
          Error(err, "export: " + catalogue.problem() + "; " + Quoted(path) + " not written");
          return kExitFailure;
        }
        errno = 0;
        if (!written || !file.Commit()) {
          Error(err, "export: writing " + Quoted(path) + " failed: " + FileErrorText(errno));
          return kExitFailure;
        }
        std::fprintf(out, "%s\n", path.c_str());
        std::fflush(out);
        return kExitOk;
      });
}

std::string PlacesHelpText() {
  return R"(Usage: roamgrid-cli [-C DIR | --user-store] places [--by country|state|continent]
                                     [--format text|csv|json] [--bbox S,W,N,E]

Lists the countries (states or provinces, continents) that hold visited
cells, from the country outlines of the Digital Chart of the World that
Debian's gmt-dcw package installs (/usr/share/gmt-dcw). A cell belongs to a
region when the cell's centre lies inside the region's outline; a cell in no
country is "at sea or unassigned". For each region with a visited cell:
  code    as GMT writes it: FR for a country, US.TX for a state
  cells   the visited cells in it
  km2     their area in square kilometres: each cell's area on a sphere of
          radius 6371.0088 km (the mean earth radius)
  share   that area's share of the region's area (measured from its
          outline on the same sphere)
  name    as dcw-countries.txt and dcw-states.txt name it
sorted by code. The text table ends with a summary: the countries, states
and continents visited, and the cells at sea or unassigned.

The first run reads the outlines and keeps, for each tile of the store, which
regions it lies in or touches in ${XDG_CACHE_HOME:-$HOME/.cache}/roamgrid/
places.idx, so that later runs start at once; the file can always be
deleted. States exist for Argentina, Australia, Brazil, Canada, China,
India, Russia and the United States.

Options:
  --by country|state|continent
                      what to list (default country); a continent holds the
                      cells of any of its countries
  --format text|csv|json
                      text (default): a table and the summary; csv: the
                      columns code,name,cells,km2,share with one header line
                      (share from 0 to 1); json: the places and the summary
  --bbox S,W,N,E      count only the cells in this box: south, west, north
                      and east edges in decimal degrees, such as
                      47.4,7.4,47.7,7.8; west above east crosses the
                      antimeridian
  -h, --help          show this help

export --places FILE.geojson (or .json, .csv) writes the same table: CSV, or
GeoJSON with each region's outline and its figures as properties.

Exit status: 0 success, 1 the outlines are missing or damaged (one line
names the problem; "install gmt-dcw" when the package is missing), a tile
or a folder of the store could not be read, or the table could not be
written, 2 usage error.
)";
}

}  // namespace roamgrid
