// roamgrid-cli check: damaged tiles, abandoned temporary files and the
// conflict copies of sync tools, cleaned or folded on request.
#include <cstring>

#include "cli/cli_commands.h"
#include "cli/cli_output.h"
#include "common/text.h"
#include "store/store_check.h"
#include "store/store_walk.h"
#include "tiles/store_lock.h"

namespace roamgrid {

int RunCheck(const CliArgs& args, std::FILE* out, std::FILE* err) {
  struct SayWait : StoreLockWait {
    std::FILE* err;
    explicit SayWait(std::FILE* stream) : err(stream) {}
    void Waiting(bool waiting) override {
      if (waiting) Error(err, "check: waiting for the store lock held by another program");
    }
  } sayWait(err);
  const ScopedStoreLockWait waitHandler(&sayWait);
  const StoreCheck check = CheckStore(args.clean, args.foldConflicts);
  for (const TileLoadFailure& failure : check.notLoadedWhole)
    Say(out, failure.path + LoadFailureText(failure));
  for (const StoreEntry& odd : check.oddEntries)
    Say(out, odd.path + ": " + odd.what + ", left alone");
  for (const std::string& path : check.outsideGrid)
    Say(out, path + ": " + kOutsideGridText + ", left alone");
  for (const std::string& folder : check.unreadableFolders)
    Say(out, folder + ": folder cannot be read");
  long long removed = 0;
  for (const AbandonedTempFile& temp : check.abandonedTempFiles) {
    Say(out, temp.path + ": abandoned temporary file" + (temp.removed ? ", removed" : ""));
    removed += temp.removed;
    if (temp.error != 0)
      Error(err, "check: cannot remove " + Quoted(temp.path) + ": " + std::strerror(temp.error));
  }
  long long folded = 0;
  for (const ConflictCopyFound& copy : check.conflictCopies) {
    std::string line = copy.path + ": conflict copy of " + copy.tilePath;
    if (copy.folded) {
      line += ", folded (" + std::to_string(copy.merge.newCells) + " new cells)";
      ++folded;
    } else if (args.foldConflicts && copy.removeError == 0) {
      line += ", not folded: " + NotFoldedReason(copy);
    }
    Say(out, line);
    if (copy.removeError != 0)
      Error(err, "check: " + Quoted(copy.path) + " was folded into " + Quoted(copy.tilePath) +
                     " but cannot be removed: " + std::strerror(copy.removeError));
  }
  std::string summary = std::to_string(check.tileFiles) + " tile files, " +
                        std::to_string(check.notLoadedWhole.size()) + " not loaded whole, " +
                        std::to_string(check.abandonedTempFiles.size()) +
                        " abandoned temporary files";
  if (args.clean) summary += " (" + std::to_string(removed) + " removed)";
  if (!check.conflictCopies.empty() || args.foldConflicts) {
    summary += ", " + std::to_string(check.conflictCopies.size()) + " conflict copies";
    if (args.foldConflicts) summary += " (" + std::to_string(folded) + " folded)";
  }
  if (!check.unreadableFolders.empty())
    summary += ", " + std::to_string(check.unreadableFolders.size()) + " folders not read";
  if (!check.oddEntries.empty())
    summary += ", " + std::to_string(check.oddEntries.size()) + " other entries left alone";
  if (!check.outsideGrid.empty())
    summary +=
        ", " + std::to_string(check.outsideGrid.size()) + " tiles outside the grid left alone";
  Say(out, summary + (check.sound() ? ": the store is sound" : ": problems found"));
  return check.sound() ? kExitOk : kExitFailure;
}

}  // namespace roamgrid
