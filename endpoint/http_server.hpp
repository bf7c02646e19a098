#pragma once

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <map>
#include <string>
#include <unordered_set>
#include <vector>

#include "common/thread_safety.hpp"
#include "platform/sockets.hpp"

namespace endpoint {

// Every connection holds one worker for as long as it stays open: an idle
// keep-alive connection up to 5 s, a client that trickles its headers until
// it stops. The pool grows to many workers so that the relay tool's requests
// find a free one while others are held; the extra workers end when idle.
inline constexpr std::size_t baseWorkers = 8;
inline constexpr std::size_t maxWorkers = 512;

// The type of every JSON reply, with its charset: Windows PowerShell reads a
// reply without one as Latin-1, and shows accents as "Ã©".
inline constexpr const char* jsonReplyType = "application/json; charset=utf-8";

// A connection waits this long for each read (its next request included) and
// each write; it serves at most this many requests.
inline constexpr std::chrono::seconds connectionTimeout{5};
inline constexpr std::size_t requestsPerConnection = 100;

// What a peer may hold of the server. Machines on the network (any viewer's
// web page, when no secret is set) must never starve the relay.
struct ConnectionLimits {
  // A request's header and body arrive within this, from its first byte:
  // a client that trickles a byte now and then gets no longer.
  std::chrono::milliseconds requestDeadline = std::chrono::seconds(10);
  // Connections that one address other than the machine's own may hold at
  // once; those beyond are closed as soon as they are accepted.
  std::size_t perPeer = 64;
  // Connections that all other addresses together may hold: the workers
  // beyond them are the relay's, on this machine.
  std::size_t others = maxWorkers - 64;
};

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
//   requests are all served;
// - each peer is held to the limits above; the machine's own loopback
//   address, where the relay runs, is never refused.
// The library's server is held privately: its own listen() would bypass all
// of this.
class HttpServer final : private httplib::Server {
 public:
  explicit HttpServer(ConnectionLimits limits = {}) : limits_(limits) {}
  ~HttpServer() override;
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Takes the port on the address and, when `ipv6Loopback`, on [::1] too,
  // wherever the system has IPv6; fails with the reason the port cannot be
  // had.
  Result<std::monostate, platform::ListenFailure> open(const std::string& address, int port, bool ipv6Loopback);

  // Accepts and serves connections until a listening socket fails for good,
  // and then fails with why.
  Result<> serve();

  // The routes and the library's settings the program uses.
  using httplib::Server::Get;
  using httplib::Server::Options;
  using httplib::Server::Post;
  using httplib::Server::set_payload_max_length;
  using httplib::Server::set_post_routing_handler;
  using httplib::Server::set_pre_routing_handler;
  using httplib::Server::WebSocket;

 private:
  // False, the connection not counted, when its peer holds all it may.
  bool admit(const std::string& peer);
  // A connection admitted has ended.
  void forget(const std::string& peer) REQUIRES(mutex_);
  void serveConnection(platform::Socket connection, const platform::Address& peer);
  // The server stopped: a connection waiting for its next request wakes up.
  void endOpenConnections();

  std::vector<platform::Socket> listening_;
  std::atomic<bool> stopping_{false};
  const ConnectionLimits limits_;
  Mutex mutex_;
  std::unordered_set<platform::Socket> open_ GUARDED_BY(mutex_);
  // Open connections of each address but the machine's own, and of all of them.
  std::map<std::string, std::size_t> perPeer_ GUARDED_BY(mutex_);
  std::size_t others_ GUARDED_BY(mutex_) = 0;
};

}  // namespace endpoint
