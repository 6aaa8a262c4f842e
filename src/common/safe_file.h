// Replacing a file that holds the user's data without ever losing it: the
// new content goes to a temporary file in the same folder, which is renamed
// over the old file only when every byte was written and the file closed.
// A failed or interrupted write leaves the old file as it was.
//
// All writes of the home file and BMP images pass through ReplacingFile,
// and tile saves through its lean sibling ReplaceRegularFile; both are the
// seam where tests inject write failures (SetWriteFault) as a full disk
// would cause them.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

struct stat;

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
  // the file it points to (created when the link dangles). With an empty
  // `tempSuffix` the temporary file gets a fresh short name beside that
  // file; otherwise its name with `tempSuffix` appended is used when it
  // fits a file name (a short fresh name when not), and a regular file of
  // that name that this user may write is removed first. An existing
  // target keeps its permission bits, owner and group. Paths of any length
  // work: the folder is opened and everything happens relative to it.
  explicit ReplacingFile(std::string path, std::string tempSuffix = {},
                         Durability durability = Durability::kClosed);
  ~ReplacingFile();  // abandons an uncommitted temporary file
  ReplacingFile(const ReplacingFile&) = delete;
  ReplacingFile& operator=(const ReplacingFile&) = delete;

  // Creates the temporary file, never through a link or onto an existing
  // file. False, with errno saying why, when it cannot be created; when
  // the target exists and is not a regular file writable for this user;
  // when something other than such a file holds the fixed temporary name
  // (EEXIST); or when the target's owner or group cannot be kept and its
  // owner or group would then lose access to it (EPERM).
  bool Open();
  // Appends bytes; false once any write has failed (later writes are dropped).
  bool Write(const void* data, size_t size);
  bool Put(uint8_t byte) { return Write(&byte, 1); }
  // Moves the write position (whence: SEEK_SET, SEEK_CUR or SEEK_END), for
  // formats that go back to fill in a header; false once writing failed.
  bool Seek(long long offset, int whence);
  // The write position; -1 when the file is not open.
  long long Tell();
  // Flushes and closes the temporary file and renames it over the target.
  // False, with the temporary file removed, the target untouched and errno
  // telling the first failure, when any write, the close or the rename
  // failed.
  bool Commit();
  // Closes and removes the temporary file; the target stays as it was.
  void Abandon();

  // The temporary file, in the folder of the target.
  const std::string& tempPath() const { return temp_; }

 private:
  bool Fail(int fd);       // closes and removes `fd` when open; keeps errno
  bool Failed(int error);  // marks the writing failed, the first error kept
  void CloseFolder();

  std::string path_;
  std::string suffix_;
  int folder_ = -1;       // the target's folder while the file is open
  std::string name_;      // the target's name in that folder
  std::string tempName_;  // the temporary file's name in that folder
  std::string temp_;      // the same with the folder, for messages
  Durability durability_;
  FILE* stream_ = nullptr;
  bool failed_ = false;
  int error_ = 0;  // errno of the first failure
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
// a device), without ever waiting for a writer of a pipe. errno tells why:
// EISDIR for a folder, EINVAL for another kind of file that is not regular.
// Paths longer than the system's limit are opened from their folder.
FILE* OpenRegularFile(const std::string& path);
// The same as a descriptor; -1 on failure.
int OpenRegularFileAt(const std::string& path);

// The reason a file could not be used, as the front ends name it: the
// system's text for `error`, "not a regular file" for EINVAL (what the
// functions here and the tile reads set for a link, a pipe or a device
// under a name where a regular file belongs, and which the system would
// call an invalid argument), and "unknown error" for 0.
std::string FileErrorText(int error);

// stat() of the file `path` names after following its symbolic links one
// at a time, for paths of any length: 0, or -1 with errno (ENOENT for a
// missing file, a dangling link included).
int StatFollowingLinks(const std::string& path, struct stat* info);

// Creates every directory named by a prefix of `path` that ends before a
// '/', from the first to the last ("RGD", then "RGD/E139N035"). A directory
// that exists already is what is wanted; returns 0, or the errno of the
// first mkdir that failed for another reason (EACCES, say), so that a
// later failure to create a file there can be told by its real cause.
int CreateParentDirectories(const std::string& path);

// Replaces the file `path` with `size` bytes through a temporary file of
// the TempFileName form in the same folder, renamed over it only when
// every byte was written and the file closed; the lean path of tile saves,
// a few system calls a file. `existing` is the status of what stands
// under the name now, taken with fstatat(AT_SYMLINK_NOFOLLOW) and a
// regular file, or null when nothing does (ENOENT). Nothing is followed
// at the last component: a link there is the caller's to refuse, and the
// temporary file is created O_EXCL|O_NOFOLLOW. Links among the folders
// are followed, as any path's are. Missing folders are created. An
// existing file keeps its permission bits, owner and group, and one that
// this user cannot write is refused (as ReplacingFile refuses it).
// Returns false with errno of the first failing call (the mkdir's, when a
// folder could not be made) and no temporary file left; SetWriteFault
// applies.
bool ReplaceRegularFile(const char* path, const void* data, size_t size,
                        const struct stat* existing);

}  // namespace roamgrid
