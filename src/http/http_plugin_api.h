// The table of functions that the HTTP server plugin (libroamgrid-http.so)
// hands to `roamgrid-cli serve`: a plain C interface, so that the plugin
// and the program meet at one symbol. The plugin links GNU libmicrohttpd
// (and through it GnuTLS and its helpers); the program loads it with
// dlopen when `serve` starts, and no other command loads it.
//
// The core owns the listening socket and every answer: the plugin hands
// each request's method, path and If-None-Match to the core's handler and
// sends what the handler gives back.
#pragma once

#include <stddef.h>
#include <stdint.h>

extern "C" {

// Raised whenever a structure below changes; the core refuses a plugin of
// another number (a leftover of an older installation).
#define ROAMGRID_HTTP_PLUGIN_ABI 1u
// The one symbol the plugin exports.
#define ROAMGRID_HTTP_PLUGIN_SYMBOL "roamgrid_http_plugin"

// One answer: status, body and headers (`header_count` name and value
// pairs). Everything is copied before the handler's call returns.
struct RoamgridHttpAnswer {
  unsigned status;
  const char* body;
  size_t body_size;
  const char* const* headers;  // name, value, name, value, ...
  size_t header_count;
};

// Answers one request: calls `send(sink, answer)` once before it returns.
// `if_none_match` is empty when the request had none.
typedef void (*RoamgridHttpHandler)(void* context, const char* method, const char* path,
                                    const char* if_none_match, void* sink,
                                    void (*send)(void* sink, const RoamgridHttpAnswer* answer));

// Bounds against hostile or broken clients.
struct RoamgridHttpLimits {
  unsigned connections;
  unsigned connections_per_address;
  unsigned timeout_seconds;
  size_t connection_memory_bytes;  // request line and headers included
};

struct RoamgridHttpPlugin {
  uint32_t abi;         // ROAMGRID_HTTP_PLUGIN_ABI
  uint32_t size;        // sizeof(RoamgridHttpPlugin) as the plugin was built
  const char* version;  // libmicrohttpd's version text

  // Serves on the listening socket `fd` (IPv6 when `ipv6`) from one thread
  // of its own, which calls `handler` for every request; methods other
  // than GET and HEAD reach the handler before any body is read. Returns
  // the server, or null when it could not start (`fd` is then still the
  // caller's).
  void* (*start)(int fd, int ipv6, const RoamgridHttpLimits* limits, RoamgridHttpHandler handler,
                 void* context);
  // Stops the server and closes its listening socket.
  void (*stop)(void* server);
};

// The table when `abi` is the plugin's own, otherwise a null pointer.
typedef const RoamgridHttpPlugin* (*RoamgridHttpPluginEntry)(uint32_t abi);

}  // extern "C"
