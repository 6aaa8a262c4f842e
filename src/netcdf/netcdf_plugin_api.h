// The table of functions that the netCDF reader plugin
// (libroamgrid-netcdf.so) hands to the core: a plain C interface, so that
// the plugin and the programs meet at one symbol and nothing else. The
// plugin links the netCDF library (and through it HDF5, curl, ...); the
// programs load it with dlopen the first time they open a netCDF file
// (geo/netcdf_file.h), and never when they do not.
//
// Every function returns a netCDF status: 0 for success, a negative netCDF
// error code otherwise (error_text says it in words). Sizes of caller
// buffers are passed in and never exceeded.
#pragma once

#include <stddef.h>
#include <stdint.h>

extern "C" {

// Raised whenever the table changes; the core refuses a plugin of another
// number (a leftover of an older installation).
#define ROAMGRID_NETCDF_PLUGIN_ABI 1u
// The one symbol the plugin exports.
#define ROAMGRID_NETCDF_PLUGIN_SYMBOL "roamgrid_netcdf_plugin"

// Value types the read functions convert to (the netCDF library converts
// and fails with a range error when a value does not fit).
enum RoamgridNetcdfMemType {
  kRoamgridNetcdfInt8 = 1,
  kRoamgridNetcdfInt16 = 2,
  kRoamgridNetcdfUint16 = 3,
  kRoamgridNetcdfInt32 = 4,
  kRoamgridNetcdfDouble = 5,
};

struct RoamgridNetcdfPlugin {
  uint32_t abi;         // ROAMGRID_NETCDF_PLUGIN_ABI
  uint32_t size;        // sizeof(RoamgridNetcdfPlugin) as the plugin was built
  const char* version;  // the netCDF library's version text

  int (*open_file)(const char* path, int* ncid);  // read-only
  int (*close_file)(int ncid);
  const char* (*error_text)(int status);

  int (*variable_count)(int ncid, int* count);
  // The name of variable `varid`, cut to size - 1 bytes and terminated.
  int (*variable_name)(int ncid, int varid, char* name, size_t size);
  int (*variable_id)(int ncid, const char* name, int* varid);
  // The netCDF type of the variable, its number of dimensions and, when
  // that is at most max_dims, the length of each.
  int (*variable_shape)(int ncid, int varid, int* type, int* ndims, size_t* lengths, int max_dims);
  int (*dimension_length)(int ncid, const char* name, size_t* length);
  // `count` values of a one-dimensional variable from index `start`,
  // converted to mem_type, into `values`.
  int (*read_values)(int ncid, int varid, size_t start, size_t count, int mem_type, void* values);

  // An attribute of a variable (varid -1: of the file): its netCDF type
  // and number of values (bytes, for text).
  int (*attribute_info)(int ncid, int varid, const char* name, int* type, size_t* length);
  // A text attribute whole, when it has at most `size` bytes (not
  // terminated).
  int (*attribute_text)(int ncid, int varid, const char* name, char* text, size_t size);
  // The first value of a numeric attribute.
  int (*attribute_double)(int ncid, int varid, const char* name, double* value);
};

// The table when `abi` is the plugin's own, otherwise a null pointer.
typedef const RoamgridNetcdfPlugin* (*RoamgridNetcdfPluginEntry)(uint32_t abi);

}  // extern "C"
