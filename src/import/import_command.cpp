#include "import/import_command.h"

#include <string>
#include <vector>

#include "import/nmea_reader.h"

namespace roamgrid {

bool ImportLogs(TrackRecorder& recorder, WindowingPlatform& platform) {
  const std::vector<std::string> paths = platform.ChooseLogFiles();
  if (paths.empty()) return false;  // Cancel
  for (const std::string& path : paths) {
    ImportNmeaLog(recorder, path);  // a log that fails does not stop the others
  }
  return true;
}

}  // namespace roamgrid
