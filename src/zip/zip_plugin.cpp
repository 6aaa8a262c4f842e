// libroamgrid-zip.so: libzip's functions, handed to the core as a table.
#include "zip/zip_plugin_api.h"

extern "C" __attribute__((visibility("default"))) const RoamgridZipPlugin* roamgrid_zip_plugin(
    uint32_t abi) {
  static const RoamgridZipPlugin plugin = {
      ROAMGRID_ZIP_PLUGIN_ABI,
      sizeof(RoamgridZipPlugin),
      zip_libzip_version(),
      zip_error_init,
      zip_error_init_with_code,
      zip_error_fini,
      zip_error_strerror,
      zip_error_to_data,
      zip_fdopen,
      zip_get_num_entries,
      zip_stat_init,
      zip_stat_index,
      zip_fopen_index,
      zip_strerror,
      zip_fread,
      zip_file_strerror,
      zip_fclose,
      zip_discard,
      zip_source_filep_create,
      zip_source_function_create,
      zip_source_free,
      zip_open_from_source,
      zip_file_add,
      zip_set_file_compression,
      zip_close,
  };
  return abi == ROAMGRID_ZIP_PLUGIN_ABI ? &plugin : nullptr;
}
