#include "import/zip_source.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/text.h"
#include "import/zip_library.h"

namespace roamgrid {

namespace {

std::string ZipErrorText(const RoamgridZipPlugin& zip, int code) {
  zip_error_t error;
  zip.error_init_with_code(&error, code);
  std::string text = zip.error_strerror(&error);
  zip.error_fini(&error);
  return text;
}

}  // namespace

struct ZipSource::Archive {
  explicit Archive(const RoamgridZipPlugin& library) : lib(library) {}
  ~Archive() {
    if (file) lib.fclose(file);
    if (zip) lib.discard(zip);
  }
  const RoamgridZipPlugin& lib;
  zip_t* zip = nullptr;
  zip_file_t* file = nullptr;
};

ZipSource::ZipSource(int fd, long long rawBefore) : rawBefore_(rawBefore) {
  const RoamgridZipPlugin* lib = ZipLibrary(&errorText_);
  if (!lib) return;
  archive_ = std::make_unique<Archive>(*lib);
  // The archive takes a descriptor of its own, so that the caller's stays open.
  const int own = fcntl(fd, F_DUPFD_CLOEXEC, 0);
  if (own < 0) {
    errorText_ = std::strerror(errno);
    return;
  }
  if (lseek(own, 0, SEEK_SET) != 0) {
    close(own);
    errorText_ = "a KMZ (zip) archive is read only from a file, not from a pipe or a "
                 "compressed stream";
    return;
  }
  int error = 0;
  archive_->zip = lib->fdopen(own, ZIP_RDONLY, &error);
  if (!archive_->zip) {
    close(own);
    errorText_ = "damaged zip archive: " + ZipErrorText(*lib, error);
    return;
  }
  const zip_int64_t entries = lib->get_num_entries(archive_->zip, 0);
  for (zip_int64_t i = 0; i < entries; ++i) {
    zip_stat_t stat;
    lib->stat_init(&stat);
    if (lib->stat_index(archive_->zip, zip_uint64_t(i), 0, &stat) != 0 ||
        !(stat.valid & ZIP_STAT_NAME) || !HasSuffix(stat.name, ".kml", true))
      continue;
    archive_->file = lib->fopen_index(archive_->zip, zip_uint64_t(i), 0);
    if (!archive_->file) {
      errorText_ = std::string("cannot read ") + stat.name +
                   " in the zip archive: " + lib->strerror(archive_->zip);
      return;
    }
    entrySize_ = stat.valid & ZIP_STAT_SIZE ? (long long)stat.size : 0;
    entryCompressed_ = stat.valid & ZIP_STAT_COMP_SIZE ? (long long)stat.comp_size : 0;
    opened_ = Opened::kKml;
    return;
  }
  opened_ = Opened::kNoKml;
  errorText_ = "no .kml file in the zip archive";
}

ZipSource::~ZipSource() = default;

ByteSource::Result ZipSource::Read(char* buffer, size_t capacity) {
  if (opened_ != Opened::kKml) return {0, Status::kError};
  const zip_int64_t got = archive_->lib.fread(archive_->file, buffer, capacity);
  if (got < 0) {
    errorText_ = std::string("damaged zip archive: ") + archive_->lib.file_strerror(archive_->file);
    return {0, Status::kError};
  }
  if (got == 0) return {0, Status::kEnd};
  read_ += got;
  return {size_t(got), Status::kData};
}

long long ZipSource::RawBytes() const {
  if (entrySize_ <= 0) return rawBefore_;
  return rawBefore_ + (long long)((double)read_ / double(entrySize_) * double(entryCompressed_));
}

}  // namespace roamgrid
