#pragma once

#include <httplib.h>

#include <mutex>
#include <unordered_set>

namespace endpoint {

// The HTTP server the gifts arrive at: the library's server, with the worker
// pool below and connections of its own making.
//
// The library's connections wait with poll() before every read and every
// write, and poll again every 10 ms while waiting for the next request. A
// connection here blocks in the read itself, bounded by the timeouts the
// library puts on every accepted socket, and writes straight away: per
// request a receive and a send, three system calls fewer, and no wake-ups
// between requests. It also keeps what it has read across the requests of a
// connection, so pipelined requests are all served.
class GiftServer final : public httplib::Server {
 public:
  GiftServer();

 private:
  bool process_and_close_socket(socket_t sock) override;
  // The server stopped: a connection waiting for its next request wakes up.
  void endOpenConnections();

  std::mutex mutex_;
  std::unordered_set<socket_t> open_;
};

}  // namespace endpoint
