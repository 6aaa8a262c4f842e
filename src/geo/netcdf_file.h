// Reading netCDF files (the GSHHG coast, the DCW regions) without linking
// the netCDF library. The library, and through it HDF5, curl and a few
// dozen more, lives in a plugin (libroamgrid-netcdf.so, installed beside
// the programs' private files) that is loaded the first time a file is
// opened: a run that reads no netCDF file never loads it, and starts
// faster.
//
// NetcdfFile is the reading interface the readers use. OpenNetcdfFile gives
// one backed by the plugin; tests and fuzz targets give their own. Reads
// are bounded before they reach the library: a read past a variable's
// length, of a variable that is not one-dimensional, or into a type its
// values do not fit fails with a message, and never writes past the
// caller's buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace roamgrid {

// The netCDF types, numbered as the library numbers them.
enum class NetcdfType : int {
  kNone = 0,
  kByte = 1,
  kChar = 2,
  kShort = 3,
  kInt = 4,
  kFloat = 5,
  kDouble = 6,
  kUByte = 7,
  kUShort = 8,
  kUInt = 9,
  kInt64 = 10,
  kUInt64 = 11,
  kString = 12,
};

// A variable as the file declares it.
struct NetcdfVariable {
  int id = -1;
  NetcdfType type = NetcdfType::kNone;
  std::vector<size_t> shape;  // the length of each dimension; empty for a scalar

  // Whether it is one-dimensional; its length then is shape[0].
  bool OneDimensional() const { return shape.size() == 1; }
};

// Attributes of the file itself rather than of a variable.
constexpr int kNetcdfGlobal = -1;
// Variables with more dimensions are listed but cannot be read.
constexpr int kNetcdfMaxDimensions = 8;

class NetcdfFile {
 public:
  virtual ~NetcdfFile() = default;

  // The names of all variables, in the file's order.
  virtual std::vector<std::string> VariableNames() = 0;
  // The variable called `name`, or nothing (missing, or the file fails).
  virtual std::optional<NetcdfVariable> FindVariable(const std::string& name) = 0;
  // The length of the dimension called `name`, or nothing.
  virtual std::optional<size_t> DimensionLength(const std::string& name) = 0;

  // `count` values of the one-dimensional `variable` from index `start`,
  // converted to the type of `out` (which holds at least `count` values).
  // False, with error() set, when the range leaves the variable, the
  // variable is not one-dimensional, a value does not fit or the data
  // cannot be read.
  bool Read(const NetcdfVariable& variable, size_t start, size_t count, int8_t* out);
  bool Read(const NetcdfVariable& variable, size_t start, size_t count, int16_t* out);
  bool Read(const NetcdfVariable& variable, size_t start, size_t count, uint16_t* out);
  bool Read(const NetcdfVariable& variable, size_t start, size_t count, int32_t* out);
  bool Read(const NetcdfVariable& variable, size_t start, size_t count, double* out);

  // The first value of the numeric attribute `name` of a variable id (or
  // kNetcdfGlobal), or nothing.
  virtual std::optional<double> DoubleAttribute(int variable, const std::string& name) = 0;
  // The text attribute `name` when it has at most maxBytes bytes, or nothing.
  virtual std::optional<std::string> TextAttribute(int variable, const std::string& name,
                                                   size_t maxBytes) = 0;

  // What failed last, in words (empty when nothing has).
  const std::string& error() const { return error_; }

 protected:
  enum class ValueType { kInt8, kInt16, kUint16, kInt32, kDouble };
  // Reads a range already checked against the variable's length.
  virtual bool ReadChecked(const NetcdfVariable& variable, size_t start, size_t count,
                           ValueType type, void* out) = 0;
  bool Fail(std::string what) {
    error_ = std::move(what);
    return false;
  }

 private:
  bool CheckedRead(const NetcdfVariable& variable, size_t start, size_t count, ValueType type,
                   void* out);
  std::string error_;
};

// How many of a file's first bytes CheckNetcdfHead looks at.
constexpr size_t kNetcdfHeadBytes = 512;

// Why a file whose first bytes are `head` (headBytes of them, at most
// kNetcdfHeadBytes) and whose size is fileBytes is no whole netCDF file
// (HDF5-based or classic), or empty when nothing rules it out: a size out
// of 32 .. maxFileBytes, a foreign signature, an HDF5 superblock of unknown
// form or one whose end-of-file address lies past the end (a truncated
// file). The netCDF library, and HDF5 below it, trust what they read: a
// reader checks a file this way before it opens it.
std::string CheckNetcdfHead(const uint8_t* head, size_t headBytes, uint64_t fileBytes,
                            uint64_t maxFileBytes);
// The same for the file at `path`, read without blocking (a FIFO or a
// device is refused as "not a regular file"); also what stops it being
// read.
std::string CheckNetcdfFileOnDisk(const std::string& path, uint64_t maxFileBytes);

// Opens `path` for reading through the plugin, loading it the first time.
// Null, with *error saying why, when the plugin cannot be loaded or the
// library cannot open the file.
std::unique_ptr<NetcdfFile> OpenNetcdfFile(const std::string& path, std::string* error);

// Where the plugin is looked for: beside the running program as installed
// (../lib/<arch>/roamgrid/ from its bin/ folder, the same place in the
// build tree), then in the folder it is installed to.
std::vector<std::string> NetcdfPluginCandidates();

// Whether the plugin is loaded in this process (for the start-up tests:
// commands that read no netCDF file leave it unloaded).
bool NetcdfPluginLoaded();
// Why the plugin cannot be loaded (loading it if it has not been tried),
// or empty when it is loaded: a file failing to open for that reason says
// nothing about the file.
std::string NetcdfPluginProblem();

}  // namespace roamgrid
