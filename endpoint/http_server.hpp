#pragma once

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <mutex>
#include <string>
#include <unordered_set>
#include <vector>

#include "platform/sockets.hpp"

namespace endpoint {

// Every connection holds one worker for as long as it stays open: an idle
// keep-alive connection up to 5 s, a client that trickles its headers until
// it stops. The pool grows to many workers so that the relay tool's requests
// find a free one while others are held; the extra workers end when idle.
inline constexpr std::size_t baseWorkers = 8;
inline constexpr std::size_t maxWorkers = 512;

// A connection waits this long for each read (its next request included) and
// each write; it serves at most this many requests.
inline constexpr std::chrono::seconds connectionTimeout{5};
inline constexpr std::size_t requestsPerConnection = 100;

// The HTTP server the gifts arrive at. The library parses the requests and
// routes them to the handlers registered on it; the sockets, the accept loop
// and the connections are the program's own:
// - it listens on more than one address (IPv4, and the IPv6 loopback);
// - an accept that fails for a moment (a connection reset before it was
//   taken, no descriptors left) is tried again, and one that cannot go on
//   ends serve() with the reason, never silently;
// - a connection blocks in its read, bounded by the socket's timeout, and
//   writes straight away: per request one receive and one send;
// - what a connection has read is kept across its requests, so pipelined
//   requests are all served.
class HttpServer final : public httplib::Server {
 public:
  HttpServer() = default;
  ~HttpServer() override;
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Takes the port on the address and, when `ipv6Loopback`, on [::1] too,
  // wherever the system has IPv6; fails with the reason the port cannot be
  // had.
  Result<> open(const std::string& address, int port, bool ipv6Loopback);

  // Accepts and serves connections until a listening socket fails for good,
  // and then fails with why.
  Result<> serve();

 private:
  void serveConnection(platform::Socket connection);
  // The server stopped: a connection waiting for its next request wakes up.
  void endOpenConnections();

  std::vector<platform::Socket> listening_;
  std::atomic<bool> stopping_{false};
  std::mutex mutex_;
  std::unordered_set<platform::Socket> open_;
};

}  // namespace endpoint
