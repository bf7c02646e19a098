#pragma once

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
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
class GiftServer final : public httplib::Server {
 public:
  using Accept =
      std::function<platform::Accepted(platform::Socket, std::chrono::milliseconds, std::chrono::milliseconds)>;
  explicit GiftServer(Accept accept = platform::acceptConnection);
  ~GiftServer() override;
  GiftServer(const GiftServer&) = delete;
  GiftServer& operator=(const GiftServer&) = delete;

  // Takes the port on the address and, when `ipv6Loopback`, on [::1] too,
  // wherever the system has IPv6. Answers the reason the port cannot be had,
  // or the empty text.
  std::string open(const std::string& address, int port, bool ipv6Loopback);
  int port() const { return port_; }

  // Accepts and serves connections until stop(), then answers the empty
  // text; or until a listening socket fails for good, then answers why.
  std::string serve();
  // Any thread: serve() returns soon after, without waiting for idle
  // connections.
  void stop();

 private:
  void serveConnection(platform::Socket connection);
  // The server stopped: a connection waiting for its next request wakes up.
  void endOpenConnections();

  const Accept accept_;
  std::vector<platform::Socket> listening_;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::mutex mutex_;
  std::unordered_set<platform::Socket> open_;
};

}  // namespace endpoint
