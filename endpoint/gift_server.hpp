#pragma once

#include <httplib.h>

#include <cstddef>
#include <mutex>
#include <unordered_set>

namespace endpoint {

// Every connection holds one worker for as long as it stays open: an idle
// keep-alive connection up to 5 s, a client that trickles its headers until
// it stops. The pool grows to many workers so that the relay tool's requests
// find a free one while others are held; the extra workers end when idle.
inline constexpr std::size_t baseWorkers = 8;
inline constexpr std::size_t maxWorkers = 512;

// The HTTP server the gifts arrive at: the library's server, with the worker
// pool above and connections of its own making.
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
