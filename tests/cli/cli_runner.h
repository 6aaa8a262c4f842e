// Runs the built roamgrid-cli (path from ROAMGRID_CLI_PATH) as a child
// process without a shell, in the working directory of the test, and
// captures its exit status and both output streams.
#pragma once

#include <fcntl.h>
#include <pty.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

extern char** environ;

namespace roamgrid::testing {

struct CliRun {
  int status = -1;  // exit status; -1 when the program did not exit normally
  std::string out;
  std::string err;
};

inline std::string ReadFd(int fd) {
  std::string text;
  char buffer[4096];
  lseek(fd, 0, SEEK_SET);
  for (ssize_t got; (got = read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, size_t(got));
  return text;
}

// A temporary file outside the working directory, removed at once (only the
// descriptor stays), so a run never adds files to the store under test.
inline int AnonymousFile() {
  std::string pattern = (std::filesystem::temp_directory_path() / "roamgrid-cli-XXXXXX").string();
  const int fd = mkstemp(pattern.data());
  if (fd >= 0) unlink(pattern.c_str());
  return fd;
}

// Sets an environment variable for the programs a test runs, and restores it.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) saved_ = old;
    setenv(name, value.c_str(), 1);
  }
  ~ScopedEnvironment() {
    if (saved_) {
      setenv(name_, saved_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  const char* name_;
  std::optional<std::string> saved_;
};

// roamgrid-cli started with its standard input on `inFd`.
struct RunningCli {
  pid_t pid = -1;
  int outFd = -1;
  int errFd = -1;

  RunningCli(const std::vector<std::string>& arguments, int inFd)
      : outFd(AnonymousFile()), errFd(AnonymousFile()) {
    std::vector<std::string> words{ROAMGRID_CLI_PATH};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, inFd, 0);
    posix_spawn_file_actions_adddup2(&actions, outFd, 1);
    posix_spawn_file_actions_adddup2(&actions, errFd, 2);
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
  }

  CliRun Finish() {
    CliRun run;
    int status = 0;
    if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status))
      run.status = WEXITSTATUS(status);
    run.out = ReadFd(outFd);
    run.err = ReadFd(errFd);
    close(outFd);
    close(errFd);
    return run;
  }
};

// Runs roamgrid-cli (or another `program`) with `arguments`. With
// `stderrTerminal` its standard error is a pseudo-terminal, whose output is
// returned in `err`.
inline CliRun RunCli(const std::vector<std::string>& arguments, bool stderrTerminal = false,
                     const std::string& program = ROAMGRID_CLI_PATH) {
  CliRun run;
  std::vector<std::string> words{program};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);

  const int outFd = AnonymousFile();
  int errFd = -1;
  int ptyMaster = -1;
  if (stderrTerminal) {
    if (openpty(&ptyMaster, &errFd, nullptr, nullptr, nullptr) != 0) return run;
  } else {
    errFd = AnonymousFile();
  }
  const int inFd = open("/dev/null", O_RDONLY);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, inFd, 0);
  posix_spawn_file_actions_adddup2(&actions, outFd, 1);
  posix_spawn_file_actions_adddup2(&actions, errFd, 2);
  if (ptyMaster >= 0) posix_spawn_file_actions_addclose(&actions, ptyMaster);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(inFd);
  if (spawned == 0) {
    if (ptyMaster >= 0) {
      close(errFd);  // the child holds the terminal; reading ends when it exits
      errFd = -1;
      char buffer[4096];
      for (ssize_t got; (got = read(ptyMaster, buffer, sizeof buffer)) > 0;)
        run.err.append(buffer, size_t(got));
    }
    int status = 0;
    waitpid(pid, &status, 0);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = ReadFd(outFd);
    if (ptyMaster < 0) run.err = ReadFd(errFd);
  }
  close(outFd);
  if (errFd >= 0) close(errFd);
  if (ptyMaster >= 0) close(ptyMaster);
  return run;
}

}  // namespace roamgrid::testing
