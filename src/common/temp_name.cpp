#include "common/temp_name.h"

#include <signal.h>

#include <cerrno>
#include <climits>
#include <string_view>

namespace roamgrid {

namespace {

constexpr std::string_view kPrefix = ".roamgrid-";
constexpr std::string_view kSuffix = ".tmp";

bool AllDigits(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  return true;
}

// A process id of up to 10 decimal digits that fits pid_t.
std::optional<pid_t> ReadPid(std::string_view digits) {
  if (!AllDigits(digits) || digits.size() > 10) return std::nullopt;
  long long value = 0;
  for (char c : digits) value = value * 10 + (c - '0');
  if (value <= 0 || value > INT_MAX) return std::nullopt;
  return pid_t(value);
}

}  // namespace

std::string TempFileName(pid_t pid, unsigned long long serial) {
  return std::string(kPrefix) + std::to_string(long(pid)) + "-" + std::to_string(serial) +
         std::string(kSuffix);
}

std::optional<pid_t> TempFileWriter(const std::string& name) {
  const std::string_view text(name);
  // .roamgrid-<pid>-<n>.tmp
  if (text.size() > kPrefix.size() + kSuffix.size() && text.starts_with(kPrefix) &&
      text.ends_with(kSuffix)) {
    const std::string_view middle =
        text.substr(kPrefix.size(), text.size() - kPrefix.size() - kSuffix.size());
    const size_t dash = middle.find('-');
    if (dash != std::string_view::npos && AllDigits(middle.substr(dash + 1)))
      return ReadPid(middle.substr(0, dash));
    return std::nullopt;
  }
  // <name>.tmp<pid>-<n>, as earlier versions named them
  const size_t tmp = text.rfind(".tmp");
  if (tmp == std::string_view::npos || tmp == 0) return std::nullopt;
  const std::string_view rest = text.substr(tmp + 4);
  const size_t dash = rest.find('-');
  if (dash == std::string_view::npos || !AllDigits(rest.substr(dash + 1))) return std::nullopt;
  return ReadPid(rest.substr(0, dash));
}

bool IsAbandonedTempFile(const std::string& name) {
  const std::optional<pid_t> pid = TempFileWriter(name);
  if (!pid) return false;
  // EPERM: the process runs under another user; it is alive.
  return kill(*pid, 0) != 0 && errno == ESRCH;
}

}  // namespace roamgrid
