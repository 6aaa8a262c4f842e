// libroamgrid-http.so: the only code that calls GNU libmicrohttpd. It
// takes requests off the core's listening socket and hands each one to the
// core's handler; what is answered is the core's.
#include <microhttpd.h>

#include <cstring>
#include <new>

#include "http/http_plugin_api.h"

namespace {

struct Server {
  MHD_Daemon* daemon = nullptr;
  RoamgridHttpHandler handler = nullptr;
  void* context = nullptr;
};

// What the handler sent, queued on the connection.
struct Sink {
  MHD_Connection* connection;
  MHD_Result result = MHD_NO;
};

void Send(void* sinkPointer, const RoamgridHttpAnswer* answer) {
  auto& sink = *static_cast<Sink*>(sinkPointer);
  MHD_Response* response = MHD_create_response_from_buffer(
      answer->body_size, const_cast<char*>(answer->body ? answer->body : ""),
      MHD_RESPMEM_MUST_COPY);
  if (!response) return;
  for (size_t i = 0; i + 1 < answer->header_count * 2; i += 2)
    MHD_add_response_header(response, answer->headers[i], answer->headers[i + 1]);
  sink.result = MHD_queue_response(sink.connection, answer->status, response);
  MHD_destroy_response(response);
}

// The marker of a request whose headers have been seen.
int gHeadersSeen;

MHD_Result Handle(void* context, MHD_Connection* connection, const char* url, const char* method,
                  const char*, const char*, size_t* uploadSize, void** state) {
  const auto& server = *static_cast<Server*>(context);
  const char* verb = method ? method : "";
  const bool readOnly = std::strcmp(verb, "GET") == 0 || std::strcmp(verb, "HEAD") == 0;
  Sink sink{connection};
  if (*state == nullptr) {
    *state = &gHeadersSeen;
    // Refused before any body is taken in.
    if (!readOnly) {
      server.handler(server.context, verb, "", "", &sink, Send);
      return sink.result;
    }
    return MHD_YES;
  }
  if (*uploadSize != 0) {
    *uploadSize = 0;  // a body of a GET is read and dropped
    return MHD_YES;
  }
  const char* match =
      MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_IF_NONE_MATCH);
  // The library leaves out the body of a HEAD answer and keeps its length.
  server.handler(server.context, "GET", url ? url : "", match ? match : "", &sink, Send);
  return sink.result;
}

void* Start(int fd, int ipv6, const RoamgridHttpLimits* limits, RoamgridHttpHandler handler,
            void* context) {
  if (fd < 0 || !limits || !handler) return nullptr;
  auto* server = new (std::nothrow) Server;
  if (!server) return nullptr;
  server->handler = handler;
  server->context = context;
  server->daemon = MHD_start_daemon(
      MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_POLL | (ipv6 ? MHD_USE_IPv6 : 0), 0, nullptr,
      nullptr, &Handle, server, MHD_OPTION_LISTEN_SOCKET, fd, MHD_OPTION_CONNECTION_LIMIT,
      limits->connections, MHD_OPTION_PER_IP_CONNECTION_LIMIT, limits->connections_per_address,
      MHD_OPTION_CONNECTION_TIMEOUT, limits->timeout_seconds, MHD_OPTION_CONNECTION_MEMORY_LIMIT,
      limits->connection_memory_bytes, MHD_OPTION_END);
  if (!server->daemon) {
    delete server;
    return nullptr;
  }
  return server;
}

void Stop(void* serverPointer) {
  auto* server = static_cast<Server*>(serverPointer);
  if (!server) return;
  MHD_stop_daemon(server->daemon);  // closes the listening socket too
  delete server;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) const RoamgridHttpPlugin* roamgrid_http_plugin(
    uint32_t abi) {
  static const RoamgridHttpPlugin plugin = {
      ROAMGRID_HTTP_PLUGIN_ABI, sizeof(RoamgridHttpPlugin), MHD_get_version(), Start, Stop,
  };
  return abi == ROAMGRID_HTTP_PLUGIN_ABI ? &plugin : nullptr;
}
