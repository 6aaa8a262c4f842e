// The store folder of both programs: where the tiles (RGD/) and the home
// file (Roamgrid.cfg) live. Without an option it is the working directory;
// `-C DIR` changes to DIR (several: each relative to the last), and
// `--user-store` to ${XDG_DATA_HOME:-$HOME/.local/share}/roamgrid, which is
// created when missing. The programs change into it once, at start-up,
// before anything reads or writes the store.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace roamgrid {

// The store folder as asked for on the command line.
struct StoreFolderRequest {
  std::vector<std::string> directories;  // -C DIR, applied in order
  bool userStore = false;                // --user-store
  bool operator==(const StoreFolderRequest&) const = default;
};

// Reads a store option at arguments[at]: "-C DIR" or "--user-store".
// Returns false when arguments[at] is neither (nothing changes). Returns
// true when it is one: then `at` moves past it and its value, or `error`
// says what is wrong with it (a missing or empty DIR, -C together with
// --user-store, --user-store twice).
bool TakeStoreOption(const std::vector<std::string>& arguments, size_t& at,
                     StoreFolderRequest& request, std::string& error);

// The user store folder for the given values of XDG_DATA_HOME and HOME
// (null when unset): "$XDG_DATA_HOME/roamgrid" when that is an absolute
// path, else "$HOME/.local/share/roamgrid" when HOME is an absolute path,
// else empty (no user store can be named).
std::string UserStoreFolder(const char* xdgDataHome, const char* home);

// Changes the working directory to the folder `request` names, creating
// the user store folder and its missing parents (mode 0700) first. The
// environment is read only for --user-store. Returns an empty string on
// success, else one line naming the folder and the system's reason; the
// working directory is then unchanged or one of the -C folders before the
// one that failed, and the caller must not use a store.
std::string EnterStoreFolder(const StoreFolderRequest& request);

// The same with XDG_DATA_HOME and HOME given (null when unset).
std::string EnterStoreFolder(const StoreFolderRequest& request, const char* xdgDataHome,
                             const char* home);

}  // namespace roamgrid
