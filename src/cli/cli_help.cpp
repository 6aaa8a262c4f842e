// The help texts of roamgrid-cli: of the program and of each command. The
// lists of input and export formats come from the format tables.
#include "cli/cli_args.h"
#include "cli/places_cmd.h"
#include "export/export_formats.h"
#include "import/input_formats.h"

namespace roamgrid {

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
)" + InputFormatsHelp() +
             R"(
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
       roamgrid-cli [-C DIR | --user-store] export --tiles DIR|FILE.mbtiles --zoom A-B
                                     [--bbox S,W,N,E] [--color RRGGBB] [--overwrite]
       roamgrid-cli [-C DIR | --user-store] export --web DIR --zoom A-B [--bbox S,W,N,E]
                                     [--color RRGGBB] [--base-map URL|none
                                     [--attribution TEXT]]
       roamgrid-cli [-C DIR | --user-store] export --places FILE.geojson|FILE.csv
                                     [--by country|state|continent] [--bbox S,W,N,E] [--overwrite]

Writes the visited cells of a view, or of any region, in the format that
FILE's suffix names:
)" + ExportFormatsHelp() +
             R"(Prints the path written.

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

Map tiles (for map apps, web maps and GIS layers):
  --tiles DIR         write the marks as 256 x 256 PNG tiles in the Web Mercator
                      XYZ scheme, DIR/{z}/{x}/{y}.png: transparent where nothing
                      is visited, red where something is, drawn as the large map
                      draws them. Only tiles that hold marks are written; each
                      is replaced whole, so a run over an earlier export
                      updates it.
  --tiles FILE.mbtiles
                      the same tiles in one MBTiles 1.3 file (rows counted from
                      the south), written under a temporary name and put in
                      place when complete. A FILE that is no SQLite database
                      is replaced only with --overwrite.
  --zoom A-B          the zooms of the tiles, 0 to 22, such as 0-16 (or one zoom)
  --bbox S,W,N,E      only the tiles that meet this box
  --color RRGGBB      the colour of the marks, such as 0080ff (default ff0000)
  Prints "<DIR or FILE>: <N> tiles"; with a terminal on standard error a
  progress line shows the tiles written and the rate. SIGINT, SIGTERM or
  SIGHUP stop it at the next tile (exit status 128 + the signal's number):
  the tiles of a DIR written so far stay, an unfinished FILE.mbtiles is
  removed and the old file kept.

Web page:
  --web DIR           the same XYZ tiles in DIR plus DIR/index.html, a map page
                      on the Leaflet library of Debian's libjs-leaflet (copied to
                      DIR/leaflet/ with its licence), that works from any static
                      web host or straight from the disk. It opens fitted to the
                      marks, with a layer switch. Prints "DIR/index.html" last.
  --base-map URL|none the base map under the marks: an XYZ URL template such as
                      https://tile.example.org/{z}/{x}/{y}.png, or none. Default:
                      the tile source set in the desktop program (Settings).
                      Without one the coast (GSHHG, when installed) is drawn
                      into DIR/coast/ up to zoom 10 around the marks. The page
                      contacts no server but the base map's.
  --attribution TEXT  the base map's attribution, shown on the page

Places (GeoJSON or CSV; see places --help):
  --places FILE       write the visited countries (states, continents) to FILE:
                      ending .csv the table places --format csv prints; ending
                      .geojson or .json each region's outline as a MultiPolygon
                      with code, name, level, cells, km2, share and areaKm2 as
                      properties, for GIS programs
  --by country|state|continent
                      what to write (default country)
  --bbox S,W,N,E      count only the cells in this box

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
    case CliCommand::kServe:
      return R"(Usage: roamgrid-cli [-C DIR | --user-store] serve [--port N] [--bind ADDRESS]
                                     [--color RRGGBB]

Serves the marks as a live map layer over HTTP, read only, until SIGINT
(Ctrl+C) or SIGTERM:
  /{z}/{x}/{y}.png   the marks of map tile z/x/y (Web Mercator XYZ, 256 x 256,
                     transparent where nothing is visited), for a map app, a
                     web map or an XYZ layer in a GIS program; with an ETag, so
                     clients ask again cheaply. New imports show within a
                     second.
  /tiles.json        the layer as TileJSON
  /                  the web page of export --web, over the coast-less map
Only GET and HEAD are answered; any other path gets 404, and no file is
ever read because a request names it. Connections, request size and time
are bounded. Prints "serving http://ADDRESS:PORT/ ..." when ready.

Options:
  --port N           the port (default 8745; 0: any free port)
  --bind ADDRESS     the address to listen on (default 127.0.0.1, this machine
                     only); another address warns that other machines can see
                     where you have been
  --color RRGGBB     the colour of the marks (default ff0000)
  -h, --help         show this help

Exit status: 0 stopped by a signal, 1 the address could not be used, 2 usage
error.
)";
    case CliCommand::kPlaces:
      return PlacesHelpText();
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
  export [FILE]   write a view or region as BMP, PNG, GeoTIFF, GeoJSON or KML;
                  map tiles (--tiles) or a web page (--web)
  stats           count the tile files, visited cells, visited area and
                  explorer tiles
  check [--clean] [--fold-conflicts]
                  list damaged tiles, abandoned temporary files and conflict
                  copies of sync tools
  merge STORE...  OR the tiles of other stores into this one
  serve           serve the marks as map tiles and a web page over HTTP
  places          list the countries, states or continents visited, with
                  their cells, area and share (needs gmt-dcw)

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
