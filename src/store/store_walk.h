// The one walk over the tile store that every whole-store command shares
// (stats, check and what builds on them): what stands below "RGD" in the
// working directory, told entry by entry, in path order.
//
// What is walked, and what is only named:
//   - "RGD" itself may be a symbolic link to a folder (a store kept on
//     another disk); it is followed.
//   - Below it, only real folders named as the store names tile folders
//     ("E139N035") are entered. A link is never followed, whatever its name
//     or target: a link or anything else under a tile folder's name, and
//     every other name, is told as kOdd and left alone.
//   - In a tile folder: a name that is exactly a tile's path is kTileFile
//     when a regular file, else kNotRegularTile (a link, a named pipe, a
//     folder, a device: what an import refuses); a tile's name whose keys
//     lie outside the grid (IsTileNameOutsideGrid) is kOutsideGrid,
//     whatever it is; a regular file named as
//     this program's temporary files (common/temp_name.h: the current form,
//     or "<tile name>.tmp<pid>-<n>" as earlier versions left beside a tile)
//     is kTempFile; anything else is kOdd.
//   - The lock file "RGD/.lock" of earlier versions is passed over in
//     silence.
// Nothing is opened but folders; the caller loads what it wants.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace roamgrid {

// The keys of a tile named by `path`, relative to the working directory,
// when it is exactly the path the store gives that tile of the grid
// ("RGD/E139N035/E13975-N03500.map" -> 3500, 13975); nothing otherwise
// (another name, a key not a multiple of 5, "W00000" for key 0, a tile
// outside the grid: see IsTileNameOutsideGrid...).
struct TileKey {
  int32_t latKey;
  int32_t lonKey;
  bool operator==(const TileKey&) const = default;
};
std::optional<TileKey> TileKeyFromPath(const std::string& path);

// Whether `path` is named as the store names a tile, but for keys outside
// the grid: a latitude key beyond -9000..9000 (the tile's south edge
// beyond the poles) or a longitude key beyond -18000..17995 ("E18000",
// which the store names W18000, included). No such tile is read, merged
// or counted; `check` names them.
bool IsTileNameOutsideGrid(const std::string& path);

// How the store's commands call such a name.
inline constexpr char kOutsideGridText[] =
    "a tile name outside the grid (latitude beyond 90 degrees or longitude beyond 180)";

struct StoreEntry {
  enum class Kind {
    kTileFile,          // a regular file at a tile's path; `key` set
    kNotRegularTile,    // something else at a tile's path; `key` set, `error` EINVAL or EISDIR
    kOutsideGrid,       // a tile's name for keys outside the grid; `key` not set, `what` says so
    kTempFile,          // a regular file named as this program's temporary files
    kOdd,               // anything else; `what` says what it is
    kUnreadableFolder,  // "RGD" or a tile folder that could not be listed; `error`
  };
  Kind kind = Kind::kOdd;
  std::string path;    // "RGD/E139N035/E13975-N03500.map"
  std::string folder;  // the tile folder it lies in ("RGD/E139N035"); "RGD" for its own entries
  std::string name;    // the last component
  TileKey key{};
  int error = 0;
  const char* what = "";  // for kOdd: "a symbolic link, not followed", ...
  bool regular = false;   // a regular file in a tile folder (of any kind)
};

// Walks the store as described above, calling `visit` for each entry in
// path order. No "RGD" is an empty store (nothing is told). Only one folder
// is listed at a time.
void WalkStore(const std::function<void(const StoreEntry&)>& visit);

// Whether `name` is a folder name of the tile store ("E139N035", "W001S090").
bool IsTileFolderName(const std::string& name);

}  // namespace roamgrid
