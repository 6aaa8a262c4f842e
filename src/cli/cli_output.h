// What the commands of roamgrid-cli share in what they print: one line of
// a result on standard output, one line per problem on standard error
// ("roamgrid-cli: what"), and the words for what a store walk or a tile
// merge met.
#pragma once

#include <cstdio>
#include <string>

#include "store/store_stats.h"
#include "store/tile_merge.h"

namespace roamgrid {

// Writes `line` and a line feed, flushed at once.
void Say(std::FILE* stream, const std::string& line);

// "roamgrid-cli: " + `what` on `err`.
void Error(std::FILE* err, const std::string& what);

// ": damaged", or ": cannot be read" with the reason when one is known.
std::string LoadFailureText(const TileLoadFailure& failure);

// Names the folders and tiles a walk of the store could not read, for
// `command`; false when there were any.
bool ReportStoreProblems(const StoreStats& stats, const std::string& command, std::FILE* err);

}  // namespace roamgrid
