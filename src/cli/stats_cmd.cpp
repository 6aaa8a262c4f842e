// roamgrid-cli stats: counts over the whole store and its explorer tiles.
#include "cli/cli_commands.h"
#include "cli/cli_output.h"
#include "common/number_text.h"
#include "store/store_stats.h"

namespace roamgrid {

int RunStats(const CliArgs& args, std::FILE* out, std::FILE* err) {
  std::vector<ExplorerTileSet> explorer = ExplorerTileSets(args.explorerZooms);
  const StoreStats stats = CollectStoreStatsWithExplorer(explorer);
  Say(out, "tile files: " + std::to_string(stats.tileFiles));
  Say(out, "tiles not loaded whole: " + std::to_string(stats.notLoadedWhole.size()));
  for (const TileLoadFailure& failure : stats.notLoadedWhole)
    Say(out, "  " + failure.path + LoadFailureText(failure));
  Say(out, "visited cells: " + std::to_string(stats.visitedCells));
  Say(out, "visited area: " + FormatFixed(stats.visitedAreaKm2, 0, 6) + " km^2");
  if (stats.visitedBox) {
    const auto degrees = [](int32_t centi) { return FormatFixed(centi / 100.0, 0, 2); };
    const StoreStats::Box& box = *stats.visitedBox;
    Say(out, "bounding box: south " + degrees(box.south) + ", west " + degrees(box.west) +
                 ", north " + degrees(box.north) + ", east " + degrees(box.east));
  } else {
    Say(out, "bounding box: none");
  }
  for (const ExplorerTileSet& set : explorer) {
    const ExplorerSummary summary = set.Summarize();
    const std::string side = std::to_string(summary.maxSquare);
    Say(out, "explorer tiles at zoom " + std::to_string(set.zoom()) + ": " +
                 std::to_string(summary.explored) + ", max square " + side + "x" + side +
                 ", max cluster " + std::to_string(summary.maxCluster));
  }
  return ReportStoreProblems(stats, "stats", err) ? kExitOk : kExitFailure;
}

}  // namespace roamgrid
