// roamgrid-cli: the store of the desktop program, from scripts and
// terminals. See cli_args.cpp for the command line.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "cli/cli_commands.h"

int main(int argc, char** argv) {
  try {
    const std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
    const int status = roamgrid::RunCli(arguments, stdout, stderr);
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
      std::fputs("roamgrid-cli: cannot write to standard output\n", stderr);
      return roamgrid::kExitFailure;
    }
    return status;
  } catch (const std::exception& e) {  // out of memory, in practice
    std::fprintf(stderr, "roamgrid-cli: %s\n", e.what());
    return roamgrid::kExitFailure;
  }
}
