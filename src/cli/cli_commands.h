// roamgrid-cli's commands: each reads its arguments (already parsed), calls
// the core and reports on `out` (results) and `err` (one line per error).
// They return the exit status: 0 success, 1 failure, 2 usage error.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli_args.h"

namespace roamgrid {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// The whole program: parses `arguments` (those after the program name),
// changes to the -C directories and runs the command.
int RunCli(const std::vector<std::string>& arguments, std::FILE* out, std::FILE* err);

// The commands, run in the working directory.
int RunImport(const CliArgs& args, std::FILE* out, std::FILE* err);
int RunExport(const CliArgs& args, std::FILE* out, std::FILE* err);
int RunStats(const CliArgs& args, std::FILE* out, std::FILE* err);
int RunCheck(const CliArgs& args, std::FILE* out, std::FILE* err);
int RunMerge(const CliArgs& args, std::FILE* out, std::FILE* err);

}  // namespace roamgrid
