#include "geo/netcdf_file.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>

#include "netcdf/netcdf_plugin_api.h"

// Set by the build: the plugin's folder relative to the programs' folder,
// and its absolute installed folder.
#ifndef ROAMGRID_NETCDF_PLUGIN_RELATIVE_DIR
#define ROAMGRID_NETCDF_PLUGIN_RELATIVE_DIR "../lib/roamgrid"
#endif
#ifndef ROAMGRID_NETCDF_PLUGIN_INSTALL_DIR
#define ROAMGRID_NETCDF_PLUGIN_INSTALL_DIR "/usr/lib/roamgrid"
#endif

namespace roamgrid {
namespace {

constexpr char kPluginFileName[] = "libroamgrid-netcdf.so";
// The smallest netCDF file: a classic header with nothing in it is 32
// bytes, an HDF5 superblock alone more.
constexpr uint64_t kMinFileBytes = 32;

// A little-endian unsigned number of `bytes` bytes (2, 4 or 8).
uint64_t LittleEndian(const uint8_t* p, int bytes) {
  uint64_t value = 0;
  for (int at = bytes - 1; at >= 0; --at) value = value << 8 | p[at];
  return value;
}

// The plugin, loaded at most once per process and never unloaded: the
// library keeps state of its own for the life of the process.
struct LoadedPlugin {
  const RoamgridNetcdfPlugin* table = nullptr;
  std::string error;  // why it could not be loaded
};

const LoadedPlugin& Plugin() {
  static const LoadedPlugin loaded = [] {
    LoadedPlugin result;
    std::string tried;
    for (const std::string& path : NetcdfPluginCandidates()) {
      std::error_code ignored;
      if (!std::filesystem::is_regular_file(path, ignored)) {
        tried += (tried.empty() ? "" : ", ") + path;
        continue;
      }
      void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
      if (!handle) {
        const char* why = dlerror();
        result.error = "cannot load the netCDF reader " + path + ": " + (why ? why : "unknown");
        return result;
      }
      const auto entry =
          reinterpret_cast<RoamgridNetcdfPluginEntry>(dlsym(handle, ROAMGRID_NETCDF_PLUGIN_SYMBOL));
      const RoamgridNetcdfPlugin* table = entry ? entry(ROAMGRID_NETCDF_PLUGIN_ABI) : nullptr;
      if (!table || table->size < sizeof(RoamgridNetcdfPlugin)) {
        dlclose(handle);
        result.error = "the netCDF reader " + path + " belongs to another version of Roamgrid";
        return result;
      }
      result.table = table;
      return result;
    }
    result.error = "the netCDF reader " + std::string(kPluginFileName) +
                   " is not installed (looked for " + tried + ")";
    return result;
  }();
  return loaded;
}

// A file open in the plugin.
class PluginFile : public NetcdfFile {
 public:
  PluginFile(const RoamgridNetcdfPlugin& plugin, int ncid, std::string path)
      : plugin_(plugin), ncid_(ncid), path_(std::move(path)) {}
  ~PluginFile() override { plugin_.close_file(ncid_); }  // read-only: nothing to lose

  std::vector<std::string> VariableNames() override {
    std::vector<std::string> names;
    int count = 0;
    if (!Ok(plugin_.variable_count(ncid_, &count), "variables")) return names;
    for (int id = 0; id < count; ++id) {
      std::array<char, 512> name{};
      if (!Ok(plugin_.variable_name(ncid_, id, name.data(), name.size()), "variable names")) {
        return {};
      }
      names.emplace_back(name.data());
    }
    return names;
  }

  std::optional<NetcdfVariable> FindVariable(const std::string& name) override {
    NetcdfVariable variable;
    if (!Ok(plugin_.variable_id(ncid_, name.c_str(), &variable.id), name)) return std::nullopt;
    int type = 0;
    int dims = 0;
    std::array<size_t, kNetcdfMaxDimensions> lengths{};
    if (!Ok(plugin_.variable_shape(ncid_, variable.id, &type, &dims, lengths.data(),
                                   kNetcdfMaxDimensions),
            name)) {
      return std::nullopt;
    }
    variable.type = static_cast<NetcdfType>(type);
    if (dims < 0 || dims > kNetcdfMaxDimensions) {
      Fail(name + ": " + std::to_string(dims) + " dimensions");
      return std::nullopt;
    }
    variable.shape.assign(lengths.begin(), lengths.begin() + dims);
    return variable;
  }

  std::optional<size_t> DimensionLength(const std::string& name) override {
    size_t length = 0;
    if (!Ok(plugin_.dimension_length(ncid_, name.c_str(), &length), name)) return std::nullopt;
    return length;
  }

  std::optional<double> DoubleAttribute(int variable, const std::string& name) override {
    double value = 0;
    if (!Ok(plugin_.attribute_double(ncid_, variable, name.c_str(), &value), name)) {
      return std::nullopt;
    }
    return value;
  }

  std::optional<std::string> TextAttribute(int variable, const std::string& name,
                                           size_t maxBytes) override {
    int type = 0;
    size_t length = 0;
    if (!Ok(plugin_.attribute_info(ncid_, variable, name.c_str(), &type, &length), name)) {
      return std::nullopt;
    }
    if (length > maxBytes) {
      Fail(name + ": " + std::to_string(length) + " bytes, more than " + std::to_string(maxBytes));
      return std::nullopt;
    }
    std::string text(length, '\0');
    if (!Ok(plugin_.attribute_text(ncid_, variable, name.c_str(), text.data(), text.size()),
            name)) {
      return std::nullopt;
    }
    return text;
  }

 protected:
  bool ReadChecked(const NetcdfVariable& variable, size_t start, size_t count, ValueType type,
                   void* out) override {
    int memType = kRoamgridNetcdfDouble;
    switch (type) {
      case ValueType::kInt8:
        memType = kRoamgridNetcdfInt8;
        break;
      case ValueType::kInt16:
        memType = kRoamgridNetcdfInt16;
        break;
      case ValueType::kUint16:
        memType = kRoamgridNetcdfUint16;
        break;
      case ValueType::kInt32:
        memType = kRoamgridNetcdfInt32;
        break;
      case ValueType::kDouble:
        break;
    }
    return Ok(plugin_.read_values(ncid_, variable.id, start, count, memType, out), "values");
  }

 private:
  bool Ok(int status, const std::string& what) {
    if (status == 0) return true;
    const char* text = plugin_.error_text(status);
    return Fail(what + ": " + (text ? text : "error " + std::to_string(status)));
  }

  const RoamgridNetcdfPlugin& plugin_;
  int ncid_;
  std::string path_;
};

}  // namespace

bool NetcdfFile::CheckedRead(const NetcdfVariable& variable, size_t start, size_t count,
                             ValueType type, void* out) {
  if (!variable.OneDimensional()) {
    return Fail("a variable of " + std::to_string(variable.shape.size()) + " dimensions");
  }
  if (start > variable.shape[0] || count > variable.shape[0] - start) {
    return Fail("values " + std::to_string(start) + " to " + std::to_string(start + count) +
                " of a variable of " + std::to_string(variable.shape[0]));
  }
  if (count == 0) return true;
  return ReadChecked(variable, start, count, type, out);
}

bool NetcdfFile::Read(const NetcdfVariable& variable, size_t start, size_t count, int8_t* out) {
  return CheckedRead(variable, start, count, ValueType::kInt8, out);
}
bool NetcdfFile::Read(const NetcdfVariable& variable, size_t start, size_t count, int16_t* out) {
  return CheckedRead(variable, start, count, ValueType::kInt16, out);
}
bool NetcdfFile::Read(const NetcdfVariable& variable, size_t start, size_t count, uint16_t* out) {
  return CheckedRead(variable, start, count, ValueType::kUint16, out);
}
bool NetcdfFile::Read(const NetcdfVariable& variable, size_t start, size_t count, int32_t* out) {
  return CheckedRead(variable, start, count, ValueType::kInt32, out);
}
bool NetcdfFile::Read(const NetcdfVariable& variable, size_t start, size_t count, double* out) {
  return CheckedRead(variable, start, count, ValueType::kDouble, out);
}

std::string CheckNetcdfHead(const uint8_t* head, size_t headBytes, uint64_t fileBytes,
                            uint64_t maxFileBytes) {
  if (fileBytes < kMinFileBytes) return "only " + std::to_string(fileBytes) + " bytes long";
  if (fileBytes > maxFileBytes) {
    return std::to_string(fileBytes) + " bytes long, more than a sound file of its kind";
  }
  headBytes = std::min(headBytes, kNetcdfHeadBytes);
  // The classic formats: "CDF" and the version 1 (32-bit offsets), 2
  // (64-bit offsets) or 5 (64-bit data).
  if (headBytes >= 4 && std::memcmp(head, "CDF", 3) == 0 &&
      (head[3] == 1 || head[3] == 2 || head[3] == 5)) {
    return {};
  }
  static constexpr uint8_t kHdf5Signature[8] = {0x89, 'H', 'D', 'F', '\r', '\n', 0x1a, '\n'};
  if (headBytes < 9 || std::memcmp(head, kHdf5Signature, 8) != 0) return "not a netCDF file";

  // The HDF5 superblock: versions 0 and 1 keep the sizes of addresses and
  // lengths at bytes 13 and 14 and their addresses from byte 24 (28 in
  // version 1): base, free space, end of file, driver; versions 2 and 3 at
  // bytes 9 and 10, and from byte 12: base, extension, end of file, root.
  const int version = head[8];
  int offsetBytes = 0;
  int lengthBytes = 0;
  size_t addresses = 0;
  if (version == 0 || version == 1) {
    if (headBytes < 15) return "an HDF5 superblock cut short";
    offsetBytes = head[13];
    lengthBytes = head[14];
    addresses = version == 0 ? 24 : 28;
  } else if (version == 2 || version == 3) {
    offsetBytes = head[9];
    lengthBytes = head[10];
    addresses = 12;
  } else {
    return "an HDF5 superblock of unknown version " + std::to_string(version);
  }
  const auto sane = [](int bytes) { return bytes == 2 || bytes == 4 || bytes == 8; };
  if (!sane(offsetBytes) || !sane(lengthBytes)) return "an HDF5 superblock of unknown form";
  if (headBytes < addresses + 4 * size_t(offsetBytes)) return "an HDF5 superblock cut short";
  const uint64_t undefined =
      offsetBytes == 8 ? ~uint64_t(0) : (uint64_t(1) << (8 * offsetBytes)) - 1;
  const uint64_t base = LittleEndian(head + addresses, offsetBytes);
  const uint64_t end = LittleEndian(head + addresses + 2 * size_t(offsetBytes), offsetBytes);
  if (base == undefined || end == undefined || base > fileBytes) {
    return "an HDF5 superblock without a valid end";
  }
  if (end > fileBytes - base) {
    return "cut short: " + std::to_string(fileBytes) + " bytes where its header counts " +
           std::to_string(base + end);
  }
  return {};
}

std::string CheckNetcdfFileOnDisk(const std::string& path, uint64_t maxFileBytes) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return std::strerror(errno);
  std::string problem;
  struct stat about {};
  uint8_t head[kNetcdfHeadBytes] = {};
  ssize_t got = 0;
  if (fstat(fd, &about) != 0) {
    problem = std::strerror(errno);
  } else if (!S_ISREG(about.st_mode)) {
    problem = "not a regular file";
  } else if ((got = pread(fd, head, sizeof head, 0)) < 0) {
    problem = std::strerror(errno);
  } else {
    problem = CheckNetcdfHead(head, size_t(got), uint64_t(about.st_size), maxFileBytes);
  }
  close(fd);
  return problem;
}

std::vector<std::string> NetcdfPluginCandidates() {
  std::vector<std::string> candidates;
  std::array<char, PATH_MAX> self{};
  const ssize_t length = readlink("/proc/self/exe", self.data(), self.size() - 1);
  if (length > 0) {
    const std::filesystem::path program(std::string(self.data(), size_t(length)));
    candidates.push_back(
        (program.parent_path() / ROAMGRID_NETCDF_PLUGIN_RELATIVE_DIR / kPluginFileName)
            .lexically_normal()
            .string());
  }
  const std::string installed =
      std::string(ROAMGRID_NETCDF_PLUGIN_INSTALL_DIR) + "/" + kPluginFileName;
  if (candidates.empty() || candidates.front() != installed) candidates.push_back(installed);
  return candidates;
}

bool NetcdfPluginLoaded() {
  // Asked without loading: RTLD_NOLOAD finds it only when already there.
  for (const std::string& path : NetcdfPluginCandidates()) {
    if (void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD)) {
      dlclose(handle);  // drops the reference just taken, not the plugin
      return true;
    }
  }
  return false;
}

std::string NetcdfPluginProblem() { return Plugin().table ? std::string() : Plugin().error; }

std::unique_ptr<NetcdfFile> OpenNetcdfFile(const std::string& path, std::string* error) {
  const LoadedPlugin& plugin = Plugin();
  if (!plugin.table) {
    if (error) *error = plugin.error;
    return nullptr;
  }
  int ncid = -1;
  const int status = plugin.table->open_file(path.c_str(), &ncid);
  if (status != 0) {
    const char* text = plugin.table->error_text(status);
    if (error) *error = text ? text : "error " + std::to_string(status);
    return nullptr;
  }
  return std::make_unique<PluginFile>(*plugin.table, ncid, path);
}

}  // namespace roamgrid
