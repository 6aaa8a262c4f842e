#include "cli/cli_output.h"

#include <cerrno>
#include <cstring>

#include "common/safe_file.h"
#include "common/text.h"

namespace roamgrid {

namespace {

constexpr char kProgram[] = "roamgrid-cli";

}  // namespace

void Say(std::FILE* stream, const std::string& line) {
  std::fputs(line.c_str(), stream);
  std::fputc('\n', stream);
  std::fflush(stream);
}

void Error(std::FILE* err, const std::string& what) {
  Say(err, std::string(kProgram) + ": " + what);
}

std::string LoadFailureText(const TileLoadFailure& failure) {
  if (failure.result == kDamaged) return ": damaged";
  return failure.error != 0 ? ": cannot be read: " + FileErrorText(failure.error)
                            : ": cannot be read";
}

bool ReportStoreProblems(const StoreStats& stats, const std::string& command, std::FILE* err) {
  for (const std::string& folder : stats.unreadableFolders)
    Error(err, command + ": cannot read the folder " + Quoted(folder));
  if (!stats.notLoadedWhole.empty())
    Error(err, command + ": " + std::to_string(stats.notLoadedWhole.size()) +
                   " tile files could not be loaded whole");
  return stats.unreadableFolders.empty() && stats.notLoadedWhole.empty();
}

}  // namespace roamgrid
