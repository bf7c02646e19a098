#include "endpoint/http_server.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <thread>
#include <utility>

#include "common/thread_safety.hpp"
#include "endpoint/page_access.hpp"
#include "endpoint/worker_pool.hpp"

namespace endpoint {
namespace {

using std::chrono::milliseconds;

// The longest pause before accepting again when the system is out of
// descriptors or memory: connections wait in the backlog meanwhile.
constexpr milliseconds longestPause{100};

class ConnectionStream final : public httplib::Stream {
 public:
  ConnectionStream(platform::Socket socket, platform::Address peer, milliseconds requestDeadline)
      : socket_(socket),
        peer_(std::move(peer)),
        local_(platform::localAddress(socket)),
        requestDeadline_(requestDeadline) {}

  // The next request's deadline starts with its first byte.
  void nextRequest() {
    deadline_.reset();
    if (std::exchange(shortened_, false)) platform::setReceiveTimeout(socket_, readTimeout_);
  }

  bool is_readable() const override { return offset_ < size_; }
  bool wait_readable() const override { return is_readable() || platform::waitReadable(socket_, readTimeout_); }
  bool wait_writable() const override { return platform::waitWritable(socket_, connectionTimeout); }
  bool is_peer_alive() const override { return platform::peerStillThere(socket_); }

  ssize_t read(char* ptr, size_t size) override {
    if (offset_ == size_) {
      untilDeadline_ = false;
      if (deadline_) {
        // Within the request: no later than its deadline.
        const auto left = std::chrono::duration_cast<milliseconds>(*deadline_ - std::chrono::steady_clock::now());
        untilDeadline_ = left < readTimeout_;
        if (left.count() <= 0) return received(-1);
        platform::setReceiveTimeout(socket_, std::min(left, readTimeout_));
        shortened_ = true;
      }
      // Blocks until bytes come, the peer closes, or the read timeout.
      if (size >= buffer_.size()) return startsRequest(received(platform::receive(socket_, ptr, size)));
      const ssize_t n = received(platform::receive(socket_, buffer_.data(), buffer_.size()));
      if (n <= 0) return n;
      offset_ = 0;
      size_ = static_cast<size_t>(n);
    }
    if (!deadline_) deadline_ = std::chrono::steady_clock::now() + requestDeadline_;
    const size_t count = std::min(size, size_ - offset_);
    std::memcpy(ptr, buffer_.data() + offset_, count);
    offset_ += count;
    return static_cast<ssize_t>(count);
  }

  ssize_t write(const char* ptr, size_t size) override {
    // Blocks while the peer's window is full, up to the write timeout.
    return static_cast<ssize_t>(platform::send(socket_, ptr, size));
  }

  void get_remote_ip_and_port(std::string& ip, int& port) const override {
    ip = peer_.ip;
    port = peer_.port;
  }
  void get_local_ip_and_port(std::string& ip, int& port) const override {
    ip = local_.ip;
    port = local_.port;
  }
  socket_t socket() const override { return static_cast<socket_t>(socket_); }
  time_t duration() const override {
    return std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - start_).count();
  }
  void set_read_timeout(time_t sec, time_t usec) override {
    readTimeout_ =
        std::chrono::duration_cast<milliseconds>(std::chrono::seconds(sec) + std::chrono::microseconds(usec));
    platform::setReceiveTimeout(socket_, readTimeout_);
  }

  // A request ran past its deadline: the library answers 400 and would read
  // on, giving the next trickled byte a deadline of its own.
  bool expired() const { return expired_; }
  const platform::Address& peer() const { return peer_; }
  const platform::Address& local() const { return local_; }

 private:
  // Bytes read straight into the caller's buffer may be the request's first.
  ssize_t startsRequest(ssize_t n) {
    if (n > 0 && !deadline_) deadline_ = std::chrono::steady_clock::now() + requestDeadline_;
    return n;
  }
  ssize_t received(std::ptrdiff_t n) {
    if (n == 0) error_ = httplib::Error::ConnectionClosed;
    if (n < 0) error_ = httplib::Error::Read;
    // The read that failed waited until the deadline, or began after it.
    // (Told by the wait, not by the clock: Windows may end a wait a few
    // milliseconds before its timeout, and the next bytes would then get a
    // deadline of their own.)
    if (n < 0 && untilDeadline_) expired_ = true;
    return static_cast<ssize_t>(n);
  }

  const platform::Socket socket_;
  const platform::Address peer_, local_;
  milliseconds readTimeout_ = connectionTimeout;
  const milliseconds requestDeadline_;
  std::optional<std::chrono::steady_clock::time_point> deadline_;
  bool shortened_ = false;      // the socket's timeout is the deadline's
  bool untilDeadline_ = false;  // the read under way waits until the deadline, or began after it
  bool expired_ = false;
  const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::array<char, 4096> buffer_{};
  size_t offset_ = 0;
  size_t size_ = 0;
};

}  // namespace

HttpServer::~HttpServer() {
  for (const platform::Socket socket : listening_) platform::closeSocket(socket);
}

Result<std::monostate, platform::ListenFailure> HttpServer::open(const std::string& address, int port,
                                                                 bool ipv6Loopback) {
  const auto first = platform::listenOn(address, port);
  if (!first) return first.failure();
  listening_.push_back(*first);
  if (ipv6Loopback) {
    // A system without IPv6 is served on IPv4 alone.
    const auto loopback = platform::listenOn("::1", platform::portOf(*first), true);
    if (!loopback) return loopback.failure();
    if (*loopback != platform::noSocket) listening_.push_back(*loopback);
  }
  return {};
}

Result<> HttpServer::serve() {
  WorkerPool pool(baseWorkers, maxWorkers, [this] { endOpenConnections(); });
  Result<> served;
  milliseconds pause{1};
  while (!stopping_) {
    // One connection from each socket that has some, so that a flood on one
    // address does not keep the other waiting.
    for (const std::size_t ready : platform::waitForConnections(listening_)) {
      if (stopping_) break;
      const auto accepted = platform::acceptConnection(listening_[ready], connectionTimeout, connectionTimeout);
      if (!accepted) {
        served = accepted.failure();
        stopping_ = true;
        break;
      }
      switch (accepted->outcome) {
        case platform::Accepted::Outcome::Connection: {
          pause = milliseconds(1);
          const platform::Socket connection = accepted->socket;
          const platform::Address peer = platform::peerAddress(connection);
          if (!admit(peer.ip)) {
            platform::closeSocket(connection);
          } else if (!pool.enqueue([this, connection, peer] { serveConnection(connection, peer); })) {
            MutexLock lock(mutex_);
            forget(peer.ip);
            platform::closeSocket(connection);
          }
          break;
        }
        case platform::Accepted::Outcome::Nothing:
          break;
        case platform::Accepted::Outcome::Exhausted:
          // Connections that end meanwhile give descriptors back.
          std::this_thread::sleep_for(pause);
          pause = std::min(pause * 2, longestPause);
          break;
      }
    }
  }
  return served;  // and the pool's end closes the connections still open, then joins its workers
}

bool HttpServer::admit(const std::string& peer) {
  // The relay and the page run on this machine: never held back.
  if (isLoopback(peer)) return true;
  MutexLock lock(mutex_);
  const auto held = perPeer_.find(peer);
  if (others_ >= limits_.others || (held != perPeer_.end() && held->second >= limits_.perPeer)) return false;
  ++perPeer_[peer];
  ++others_;
  return true;
}

void HttpServer::forget(const std::string& peer) {
  const auto held = perPeer_.find(peer);
  if (held == perPeer_.end()) return;
  --others_;
  if (--held->second == 0) perPeer_.erase(held);
}

void HttpServer::serveConnection(platform::Socket connection, const platform::Address& peer) {
  {
    MutexLock lock(mutex_);
    open_.insert(connection);
  }
  ConnectionStream stream(connection, peer, limits_.requestDeadline);
  for (size_t left = requestsPerConnection; left > 0 && !stopping_; --left) {
    stream.nextRequest();
    bool closed = false;
    const bool served = process_request(stream, stream.peer().ip, stream.peer().port, stream.local().ip,
                                        stream.local().port, left == 1, closed, nullptr);
    if (!served || closed || stream.expired()) break;
  }
  {
    MutexLock lock(mutex_);
    open_.erase(connection);
    forget(peer.ip);
  }
  platform::shutdownSocket(connection);
  platform::closeSocket(connection);
}

void HttpServer::endOpenConnections() {
  MutexLock lock(mutex_);
  for (const platform::Socket connection : open_) platform::shutdownSocket(connection);
}

}  // namespace endpoint
