// The server's sockets on Linux.

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>
#include <vector>

#include "platform/socket_address.hpp"
#include "platform/sockets.hpp"

namespace platform {
namespace {

std::string reason(int error) { return std::generic_category().message(error); }

ListenFailure listenFailure(int error) { return {error == EACCES || error == EPERM, reason(error)}; }

int fd(Socket socket) { return static_cast<int>(socket); }

timeval timevalOf(std::chrono::milliseconds timeout) {
  timeval tv{};
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(timeout);
  tv.tv_sec = static_cast<time_t>(seconds.count());
  tv.tv_usec = static_cast<suseconds_t>(std::chrono::microseconds(timeout - seconds).count());
  return tv;
}

bool waitFor(Socket socket, short events, std::chrono::milliseconds timeout) {
  pollfd p{fd(socket), events, 0};
  int n;
  do {
    n = ::poll(&p, 1, static_cast<int>(timeout.count()));
  } while (n < 0 && errno == EINTR);
  return (p.revents & (events | POLLHUP | POLLERR)) != 0;  // set only when n > 0
}

}  // namespace

Result<Socket, ListenFailure> listenOn(const std::string& address, int port, bool optional) {
  sockaddr_storage storage;
  socklen_t length = 0;
  if (!fillAddress(address, port, storage, length)) return ListenFailure{false, "adresse invalide"};
  const int s = ::socket(storage.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (s < 0) {
    const int error = errno;
    if (optional && error == EAFNOSUPPORT) return noSocket;
    return listenFailure(error);
  }
  // SO_REUSEADDR alone: a restart may bind while the last run's connections
  // linger in TIME_WAIT, but a second listener on the port is still refused
  // (only SO_REUSEPORT would share it).
  const int on = 1;
  setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
  if (::bind(s, reinterpret_cast<sockaddr*>(&storage), length) != 0 || ::listen(s, listenBacklog) != 0) {
    const int error = errno;
    ::close(s);
    if (optional && (error == EADDRNOTAVAIL || error == EAFNOSUPPORT)) return noSocket;
    return listenFailure(error);
  }
  return Socket{s};
}

std::vector<std::size_t> waitForConnections(std::span<const Socket> listening) {
  std::vector<pollfd> polled;
  for (const Socket s : listening) polled.push_back({fd(s), POLLIN, 0});
  std::vector<std::size_t> ready;
  if (::poll(polled.data(), polled.size(), -1) <= 0) return ready;
  for (std::size_t i = 0; i < polled.size(); ++i) {
    if (polled[i].revents != 0) ready.push_back(i);
  }
  return ready;
}

Result<Accepted> acceptConnection(Socket listening, std::chrono::milliseconds receiveTimeout,
                                  std::chrono::milliseconds sendTimeout) {
  // Not inherited from the listening socket: the connection blocks.
  const int s = ::accept4(fd(listening), nullptr, nullptr, SOCK_CLOEXEC);
  if (s < 0) {
    const int error = errno;
    switch (error) {
      case EAGAIN:
#if EAGAIN != EWOULDBLOCK
      case EWOULDBLOCK:
#endif
      case EINTR:
      case ECONNABORTED:
      case EPROTO:
      case EPERM:  // refused by a firewall rule
      // Linux passes errors pending on the new connection on to accept.
      case ENETDOWN:
      case ENOPROTOOPT:
      case EHOSTDOWN:
      case ENONET:
      case EHOSTUNREACH:
      case EOPNOTSUPP:
      case ENETUNREACH:
      case ETIMEDOUT:
        return Accepted{Accepted::Outcome::Nothing, noSocket};
      case EMFILE:
      case ENFILE:
      case ENOBUFS:
      case ENOMEM:
        return Accepted{Accepted::Outcome::Exhausted, noSocket};
      default:
        return Failure{reason(error)};
    }
  }
  const timeval receive = timevalOf(receiveTimeout);
  const timeval send = timevalOf(sendTimeout);
  setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &receive, sizeof(receive));
  setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &send, sizeof(send));
  const int on = 1;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
  return Accepted{Accepted::Outcome::Connection, s};
}

std::ptrdiff_t receive(Socket connection, char* buffer, std::size_t size) {
  ssize_t n;
  do {
    n = ::recv(fd(connection), buffer, size, 0);
  } while (n < 0 && errno == EINTR);
  return n;
}

std::ptrdiff_t send(Socket connection, const char* data, std::size_t size) {
  ssize_t n;
  do {
    n = ::send(fd(connection), data, size, MSG_NOSIGNAL);
  } while (n < 0 && errno == EINTR);
  return n;
}

bool waitReadable(Socket connection, std::chrono::milliseconds timeout) { return waitFor(connection, POLLIN, timeout); }

bool waitWritable(Socket connection, std::chrono::milliseconds timeout) {
  return waitFor(connection, POLLOUT, timeout);
}

void setReceiveTimeout(Socket connection, std::chrono::milliseconds timeout) {
  const timeval tv = timevalOf(timeout);
  setsockopt(fd(connection), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
}

bool peerStillThere(Socket connection) {
  if (!waitFor(connection, POLLIN, std::chrono::milliseconds(0))) return true;
  char byte;
  return ::recv(fd(connection), &byte, 1, MSG_PEEK | MSG_DONTWAIT) > 0;
}

void shutdownSocket(Socket socket) { ::shutdown(fd(socket), SHUT_RDWR); }

void closeSocket(Socket socket) { ::close(fd(socket)); }

std::vector<std::string> networkAddresses() {
  std::vector<std::string> found;
  ifaddrs* all = nullptr;
  if (getifaddrs(&all) != 0) return found;
  for (const ifaddrs* one = all; one != nullptr; one = one->ifa_next) {
    if (one->ifa_addr == nullptr || one->ifa_addr->sa_family != AF_INET) continue;
    if ((one->ifa_flags & IFF_LOOPBACK) != 0 || (one->ifa_flags & IFF_UP) == 0) continue;
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(one->ifa_addr)->sin_addr, text, sizeof(text));
    found.emplace_back(text);
  }
  freeifaddrs(all);
  return found;
}

}  // namespace platform
