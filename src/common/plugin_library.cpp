#include "common/plugin_library.h"

#include <dlfcn.h>
#include <unistd.h>

#include <array>
#include <climits>
#include <filesystem>

// Set by the build: the plugins' folder relative to the programs' folder,
// and its absolute installed folder.
#ifndef ROAMGRID_PLUGIN_RELATIVE_DIR
#define ROAMGRID_PLUGIN_RELATIVE_DIR "../lib/roamgrid"
#endif
#ifndef ROAMGRID_PLUGIN_INSTALL_DIR
#define ROAMGRID_PLUGIN_INSTALL_DIR "/usr/lib/roamgrid"
#endif

namespace roamgrid {

std::vector<std::string> PluginCandidates(const std::string& fileName) {
  std::vector<std::string> candidates;
  std::array<char, PATH_MAX> self{};
  const ssize_t length = readlink("/proc/self/exe", self.data(), self.size() - 1);
  if (length > 0) {
    const std::filesystem::path program(std::string(self.data(), size_t(length)));
    candidates.push_back((program.parent_path() / ROAMGRID_PLUGIN_RELATIVE_DIR / fileName)
                             .lexically_normal()
                             .string());
  }
  const std::string installed = std::string(ROAMGRID_PLUGIN_INSTALL_DIR) + "/" + fileName;
  if (candidates.empty() || candidates.front() != installed) candidates.push_back(installed);
  return candidates;
}

bool PluginLoaded(const std::string& fileName) {
  // RTLD_NOLOAD finds it only when already there.
  for (const std::string& path : PluginCandidates(fileName)) {
    if (void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD)) {
      dlclose(handle);  // drops the reference just taken, not the plugin
      return true;
    }
  }
  return false;
}

PluginSymbol OpenPluginSymbol(const std::string& fileName, const char* symbol,
                              const std::string& what) {
  PluginSymbol result;
  std::string tried;
  for (const std::string& path : PluginCandidates(fileName)) {
    std::error_code ignored;
    if (!std::filesystem::is_regular_file(path, ignored)) {
      tried += (tried.empty() ? "" : ", ") + path;
      continue;
    }
    result.path = path;
    result.handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!result.handle) {
      const char* why = dlerror();
      result.error = "cannot load " + what + " " + path + ": " + (why ? why : "unknown");
      return result;
    }
    result.symbol = dlsym(result.handle, symbol);
    return result;
  }
  result.error = what + " " + fileName + " is not installed (looked for " + tried + ")";
  return result;
}

void ClosePlugin(void* handle) {
  if (handle) dlclose(handle);
}

std::string ForeignPluginError(const std::string& what, const std::string& path) {
  return what + " " + path + " belongs to another version of Roamgrid";
}

}  // namespace roamgrid
