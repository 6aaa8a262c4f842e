// roamgrid-cli serve: the marks as a live map tile layer over HTTP, read
// only, on libmicrohttpd. One thread of the library answers every request
// (the marks renderer is used by one thread); the main thread waits for
// SIGINT or SIGTERM and then stops the server.
#include <arpa/inet.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "cli/cli_commands.h"
#include "cli/cli_output.h"
#include "common/text.h"
#include "export/tile_service.h"
#include "export/web_page.h"
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

// The marker of a request whose headers have been seen.
int gHeadersSeen;

MHD_Result Queue(MHD_Connection* connection, const HttpAnswer& answer) {
  MHD_Response* response = MHD_create_response_from_buffer(
      answer.body.size(), const_cast<char*>(answer.body.data()), MHD_RESPMEM_MUST_COPY);
  if (!response) return MHD_NO;
  if (!answer.contentType.empty())
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, answer.contentType.c_str());
  if (!answer.etag.empty())
    MHD_add_response_header(response, MHD_HTTP_HEADER_ETAG, answer.etag.c_str());
  if (!answer.allow.empty())
    MHD_add_response_header(response, MHD_HTTP_HEADER_ALLOW, answer.allow.c_str());
  if (!answer.cacheControl.empty())
    MHD_add_response_header(response, MHD_HTTP_HEADER_CACHE_CONTROL, answer.cacheControl.c_str());
  // Pages and tiles of any origin may use the layer (a web map elsewhere).
  MHD_add_response_header(response, MHD_HTTP_HEADER_ACCESS_CONTROL_ALLOW_ORIGIN, "*");
  MHD_add_response_header(response, "X-Content-Type-Options", "nosniff");
  const MHD_Result queued = MHD_queue_response(connection, unsigned(answer.status), response);
  MHD_destroy_response(response);
  return queued;
}

MHD_Result Handle(void* context, MHD_Connection* connection, const char* url, const char* method,
                  const char*, const char*, size_t* uploadSize, void** state) {
  auto& service = *static_cast<TileService*>(context);
  const std::string verb = method ? method : "";
  const bool readOnly = verb == "GET" || verb == "HEAD";
  if (*state == nullptr) {
    *state = &gHeadersSeen;
    // Refused before any body is taken in.
    if (!readOnly) return Queue(connection, service.Answer(verb, "", ""));
    return MHD_YES;
  }
  if (*uploadSize != 0) {
    *uploadSize = 0;  // a body of a GET is read and dropped
    return MHD_YES;
  }
  const char* match =
      MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_IF_NONE_MATCH);
  // The library leaves out the body of a HEAD answer and keeps its length.
  return Queue(connection, service.Answer("GET", url ? url : "", match ? match : ""));
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

  MHD_Daemon* daemon = MHD_start_daemon(
      MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_POLL | (v6 ? MHD_USE_IPv6 : 0), 0, nullptr, nullptr,
      &Handle, &service, MHD_OPTION_LISTEN_SOCKET, fd, MHD_OPTION_CONNECTION_LIMIT, kMaxConnections,
      MHD_OPTION_PER_IP_CONNECTION_LIMIT, kMaxConnectionsPerAddress, MHD_OPTION_CONNECTION_TIMEOUT,
      kConnectionTimeoutSeconds, MHD_OPTION_CONNECTION_MEMORY_LIMIT, kConnectionMemoryBytes,
      MHD_OPTION_END);
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
  MHD_stop_daemon(daemon);  // closes the listening socket too
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  Say(out, "stopped");
  return kExitOk;
}

}  // namespace roamgrid
