// libroamgrid-netcdf.so: the only code that calls the netCDF library. It
// passes each call through with the checks that keep caller buffers safe;
// every decision about what a file holds is the core's.
#include <netcdf.h>

#include <cstring>
#include <vector>

#include "netcdf/netcdf_plugin_api.h"

namespace {

// The library's chunk cache for each variable read. Readers keep what they
// decoded themselves, so one chunk or two suffice.
constexpr size_t kChunkCacheBytes = size_t(1) << 20;
constexpr size_t kChunkCacheSlots = 521;
constexpr float kChunkCachePreemption = 0.75f;
// Numeric attributes longer than this are refused rather than read.
constexpr size_t kMaxAttributeValues = 4096;

int OpenFile(const char* path, int* ncid) {
  static const bool chunkCacheSet =
      nc_set_chunk_cache(kChunkCacheBytes, kChunkCacheSlots, kChunkCachePreemption) == NC_NOERR;
  (void)chunkCacheSet;  // without it the library's default cache is used: larger, still correct
  return nc_open(path, NC_NOWRITE, ncid);
}

int CloseFile(int ncid) { return nc_close(ncid); }

const char* ErrorText(int status) { return nc_strerror(status); }

int VariableCount(int ncid, int* count) { return nc_inq_nvars(ncid, count); }

int VariableName(int ncid, int varid, char* name, size_t size) {
  if (size == 0) return NC_EINVAL;
  char whole[NC_MAX_NAME + 1] = {};
  const int status = nc_inq_varname(ncid, varid, whole);
  if (status != NC_NOERR) return status;
  const size_t length = strnlen(whole, NC_MAX_NAME);
  const size_t kept = length < size - 1 ? length : size - 1;
  std::memcpy(name, whole, kept);
  name[kept] = '\0';
  return NC_NOERR;
}

int VariableId(int ncid, const char* name, int* varid) { return nc_inq_varid(ncid, name, varid); }

int VariableShape(int ncid, int varid, int* type, int* ndims, size_t* lengths, int maxDims) {
  nc_type kind = NC_NAT;
  int status = nc_inq_vartype(ncid, varid, &kind);
  if (status == NC_NOERR) status = nc_inq_varndims(ncid, varid, ndims);
  if (status != NC_NOERR) return status;
  *type = kind;
  if (*ndims < 0) return NC_EINVAL;
  if (*ndims > maxDims) return NC_NOERR;  // the caller sees ndims and reads no lengths
  std::vector<int> dims(size_t(*ndims) + 1);
  status = nc_inq_vardimid(ncid, varid, dims.data());
  for (int d = 0; status == NC_NOERR && d < *ndims; ++d) {
    status = nc_inq_dimlen(ncid, dims[size_t(d)], &lengths[d]);
  }
  return status;
}

int DimensionLength(int ncid, const char* name, size_t* length) {
  int dim = -1;
  const int status = nc_inq_dimid(ncid, name, &dim);
  return status == NC_NOERR ? nc_inq_dimlen(ncid, dim, length) : status;
}

int ReadValues(int ncid, int varid, size_t start, size_t count, int memType, void* values) {
  int ndims = 0;
  int status = nc_inq_varndims(ncid, varid, &ndims);
  if (status != NC_NOERR) return status;
  if (ndims != 1) return NC_EDIMSIZE;  // the interface reads one-dimensional variables only
  if (count == 0) return NC_NOERR;
  switch (memType) {
    case kRoamgridNetcdfInt8:
      return nc_get_vara_schar(ncid, varid, &start, &count, static_cast<signed char*>(values));
    case kRoamgridNetcdfInt16:
      return nc_get_vara_short(ncid, varid, &start, &count, static_cast<short*>(values));
    case kRoamgridNetcdfUint16:
      return nc_get_vara_ushort(ncid, varid, &start, &count, static_cast<unsigned short*>(values));
    case kRoamgridNetcdfInt32:
      return nc_get_vara_int(ncid, varid, &start, &count, static_cast<int*>(values));
    case kRoamgridNetcdfDouble:
      return nc_get_vara_double(ncid, varid, &start, &count, static_cast<double*>(values));
    default:
      return NC_EBADTYPE;
  }
}

int AttributeInfo(int ncid, int varid, const char* name, int* type, size_t* length) {
  nc_type kind = NC_NAT;
  const int status = nc_inq_att(ncid, varid, name, &kind, length);
  *type = kind;
  return status;
}

int AttributeText(int ncid, int varid, const char* name, char* text, size_t size) {
  nc_type kind = NC_NAT;
  size_t length = 0;
  const int status = nc_inq_att(ncid, varid, name, &kind, &length);
  if (status != NC_NOERR) return status;
  if (kind != NC_CHAR) return NC_ECHAR;
  if (length > size) return NC_EINVAL;
  return nc_get_att_text(ncid, varid, name, text);
}

int AttributeDouble(int ncid, int varid, const char* name, double* value) {
  nc_type kind = NC_NAT;
  size_t length = 0;
  const int status = nc_inq_att(ncid, varid, name, &kind, &length);
  if (status != NC_NOERR) return status;
  if (kind == NC_CHAR || kind == NC_STRING) return NC_ECHAR;
  if (length == 0 || length > kMaxAttributeValues) return NC_EINVAL;
  // The library writes every value of the attribute.
  std::vector<double> all(length);
  const int read = nc_get_att_double(ncid, varid, name, all.data());
  if (read == NC_NOERR) *value = all[0];
  return read;
}

const RoamgridNetcdfPlugin kPlugin = {
    ROAMGRID_NETCDF_PLUGIN_ABI,
    sizeof(RoamgridNetcdfPlugin),
    nullptr,
    OpenFile,
    CloseFile,
    ErrorText,
    VariableCount,
    VariableName,
    VariableId,
    VariableShape,
    DimensionLength,
    ReadValues,
    AttributeInfo,
    AttributeText,
    AttributeDouble,
};

}  // namespace

extern "C" __attribute__((visibility("default"))) const RoamgridNetcdfPlugin*
roamgrid_netcdf_plugin(uint32_t abi) {
  static RoamgridNetcdfPlugin plugin = [] {
    RoamgridNetcdfPlugin table = kPlugin;
    table.version = nc_inq_libvers();
    return table;
  }();
  return abi == ROAMGRID_NETCDF_PLUGIN_ABI ? &plugin : nullptr;
}
