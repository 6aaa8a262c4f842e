// roamgrid-cli serve run as a child process on a free port of 127.0.0.1,
// asked by plain sockets: hostile requests get clean errors and the server
// keeps serving others; SIGTERM stops it cleanly.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <png.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "cli/cli_runner.h"
#include "map/map_store.h"
#include "map/marks_map.h"
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

// Asks until an answer comes, for at most `deadlineMs`: right after a flood
// the server is still closing what the flood left in its queue and refuses
// new connections over its per-address limit meanwhile, as a loaded server
// should; a client that tries again is served.
int AskAgainUntilAnswered(int port, const std::string& request, std::string* answer = nullptr,
                          int deadlineMs = 20000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(deadlineMs);
  int status = Ask(port, request, answer);
  while (status == 0 && std::chrono::steady_clock::now() < deadline) {
    usleep(100 * 1000);
    status = Ask(port, request, answer);
  }
  return status;
}

std::string Get(const std::string& path) {
  return "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
}

class ServeTest : public TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    setenv("XDG_CACHE_HOME", (std::filesystem::current_path().string() + "/cache").c_str(), 1);
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
  EXPECT_EQ(AskAgainUntilAnswered(port, Get("/0/0/0.png")), 200);
  const int slow = Connect(port);
  send(slow, "GET /0/0", 8, MSG_NOSIGNAL);
  EXPECT_EQ(AskAgainUntilAnswered(port, Get("/tiles.json"), &answer), 200);
  EXPECT_NE(answer.find("\"tilejson\""), std::string::npos);
  close(slow);

  std::string rest;
  EXPECT_EQ(server.Stop(&rest), 0);
  EXPECT_EQ(rest, "stopped");
}

// The temporary files in the working directory.
std::vector<std::string> TemporaryFiles() {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator("."))
    if (entry.path().filename().string().starts_with(".roamgrid-"))
      names.push_back(entry.path().filename().string());
  return names;
}

// Ctrl-C in the middle of an MBTiles export: it stops at its next tile,
// removes the file it had not finished, keeps the old one and ends with
// the signal's status. The export is caught (stopped) while its temporary
// file is there, so the signal meets it at work, however fast it runs.
TEST_F(ServeTest, SignalStopsAnMbTilesExportAndKeepsTheOldFile) {
  testing::WriteCells(testing::Track(35.70, 139.80, 10000, 9));
  ASSERT_EQ(testing::RunCli({"export", "--tiles", "marks.mbtiles", "--zoom", "0-2"}).status, 0);
  const std::vector<uint8_t> old = testing::ReadBytes("marks.mbtiles");
  const int in = open("/dev/null", O_RDONLY);
  testing::RunningCli cli({"export", "--tiles", "marks.mbtiles", "--zoom", "0-22"}, in);
  close(in);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (TemporaryFiles().empty() && std::chrono::steady_clock::now() < deadline) usleep(200);
  kill(cli.pid, SIGSTOP);
  const bool atWork = !TemporaryFiles().empty();
  kill(cli.pid, SIGINT);
  kill(cli.pid, SIGCONT);
  const testing::CliRun run = cli.Finish();
  ASSERT_TRUE(atWork) << "the export ended before it could be stopped: " << run.out;
  EXPECT_EQ(run.status, 130) << run.err;
  EXPECT_EQ(run.err, "roamgrid-cli: export: stopped by SIGINT\n");
  EXPECT_EQ(run.out, "");
  EXPECT_TRUE(TemporaryFiles().empty());
  EXPECT_EQ(testing::ReadBytes("marks.mbtiles"), old);
}

// The page in a real browser: headless Chromium (Debian's chromium) takes a
// screenshot of the page from the disk and from serve, and its red pixels
// are where the marks renderer puts the marks in the view the page opens
// with (the library's fit of the bounds the page names, worked out here
// as the library works it out).
class BrowserTest : public ServeTest {
 protected:
  static constexpr int kSide = 512;

  // Takes a kSide x kSide screenshot of `url` into `png`; false when the
  // browser failed.
  static bool Screenshot(const std::string& url, const std::string& png) {
    const std::string command =
        "timeout 90 chromium --headless --no-sandbox --disable-gpu --disable-quic "
        "--no-first-run --disable-background-networking --disable-component-update "
        "--disable-sync --user-data-dir=\"$PWD/browser-profile\" --hide-scrollbars "
        "--window-size=512,512 --virtual-time-budget=8000 --screenshot=\"$PWD/" +
        png + "\" '" + url + "' > browser.log 2>&1";
    return std::system(command.c_str()) == 0;
  }

  // Screen pixels that are red and that the renderer marks, in the view the
  // page opens with; `mismatched` counts the pixels where the two differ.
  void Compare(const std::string& png, const std::string& html, long long* marked,
               long long* mismatched) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_file(&image, png.c_str()));
    image.format = PNG_FORMAT_RGB;
    std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(image));
    ASSERT_TRUE(png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr));
    ASSERT_EQ(int(image.width), kSide);
    // map.fitBounds([[south, west], [north, east]], {maxZoom: M})
    double south, west, north, east;
    int maxZoom;
    const size_t at = html.find("map.fitBounds(");
    ASSERT_NE(at, std::string::npos);
    ASSERT_EQ(std::sscanf(html.c_str() + at, "map.fitBounds([[%lf, %lf], [%lf, %lf]], {maxZoom: %d",
                          &south, &west, &north, &east, &maxZoom),
              5);
    const auto px = [](double lon, int z) { return MercatorWorldX(lon) * std::ldexp(256.0, z); };
    const auto py = [](double lat, int z) { return MercatorWorldY(lat) * std::ldexp(256.0, z); };
    const double scale =
        std::min(kSide / (px(east, 0) - px(west, 0)), kSide / (py(south, 0) - py(north, 0)));
    int zoom = int(std::floor(std::round(std::log2(scale) * 100) / 100));
    zoom = std::min({zoom, maxZoom, 22});
    const double centerX = (px(west, zoom) + px(east, zoom)) / 2;
    const double centerY = (py(south, zoom) + py(north, zoom)) / 2;
    const int64_t originX = std::llround(centerX - kSide / 2.0);
    const int64_t originY = std::llround(centerY - kSide / 2.0);
    MarksMapOptions options;
    options.useCacheFile = false;
    MarksMap map(options);
    map.Refresh();
    std::map<std::pair<int64_t, int64_t>, MaskImage> tiles;
    *marked = *mismatched = 0;
    for (int y = 0; y < kSide; ++y) {
      for (int x = 0; x < kSide; ++x) {
        const int64_t wx = originX + x, wy = originY + y;
        MaskImage& tile = tiles[{wx >> 8, wy >> 8}];
        if (tile.width == 0) map.RenderMarksTile(zoom, int(wx >> 8), int(wy >> 8), tile);
        const bool expected = tile.At(int(wx & 255), int(wy & 255)) != 0;
        const uint8_t* p = &pixels[3 * (size_t(y) * kSide + x)];
        const bool red = p[0] > 200 && p[1] < 80 && p[2] < 80;
        *marked += expected;
        *mismatched += expected != red;
      }
    }
  }
};

TEST_F(BrowserTest, PageShowsTheMarksWhereTheRendererPutsThemFromDiskAndFromServe) {
  if (std::system("command -v chromium > /dev/null 2>&1") != 0)
    GTEST_SKIP() << "chromium is not installed (scripts/setup.sh --test installs it)";
  const std::string here = std::filesystem::current_path().string();
  setenv("XDG_CONFIG_HOME", (here + "/config").c_str(), 1);  // no base map of the user
  setenv("ROAMGRID_GSHHG_DIR", "/nonexistent", 1);           // and no coast: a white page
  std::vector<testing::GlobalCell> cells = testing::Track(35.68, 139.76, 60, 6);
  for (const auto& cell : testing::Track(35.70, 139.79, 60, 7)) cells.push_back(cell);
  testing::WriteCells(cells);
  const testing::CliRun run = testing::RunCli({"export", "--web", "web", "--zoom", "0-16"});
  ASSERT_EQ(run.status, 0) << run.err;
  std::ifstream in("web/index.html");
  const std::string html{std::istreambuf_iterator<char>(in), {}};

  long long marked = 0, mismatched = 0;
  ASSERT_TRUE(Screenshot("file://" + here + "/web/index.html", "disk.png"));
  Compare("disk.png", html, &marked, &mismatched);
  EXPECT_GT(marked, 100);
  EXPECT_LE(mismatched, marked / 50) << "of " << marked;

  ServeProcess server;
  ASSERT_GT(server.port(), 0);
  std::string page;
  ASSERT_EQ(Ask(server.port(), Get("/"), &page), 200);
  ASSERT_TRUE(Screenshot("http://127.0.0.1:" + std::to_string(server.port()) + "/", "serve.png"));
  Compare("serve.png", page.substr(page.find("<!DOCTYPE")), &marked, &mismatched);
  EXPECT_GT(marked, 100);
  EXPECT_LE(mismatched, marked / 50) << "of " << marked;
}

}  // namespace
}  // namespace roamgrid
