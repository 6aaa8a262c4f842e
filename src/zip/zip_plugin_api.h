// The table of libzip functions that the zip plugin (libroamgrid-zip.so)
// hands to the core: the functions the KMZ reader and writer use, with
// libzip's own signatures, so that the core calls them as it would call
// the library. The core includes <zip.h> for its types and constants only
// and links nothing of it; the programs load the plugin with dlopen the
// first time they open or write a zip archive (import/zip_library.h).
// libzip pulls in the system's crypto library, whose start-up cost every
// run would otherwise pay.
#pragma once

#include <stdint.h>
#include <stdio.h>
#include <zip.h>

extern "C" {

// Raised whenever the table changes; the core refuses a plugin of another
// number (a leftover of an older installation).
#define ROAMGRID_ZIP_PLUGIN_ABI 1u
// The one symbol the plugin exports.
#define ROAMGRID_ZIP_PLUGIN_SYMBOL "roamgrid_zip_plugin"

struct RoamgridZipPlugin {
  uint32_t abi;         // ROAMGRID_ZIP_PLUGIN_ABI
  uint32_t size;        // sizeof(RoamgridZipPlugin) as the plugin was built
  const char* version;  // libzip's version text

  // Each does what the libzip function of the same name (zip_<name>) does.
  void (*error_init)(zip_error_t* error);
  void (*error_init_with_code)(zip_error_t* error, int code);
  void (*error_fini)(zip_error_t* error);
  const char* (*error_strerror)(zip_error_t* error);
  zip_int64_t (*error_to_data)(const zip_error_t* error, void* data, zip_uint64_t length);

  zip_t* (*fdopen)(int fd, int flags, int* error);
  zip_int64_t (*get_num_entries)(zip_t* archive, zip_flags_t flags);
  void (*stat_init)(zip_stat_t* stat);
  int (*stat_index)(zip_t* archive, zip_uint64_t index, zip_flags_t flags, zip_stat_t* stat);
  zip_file_t* (*fopen_index)(zip_t* archive, zip_uint64_t index, zip_flags_t flags);
  const char* (*strerror)(zip_t* archive);
  zip_int64_t (*fread)(zip_file_t* file, void* buffer, zip_uint64_t length);
  const char* (*file_strerror)(zip_file_t* file);
  int (*fclose)(zip_file_t* file);
  void (*discard)(zip_t* archive);

  zip_source_t* (*source_filep_create)(FILE* stream, zip_uint64_t start, zip_int64_t length,
                                       zip_error_t* error);
  zip_source_t* (*source_function_create)(zip_source_callback callback, void* state,
                                          zip_error_t* error);
  void (*source_free)(zip_source_t* source);
  zip_t* (*open_from_source)(zip_source_t* source, int flags, zip_error_t* error);
  zip_int64_t (*file_add)(zip_t* archive, const char* name, zip_source_t* source,
                          zip_flags_t flags);
  int (*set_file_compression)(zip_t* archive, zip_uint64_t index, zip_int32_t method,
                              zip_uint32_t level);
  int (*close)(zip_t* archive);
};

// The table when `abi` is the plugin's own, otherwise a null pointer.
typedef const RoamgridZipPlugin* (*RoamgridZipPluginEntry)(uint32_t abi);

}  // extern "C"
