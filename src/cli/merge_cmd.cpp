// roamgrid-cli merge: ORs the tiles of other stores into this one.
#include "cli/cli_commands.h"
#include "cli/cli_output.h"
#include "common/text.h"
#include "store/store_merge.h"
#include "store/store_walk.h"

namespace roamgrid {

int RunMerge(const CliArgs& args, std::FILE* out, std::FILE* err) {
  bool whole = true;
  for (const std::string& store : args.stores) {
    const StoreMergeReport report = MergeStore(store);
    if (!report.refused.empty()) {
      whole = false;
      Error(err, "merge: " + Quoted(store) + " " + report.refused + "; not merged");
      continue;
    }
    for (const std::string& folder : report.unreadableFolders)
      Error(err, "merge: cannot read the folder " + Quoted(folder) + "; its tiles were not merged");
    for (const StoreMergeReport::Problem& problem : report.problems)
      Error(err, "merge: " + Quoted(problem.path) + ": " +
                     TileMergeProblem(problem.merge, problem.tilePath) + "; skipped");
    // Marks at no place on earth are not carried over; not a failure.
    for (const std::string& path : report.outsideGrid)
      Error(err, "merge: " + Quoted(path) + ": " + kOutsideGridText + "; left alone");
    whole = whole && report.unreadableFolders.empty() && report.problems.empty();
    Say(out, store + ": " + std::to_string(report.tileFiles) + " tile files read, " +
                 std::to_string(report.tilesChanged) + " tiles gained cells, " +
                 std::to_string(report.newCells) + " new cells" +
                 (report.problems.empty()
                      ? ""
                      : ", " + std::to_string(report.problems.size()) + " tiles skipped") +
                 (report.outsideGrid.empty()
                      ? ""
                      : ", " + std::to_string(report.outsideGrid.size()) + " left alone"));
  }
  return whole ? kExitOk : kExitFailure;
}

}  // namespace roamgrid
