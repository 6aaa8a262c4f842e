// roamgrid-cli as a whole: the arguments read, the store folder entered,
// the command run.
#include <filesystem>
#include <system_error>

#include "cli/cli_commands.h"
#include "cli/cli_output.h"
#include "cli/places_cmd.h"
#include "common/store_folder.h"
#include "import/import_run.h"

namespace roamgrid {

namespace {

namespace fs = std::filesystem;

// `path` made absolute against the working directory; "-" (standard
// input) and a path that cannot be made absolute stay as they are.
std::string PathFromHere(const std::string& path) {
  if (path == kStandardInputLog) return path;
  std::error_code failed;
  const fs::path absolute = fs::absolute(path, failed);
  return failed ? path : absolute.string();
}

}  // namespace

int RunCli(const std::vector<std::string>& arguments, std::FILE* out, std::FILE* err) {
  const CliParse parse = ParseCliArgs(arguments);
  if (!parse.ok()) {
    Error(err, parse.error);
    return kExitUsage;
  }
  CliArgs args = parse.args;
  if (args.version) {
    Say(out, ROAMGRID_VERSION);
    return kExitOk;
  }
  if (args.help) {
    std::fputs(CliHelpText(args.command).c_str(), out);
    std::fflush(out);
    return kExitOk;
  }
  // The user store folder is not where the user is: relative LOG and FILE
  // paths stay relative to the folder the command was started in. (-C DIR
  // changes there first, so its paths are relative to DIR.)
  if (args.store.userStore) {
    for (std::string& log : args.logs) log = PathFromHere(log);
    for (std::string& store : args.stores) store = PathFromHere(store);
    if (args.file) args.file = PathFromHere(*args.file);
    if (args.placesFile) args.placesFile = PathFromHere(*args.placesFile);
  }
  if (const std::string error = EnterStoreFolder(args.store); !error.empty()) {
    Error(err, error);
    return kExitFailure;
  }
  switch (args.command) {
    case CliCommand::kImport:
      return RunImport(args, out, err);
    case CliCommand::kExport:
      return RunExport(args, out, err);
    case CliCommand::kStats:
      return RunStats(args, out, err);
    case CliCommand::kCheck:
      return RunCheck(args, out, err);
    case CliCommand::kMerge:
      return RunMerge(args, out, err);
    case CliCommand::kPlaces:
      return RunPlaces(args, out, err);
    case CliCommand::kServe:
      return RunServe(args, out, err);
    case CliCommand::kNone:
      break;
  }
  return kExitUsage;
}

}  // namespace roamgrid
