#include "endpoint/gift_server.hpp"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <string>

#include "endpoint/worker_pool.hpp"

namespace endpoint {
namespace {

// A connection waits for its next request as long as for any read, since it
// waits in a read: the two timeouts must stay equal.
static_assert(CPPHTTPLIB_KEEPALIVE_TIMEOUT_SECOND == CPPHTTPLIB_SERVER_READ_TIMEOUT_SECOND);

class ConnectionStream final : public httplib::Stream {
 public:
  ConnectionStream(socket_t sock, time_t readSec, time_t readUsec, time_t writeSec, time_t writeUsec)
      : sock_(sock), readSec_(readSec), readUsec_(readUsec), writeSec_(writeSec), writeUsec_(writeUsec) {
    httplib::detail::get_remote_ip_and_port(sock_, remoteAddr_, remotePort_);
    httplib::detail::get_local_ip_and_port(sock_, localAddr_, localPort_);
  }

  bool is_readable() const override { return offset_ < size_; }
  bool wait_readable() const override {
    return is_readable() || httplib::detail::select_read(sock_, readSec_, readUsec_) > 0;
  }
  bool wait_writable() const override { return httplib::detail::select_write(sock_, writeSec_, writeUsec_) > 0; }
  bool is_peer_alive() const override { return httplib::detail::is_socket_alive(sock_); }

  ssize_t read(char* ptr, size_t size) override {
    if (offset_ == size_) {
      // Blocks until bytes come, the peer closes, or the read timeout.
      if (size >= buffer_.size()) return received(httplib::detail::read_socket(sock_, ptr, size, 0));
      const ssize_t n = received(httplib::detail::read_socket(sock_, buffer_.data(), buffer_.size(), 0));
      if (n <= 0) return n;
      offset_ = 0;
      size_ = static_cast<size_t>(n);
    }
    const size_t count = std::min(size, size_ - offset_);
    std::memcpy(ptr, buffer_.data() + offset_, count);
    offset_ += count;
    return static_cast<ssize_t>(count);
  }

  ssize_t write(const char* ptr, size_t size) override {
    // Blocks while the peer's window is full, up to the write timeout.
    return httplib::detail::send_socket(sock_, ptr, size, CPPHTTPLIB_SEND_FLAGS);
  }

  void get_remote_ip_and_port(std::string& ip, int& port) const override {
    ip = remoteAddr_;
    port = remotePort_;
  }
  void get_local_ip_and_port(std::string& ip, int& port) const override {
    ip = localAddr_;
    port = localPort_;
  }
  socket_t socket() const override { return sock_; }
  time_t duration() const override {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start_).count();
  }
  void set_read_timeout(time_t sec, time_t usec) override {
    readSec_ = sec;
    readUsec_ = usec;
    httplib::detail::set_socket_opt_time(sock_, SOL_SOCKET, SO_RCVTIMEO, sec, usec);
  }

  const std::string& remoteAddr() const { return remoteAddr_; }
  int remotePort() const { return remotePort_; }
  const std::string& localAddr() const { return localAddr_; }
  int localPort() const { return localPort_; }

 private:
  ssize_t received(ssize_t n) {
    if (n == 0) error_ = httplib::Error::ConnectionClosed;
    if (n < 0) error_ = httplib::Error::Read;
    return n;
  }

  const socket_t sock_;
  time_t readSec_, readUsec_, writeSec_, writeUsec_;
  const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::string remoteAddr_, localAddr_;
  int remotePort_ = 0, localPort_ = 0;
  std::array<char, 4096> buffer_{};
  size_t offset_ = 0;
  size_t size_ = 0;
};

}  // namespace

GiftServer::GiftServer() {
  new_task_queue = [this] { return new WorkerPool(baseWorkers, maxWorkers, [this] { endOpenConnections(); }); };
}

bool GiftServer::process_and_close_socket(socket_t sock) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    open_.insert(sock);
  }
  ConnectionStream stream(sock, read_timeout_sec_, read_timeout_usec_, write_timeout_sec_, write_timeout_usec_);
  bool served = false;
  for (size_t left = keep_alive_max_count_; left > 0 && svr_sock_ != INVALID_SOCKET; --left) {
    bool closed = false;
    served = process_request(stream, stream.remoteAddr(), stream.remotePort(), stream.localAddr(), stream.localPort(),
                             left == 1, closed, nullptr);
    if (!served || closed) break;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    open_.erase(sock);
  }
  httplib::detail::shutdown_socket(sock);
  httplib::detail::close_socket(sock);
  return served;
}

void GiftServer::endOpenConnections() {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const socket_t sock : open_) httplib::detail::shutdown_socket(sock);
}

}  // namespace endpoint
