// roamgrid-cli serve run as a child process on a free port of 127.0.0.1,
// asked by plain sockets: hostile requests get clean errors and the server
// keeps serving others; SIGTERM stops it cleanly.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "map/map_store.h"
#include "support/temp_dir.h"

extern char** environ;

namespace roamgrid {
namespace {

using testing::TempDirTest;

// The server as a child process; its standard output is a pipe.
class ServeProcess {
 public:
  explicit ServeProcess(const std::vector<std::string>& extra = {}) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    std::vector<std::string> words{ROAMGRID_CLI_PATH, "serve", "--port", "0"};
    words.insert(words.end(), extra.begin(), extra.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, words[0].c_str(), &actions, nullptr, argv.data(), environ) != 0)
      pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    out_ = pipeFds[0];
    // "serving http://127.0.0.1:PORT/ ..."
    std::string line = ReadLine(10000);
    const size_t colon = line.find("127.0.0.1:");
    if (colon != std::string::npos) port_ = std::stoi(line.substr(colon + 10));
  }
  ~ServeProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
  }

  int port() const { return port_; }

  // Sends SIGTERM; the exit status and the rest of standard output.
  int Stop(std::string* rest) {
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    *rest = ReadLine(5000);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  std::string ReadLine(int timeoutMs) {
    std::string line;
    char c;
    pollfd fd{out_, POLLIN, 0};
    while (poll(&fd, 1, timeoutMs) == 1 && read(out_, &c, 1) == 1 && c != '\n') line += c;
    return line;
  }

  pid_t pid_ = -1;
  int out_ = -1;
  int port_ = 0;
};

int Connect(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(uint16_t(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// Sends `request` whole (as far as the server takes it) and reads the answer
// until the server closes, at most `timeoutMs`; the status line's code, or
// 0 when none came.
int Ask(int port, const std::string& request, std::string* answer = nullptr,
        int timeoutMs = 10000) {
  const int fd = Connect(port);
  if (fd < 0) return 0;
  for (size_t sent = 0; sent < request.size();) {
    const ssize_t n = send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) break;
    sent += size_t(n);
  }
  std::string text;
  char buffer[4096];
  pollfd poller{fd, POLLIN, 0};
  while (poll(&poller, 1, timeoutMs) == 1) {
    const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    text.append(buffer, size_t(n));
  }
  close(fd);
  if (answer) *answer = text;
  if (text.rfind("HTTP/1.", 0) != 0 || text.size() < 12) return 0;
  return std::stoi(text.substr(9, 3));
}

std::string Get(const std::string& path) {
  return "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
}

class ServeTest : public TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    setenv("XDG_CACHE_HOME", (std::string(getcwd(nullptr, 0)) + "/cache").c_str(), 1);
    testing::WriteCells(testing::Track(35.68, 139.76, 100, 5));
  }
};

TEST_F(ServeTest, HostileRequestsGetCleanErrorsAndOthersAreStillServed) {
  ServeProcess server;
  const int port = server.port();
  ASSERT_GT(port, 0);
  std::string answer;
  ASSERT_EQ(Ask(port, Get("/10/909/403.png"), &answer), 200);
  EXPECT_NE(answer.find("ETag: \""), std::string::npos);
  EXPECT_NE(answer.find("image/png"), std::string::npos);

  struct Case {
    std::string request;
    int status;
  };
  const Case cases[] = {
      {Get("/../../etc/passwd"), 404},
      {Get("/%2e%2e/%2e%2e/etc/passwd"), 404},
      {Get("/23/0/0.png"), 404},
      {Get("/10/-1/403.png"), 404},
      {Get("/10/99999999999999999999/403.png"), 404},
      {Get("/10/1024/0.png"), 404},
      {"POST / HTTP/1.1\r\nHost: x\r\nContent-Length: 5\r\n\r\nhello", 405},
      {"DELETE /0/0/0.png HTTP/1.1\r\nHost: x\r\n\r\n", 405},
      {"BREW / HTTP/1.1\r\nHost: x\r\n\r\n", 405},
      {"HEAD /0/0/0.png HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n", 200},
      {Get("/" + std::string(1 << 20, 'a')), 414},
      {"GET / HTTP/1.1\r\nHost: x\r\nX-Big: " + std::string(100000, 'b') + "\r\n\r\n", 431},
  };
  for (const Case& c : cases) {
    const int status = Ask(port, c.request, &answer);
    // The library answers an over-long request with 414 or 431 by where it
    // ran out of room; both are clean refusals.
    if (c.status == 414 || c.status == 431) {
      EXPECT_TRUE(status == 414 || status == 431 || status == 400) << status;
    } else {
      EXPECT_EQ(status, c.status) << c.request.substr(0, 60);
    }
    EXPECT_EQ(answer.find("root:"), std::string::npos);
  }

  // A thousand connections at once, and slow clients that send half a
  // request: the server refuses what it cannot take and still serves.
  rlimit files{};
  getrlimit(RLIMIT_NOFILE, &files);
  if (files.rlim_cur < 1100 && files.rlim_max >= 1100) {
    files.rlim_cur = 1100;
    setrlimit(RLIMIT_NOFILE, &files);
  }
  std::vector<int> open;
  for (int i = 0; i < 1000; ++i) {
    const int fd = Connect(port);
    if (fd >= 0) open.push_back(fd);
    if (fd >= 0 && i % 2 == 0) send(fd, "GET /0/0/0.png HTTP/1.1\r\nHo", 27, MSG_NOSIGNAL);
  }
  for (int fd : open) close(fd);
  EXPECT_EQ(Ask(port, Get("/0/0/0.png")), 200);
  const int slow = Connect(port);
  send(slow, "GET /0/0", 8, MSG_NOSIGNAL);
  EXPECT_EQ(Ask(port, Get("/tiles.json"), &answer), 200);
  EXPECT_NE(answer.find("\"tilejson\""), std::string::npos);
  close(slow);

  std::string rest;
  EXPECT_EQ(server.Stop(&rest), 0);
  EXPECT_EQ(rest, "stopped");
}

}  // namespace
}  // namespace roamgrid
