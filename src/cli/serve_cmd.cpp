// roamgrid-cli serve: the marks as a live map tile layer over HTTP, read
// only, on libmicrohttpd, which its plugin (libroamgrid-http.so) brings in
// when the server starts. One thread of the library answers every request
// (the marks renderer is used by one thread); the main thread waits for
// SIGINT or SIGTERM and then stops the server.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "cli/cli_commands.h"
#include "cli/cli_output.h"
#include "common/plugin_library.h"
#include "common/text.h"
#include "export/tile_service.h"
#include "export/web_page.h"
#include "http/http_plugin_api.h"
#include "map/marks_map.h"

namespace roamgrid {

namespace {

// Bounds against hostile or broken clients.
constexpr unsigned kMaxConnections = 256;
constexpr unsigned kMaxConnectionsPerAddress = 64;
constexpr unsigned kConnectionTimeoutSeconds = 10;
// Memory of one connection, the request line and headers included: a
// longer request is answered "414" or "431" by the library.
constexpr size_t kConnectionMemoryBytes = 32 * 1024;
constexpr int kListenBacklog = 128;

// The server's answer to one request, handed back to the plugin.
void Answer(void* context, const char* method, const char* path, const char* ifNoneMatch,
            void* sink, void (*send)(void* sink, const RoamgridHttpAnswer* answer)) {
  auto& service = *static_cast<TileService*>(context);
  const HttpAnswer answer = service.Answer(method, path, ifNoneMatch);
  std::vector<const char*> headers;
  const auto add = [&headers](const char* name, const std::string& value) {
    if (value.empty()) return;
    headers.push_back(name);
    headers.push_back(value.c_str());
  };
  add("Content-Type", answer.contentType);
  add("ETag", answer.etag);
  add("Allow", answer.allow);
  add("Cache-Control", answer.cacheControl);
  // Pages and tiles of any origin may use the layer (a web map elsewhere).
  static const std::string kAnyOrigin = "*", kNoSniff = "nosniff";
  add("Access-Control-Allow-Origin", kAnyOrigin);
  add("X-Content-Type-Options", kNoSniff);
  const RoamgridHttpAnswer out{unsigned(answer.status), answer.body.data(), answer.body.size(),
                               headers.data(), headers.size() / 2};
  send(sink, &out);
}

// The listening socket on `address`:`port` (0: any free port); -1 with the
// reason in `error`.
int Listen(const std::string& address, int port, std::string& error, int& boundPort, bool& v6) {
  sockaddr_storage storage{};
  socklen_t length = 0;
  v6 = false;
  if (auto* v4addr = reinterpret_cast<sockaddr_in*>(&storage);
      inet_pton(AF_INET, address.c_str(), &v4addr->sin_addr) == 1) {
    v4addr->sin_family = AF_INET;
    v4addr->sin_port = htons(uint16_t(port));
    length = sizeof *v4addr;
  } else if (auto* v6addr = reinterpret_cast<sockaddr_in6*>(&storage);
             inet_pton(AF_INET6, address.c_str(), &v6addr->sin6_addr) == 1) {
    v6addr->sin6_family = AF_INET6;
    v6addr->sin6_port = htons(uint16_t(port));
    length = sizeof *v6addr;
    v6 = true;
  } else {
    error = Quoted(address) + " is not an IPv4 or IPv6 address";
    return -1;
  }
  const int fd = socket(storage.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    error = std::strerror(errno);
    return -1;
  }
  const int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (bind(fd, reinterpret_cast<sockaddr*>(&storage), length) != 0 ||
      listen(fd, kListenBacklog) != 0) {
    error = std::strerror(errno);
    close(fd);
    return -1;
  }
  sockaddr_storage bound{};
  socklen_t boundLength = sizeof bound;
  getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &boundLength);
  boundPort = ntohs(v6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                       : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
  return fd;
}

bool IsLoopback(const std::string& address) {
  in_addr v4{};
  if (inet_pton(AF_INET, address.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
  return address == "::1";
}

}  // namespace

int RunServe(const CliArgs& args, std::FILE* out, std::FILE* err) {
  const LoadedPlugin<RoamgridHttpPlugin> http =
      LoadPlugin<RoamgridHttpPlugin>("libroamgrid-http.so", ROAMGRID_HTTP_PLUGIN_SYMBOL,
                                     ROAMGRID_HTTP_PLUGIN_ABI, "the HTTP server");
  if (!http.table) {
    Error(err, "serve: " + http.error);
    return kExitFailure;
  }
  const std::string address = args.bind.value_or(kServeDefaultBind);
  std::string error;
  int port = 0;
  bool v6 = false;
  const int fd = Listen(address, args.port.value_or(kServeDefaultPort), error, port, v6);
  if (fd < 0) {
    Error(err, "serve: cannot listen on " + address + " port " +
                   std::to_string(args.port.value_or(kServeDefaultPort)) + ": " + error);
    return kExitFailure;
  }
  if (!IsLoopback(address))
    Error(err, "serve: warning: listening on " + address +
                   ", so other machines can see the marks (where you have been); "
                   "--bind 127.0.0.1 keeps them on this machine");
  const std::string origin =
      "http://" + (v6 ? "[" + address + "]" : address) + ":" + std::to_string(port);

  MarksMap map;
  map.Refresh();
  TileService::Options options;
  if (args.color) {
    const uint32_t rgb = *args.color;
    options.colour = Rgb{uint8_t(rgb >> 16), uint8_t(rgb >> 8), uint8_t(rgb)};
  }
  options.origin = origin;
  WebPageOptions page;
  page.tilesUrl = "{z}/{x}/{y}.png";
  page.bounds = map.MarksBounds();
  AddWebPageFiles(page, options.files);
  TileService service(map, std::move(options));

  // The signals wait for the main thread; the library's thread, started
  // below, inherits the mask.
  sigset_t stops;
  sigemptyset(&stops);
  sigaddset(&stops, SIGINT);
  sigaddset(&stops, SIGTERM);
  sigset_t previous;
  pthread_sigmask(SIG_BLOCK, &stops, &previous);
  signal(SIGPIPE, SIG_IGN);

  const RoamgridHttpLimits limits{kMaxConnections, kMaxConnectionsPerAddress,
                                  kConnectionTimeoutSeconds, kConnectionMemoryBytes};
  void* daemon = http.table->start(fd, v6 ? 1 : 0, &limits, &Answer, &service);
  if (!daemon) {
    close(fd);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    Error(err, "serve: the HTTP server could not start on " + origin);
    return kExitFailure;
  }
  Say(out, "serving " + origin + "/ (layer: " + origin + "/{z}/{x}/{y}.png); stop with Ctrl+C");
  std::fflush(out);
  int signalNumber = 0;
  sigwait(&stops, &signalNumber);
  http.table->stop(daemon);  // closes the listening socket too
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  Say(out, "stopped");
  return kExitOk;
}

}  // namespace roamgrid
