// The regions of the country outlines (gmt-dcw): about 250 countries with
// their continents and the states or provinces of 8 large countries, their
// codes as GMT writes them ("FR", "US.TX"), their names from
// dcw-countries.txt and dcw-states.txt, and their outlines decoded from
// dcw-gmt.nc (geo/dcw_arrays.h).
//
// An outline is a set of rings whose edges run straight in longitude and
// latitude; a point belongs to the region when it lies inside an odd number
// of them (the even-odd rule), so holes and enclaves are rings inside rings.
// Longitudes are kept as the file gives them (many lie between 180 and 360,
// Russia's run to 191) and are unwrapped along each ring, so that no edge
// jumps round the globe; a point is tested at its longitude and at the same
// place one turn east or west. A ring that goes once round the globe (the
// coast of Antarctica) is closed through its pole.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "geo/dcw_arrays.h"

namespace roamgrid {

// The folder Debian's gmt-dcw package installs into, and its three files.
inline constexpr char kDcwFolder[] = "/usr/share/gmt-dcw";
inline constexpr char kDcwOutlinesFile[] = "dcw-gmt.nc";
inline constexpr char kDcwCountriesFile[] = "dcw-countries.txt";
inline constexpr char kDcwStatesFile[] = "dcw-states.txt";

// The folder to read: $ROAMGRID_DCW_DIR when set and not empty, else
// kDcwFolder.
std::string DcwFolderFromEnvironment();

enum class PlaceLevel : uint8_t { kCountry, kState, kContinent };

struct Continent {
  const char* code;
  const char* name;
};
// The continents of dcw-countries.txt, in code order.
inline constexpr std::array<Continent, 7> kContinents = {{{"AF", "Africa"},
                                                          {"AN", "Antarctica"},
                                                          {"AS", "Asia"},
                                                          {"EU", "Europe"},
                                                          {"NA", "North America"},
                                                          {"OC", "Oceania"},
                                                          {"SA", "South America"}}};
// The index in kContinents of a continent code; -1 for none.
int ContinentIndex(std::string_view code);

// One country or state.
struct RegionInfo {
  std::string code;  // "FR", "US.TX"
  std::string name;  // "France", "Texas"; the code when the lists have no name
  PlaceLevel level = PlaceLevel::kCountry;
  int32_t country = -1;    // a state's country (a region index); -1 for a country or none
  int32_t continent = -1;  // index in kContinents (a state's is its country's); -1 unknown
  // Bounds from the file's attributes, degrees; longitudes may pass 180.
  double west = 0, east = 0, south = 0, north = 0;
  bool operator==(const RegionInfo&) const = default;
};

// The names lists: continent and name of each country code, name of each
// state code ("US.TX"). Lines starting with '#' and lines that are not
// "<two codes> <name>" are passed over; names are cut at 200 bytes.
struct DcwNames {
  struct Country {
    std::string continent;
    std::string name;
  };
  std::map<std::string, Country, std::less<>> countries;
  std::map<std::string, std::string, std::less<>> states;
};
DcwNames ParseDcwNames(std::string_view countriesText, std::string_view statesText);

// The regions of a file's variables with their names: a code of two
// characters is a country, a longer one ("USTX") the state "US.TX" of the
// country "US". Bounds come from the attributes as they stand (checked
// only when the outline is decoded).
std::vector<RegionInfo> DescribeRegions(const std::vector<DcwVariable>& variables,
                                        const DcwNames& names);

// Whether the outline of `region` may meet the box from (west, south) to
// (east, north) degrees, judged from the region's bounds before its outline
// is read: its longitudes are unwrapped along the rings, so only their place
// round the globe is known, and a region whose bounds span half the globe
// may go round it and reach a pole.
bool RegionMayMeet(const RegionInfo& region, double west, double south, double east, double north);

// Latitude bands of the edge index: 0.05 degree, one row of store tiles;
// band b covers latitudes b / 20 to (b + 1) / 20.
constexpr int kBandsPerDegree = 20;

// One region's outline, decoded.
struct RegionShape {
  // The points of every ring, degrees; ring k holds the points
  // ringStart[k] .. ringStart[k + 1] - 1 and its last point joins its first.
  std::vector<double> lon, lat;
  std::vector<uint32_t> ringStart;  // one more than the rings
  // The point each edge ends at: edge i runs from point i to point next[i].
  std::vector<uint32_t> next;
  // How many other rings hold each ring: even for an outer ring, odd for a
  // hole.
  std::vector<uint32_t> depth;
  // Bounds of the points, degrees.
  double west = 0, east = 0, south = 0, north = 0;
  // The region's area on the sphere: the even-odd rule over its rings.
  double areaKm2 = 0;
  // The edges that reach into each latitude band: those of band
  // firstBand + k are bandEdges[bandStart[k] .. bandStart[k + 1] - 1].
  int32_t firstBand = 0;
  std::vector<uint32_t> bandStart;
  std::vector<uint32_t> bandEdges;

  size_t rings() const { return ringStart.empty() ? 0 : ringStart.size() - 1; }
  size_t Bytes() const;
  // The edges that reach into band `band` (empty outside the outline).
  std::pair<const uint32_t*, const uint32_t*> BandEdges(int64_t band) const;
  // Whether the point (lon, lat) lies inside an odd number of rings,
  // tested with the band's edges (the point as given; no turn added).
  bool Contains(double lon, double lat) const;
  // Whether the point or one of its copies a whole number of turns east or
  // west lies inside: the test of membership.
  bool ContainsAnyTurn(double lon, double lat) const;
};

// The ring that immediately holds each ring (one level less deep, with the
// ring's points inside it), or -1: for an outer ring, or for a hole whose
// holder cannot be told (then it is drawn as a ring of its own).
std::vector<int32_t> RingParents(const RegionShape& shape);

// Decodes the arrays of one region: checks the attributes (finite, a
// positive scale, latitudes within the poles, longitudes within -360 to
// 720), splits the rings at the separators, drops rings of fewer than three
// points, unwraps longitudes along each ring and closes a ring that goes
// round the globe through the pole on its side, then indexes the edges by
// band and measures the area. False with a reason in `problem` for arrays
// of other lengths than the variable says, unsound attributes, values that
// decode beyond the globe, a ring that winds round the globe more than
// once, an outline wider than two turns, or no ring at all.
bool DecodeDcwRegion(const DcwVariable& variable, const std::vector<uint16_t>& lon,
                     const std::vector<uint16_t>& lat, RegionShape& shape, std::string& problem);

// The country outlines of one folder, opened when first asked for. Every
// problem gives one line in problem() and no regions or outlines from then
// on: a damaged or foreign file gives no places at all.
class DcwCatalogue {
 public:
  // Reads `folder` (files named as gmt-dcw names them).
  explicit DcwCatalogue(std::string folder);
  // Reads given arrays and names (tests, fuzzing); `identity` stands for
  // the files' identity (none: the index keeps no cache).
  DcwCatalogue(std::unique_ptr<DcwArrays> arrays, const DcwNames& names, std::string identity = {});
  ~DcwCatalogue();
  DcwCatalogue(const DcwCatalogue&) = delete;
  DcwCatalogue& operator=(const DcwCatalogue&) = delete;

  // Opens the file and lists its regions (once). False when it is missing
  // (missing() then true), cannot be read, is damaged or holds no outline.
  bool Open();
  bool missing() const { return missing_; }
  const std::string& problem() const { return problem_; }
  const std::vector<RegionInfo>& regions() const { return regions_; }

  // The outline of region `index`, read and decoded now; null after a
  // problem (which then ends the catalogue, see above).
  std::shared_ptr<const RegionShape> Shape(size_t index);

  const std::string& outlinesPath() const { return outlinesPath_; }
  // Whether the outlines come from files (not from given arrays).
  bool fromFiles() const { return !folder_.empty(); }
  // What identifies the files the outlines come from, for the index cache:
  // whether each of the three is there, its size and modification time.
  // Empty when the outlines file is not there.
  std::string Identity() const;

 private:
  void Fail(const std::string& what);

  std::string folder_;
  std::string outlinesPath_;
  std::string identity_;
  std::unique_ptr<DcwArrays> arrays_;
  DcwNames names_;
  bool opened_ = false;
  bool failed_ = false;
  bool missing_ = false;
  std::string problem_;
  std::vector<RegionInfo> regions_;
};

// Why there are no places, in one line for a person: "install gmt-dcw
// (...)" when the outlines file is missing, else the catalogue's problem
// and "no places (reinstall gmt-dcw)". Empty without a problem.
std::string DcwProblemText(const DcwCatalogue& catalogue);

}  // namespace roamgrid
