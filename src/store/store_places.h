// Counting the whole store by place: every tile file is walked once, its
// regions looked up in the region index (geo/region_index.h) and its
// visited cells added to a PlacesTally. Both programs use it: the CLI's
// places and export --places, and the Places layer of the Map window.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "export/region_cells.h"
#include "geo/places_tally.h"
#include "geo/region_index.h"

namespace roamgrid {

struct StorePlaces {
  // The counts; none when the outlines could not be read (the index's
  // catalogue says why). It refers to the index's regions.
  std::optional<PlacesTally> tally;
  // Tiles and folders that were not read whole, one text each such as
  // "'RGD/E139N035/E13975-N03500.map': damaged"; the counts leave them out.
  std::vector<std::string> problems;
};

// A tile file of the store: "RGD/E139N035/E13975-N03500.map" and its key.
struct StoreTileFile {
  std::string path;
  int32_t latKey = 0, lonKey = 0;
};

// The tile files below "RGD" in the working directory, in path order;
// folders that cannot be listed and what is no regular file at a tile's
// name are added to `problems` ("cannot read the folder 'RGD/E139N035'").
std::vector<StoreTileFile> ListStoreTileFiles(std::vector<std::string>& problems);

// Adds the visited cells of the tile file bytes `file` of tile (latKey,
// lonKey) to `tally`, by the regions of `index` (prepared for the tile).
// False when the bytes do not load whole: the cells before the damage are
// counted.
bool AddTilePlaces(const uint8_t* file, size_t size, int32_t latKey, int32_t lonKey,
                   RegionIndex& index, PlacesTally& tally);

// Counts the visited cells below "RGD" in the working directory (only
// those inside `box`, when given) by the regions of `index`, which is
// prepared for every tile counted.
StorePlaces CountStorePlaces(RegionIndex& index, const std::optional<CellRegion>& box);

// The visited places of `level` with their shares, the areas they need
// read first. Empty when those outlines cannot be read.
std::vector<PlaceLine> StorePlaceLines(const PlacesTally& tally, RegionIndex& index,
                                       PlaceLevel level);

}  // namespace roamgrid
