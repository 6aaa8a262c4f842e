// Names of the temporary files that replace the user's files. They are
// short and of bounded length whatever the name they replace (so a name
// near the file-name limit can still be replaced), lie in the same folder,
// start with a dot (hidden in a listing), and carry the process id of
// their writer, so that a later program can tell one left behind by a
// killed writer (kill(pid, 0) fails with ESRCH) from one being written.
//   .roamgrid-<pid>-<n>.tmp
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

namespace roamgrid {

// The longest name TempFileName can return: "." "roamgrid-" 10 digits "-"
// 20 digits ".tmp".
inline constexpr size_t kMaxTempNameLength = 1 + 9 + 10 + 1 + 20 + 4;

// The name (no folder) of temporary file number `serial` of process `pid`.
std::string TempFileName(pid_t pid, unsigned long long serial);

// The writer's process id when `name` (no folder) is a temporary file
// name of this program: the form above, or the older "<name>.tmp<pid>-<n>"
// that earlier versions left beside a tile. Nothing otherwise.
std::optional<pid_t> TempFileWriter(const std::string& name);

// True when `name` was left by a writer that no longer runs: a temporary
// file name whose process id names no running process.
bool IsAbandonedTempFile(const std::string& name);

}  // namespace roamgrid
