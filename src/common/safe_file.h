// Replacing a file that holds the user's data without ever losing it: the
// new content goes to a temporary file in the same folder, which is renamed
// over the old file only when every byte was written and the file closed.
// A failed or interrupted write leaves the old file as it was.
//
// All writes of tiles, the home file and BMP images pass through
// ReplacingFile, which makes it the one seam where tests inject write
// failures (SetWriteFault) as a full disk would cause them.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

namespace roamgrid {

// kSynced also forces the new content onto the disk before the rename
// (fdatasync), so a power loss cannot leave an empty file under the name.
// It costs a disk round trip per file: used for the home file and images,
// which are written on request; tile saves, many per import, rely on the
// file system ordering data before a replacing rename (as ext4 does by
// default) and stay fast.
enum class Durability { kClosed, kSynced };

class ReplacingFile {
 public:
  // `path` is the file to replace (or create); when it is a symbolic link,
  // the file it points to. With an empty `tempSuffix` the temporary file
  // gets a fresh unique name beside that file; otherwise its name with
  // `tempSuffix` appended is used, and a file of that name is replaced. An
  // existing target keeps its permission bits.
  explicit ReplacingFile(std::string path, std::string tempSuffix = {},
                         Durability durability = Durability::kClosed);
  ~ReplacingFile();  // abandons an uncommitted temporary file
  ReplacingFile(const ReplacingFile&) = delete;
  ReplacingFile& operator=(const ReplacingFile&) = delete;

  // Creates the temporary file. False when it cannot be created, or when
  // the target exists and is not a regular file writable for this user.
  bool Open();
  // Appends bytes; false once any write has failed (later writes are dropped).
  bool Write(const void* data, size_t size);
  bool Put(uint8_t byte) { return Write(&byte, 1); }
  // Flushes and closes the temporary file and renames it over the target.
  // False, with the temporary file removed and the target untouched, when
  // any write, the close or the rename failed.
  bool Commit();
  // Closes and removes the temporary file; the target stays as it was.
  void Abandon();

  const std::string& tempPath() const { return temp_; }

 private:
  std::string path_;
  std::string target_;  // path_, or the file a link at path_ points to
  std::string suffix_;
  std::string temp_;
  Durability durability_;
  FILE* stream_ = nullptr;
  bool failed_ = false;
};

// Test seam: makes the writes of ReplacingFile fail. A write fails once
// `failAfterBytes` bytes in all have been written since the fault was set
// (negative: never); `failClose` makes every close report failure.
struct WriteFault {
  long long failAfterBytes = -1;
  bool failClose = false;
};
void SetWriteFault(const WriteFault& fault);
void ClearWriteFault();

// Opens `path` for reading in binary mode when it is a regular file; nullptr
// when it cannot be opened or is something else (a folder, a named pipe,
// a device), without ever waiting for a writer of a pipe.
FILE* OpenRegularFile(const std::string& path);

// Creates every directory named by a prefix of `path` that ends before a
// '/', from the first to the last ("RGD", then "RGD/E139N035"). Failures are
// ignored: a directory that exists already is what is wanted.
void CreateParentDirectories(const std::string& path);

}  // namespace roamgrid
