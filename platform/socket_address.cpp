// The parts of the socket calls that Winsock and POSIX spell alike.

#ifdef _WIN32
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
// clang-format on
using NativeSocket = SOCKET;
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
using NativeSocket = int;
#endif

#include <cstdint>
#include <cstring>

#include "platform/socket_address.hpp"

namespace platform {
namespace {

Address addressOf(const sockaddr_storage& storage) {
  char text[INET6_ADDRSTRLEN] = {};
  Address out;
  if (storage.ss_family == AF_INET) {
    const auto* v4 = reinterpret_cast<const sockaddr_in*>(&storage);
    inet_ntop(AF_INET, &v4->sin_addr, text, sizeof(text));
    out.port = ntohs(v4->sin_port);
  } else if (storage.ss_family == AF_INET6) {
    const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&storage);
    inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof(text));
    out.port = ntohs(v6->sin6_port);
  }
  out.ip = text;
  return out;
}

}  // namespace

bool fillAddress(const std::string& address, int port, sockaddr_storage& storage, socklen_t& length) {
  std::memset(&storage, 0, sizeof(storage));
  auto* v4 = reinterpret_cast<sockaddr_in*>(&storage);
  if (inet_pton(AF_INET, address.c_str(), &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
    v4->sin_port = htons(static_cast<std::uint16_t>(port));
    length = sizeof(sockaddr_in);
    return true;
  }
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&storage);
  if (inet_pton(AF_INET6, address.c_str(), &v6->sin6_addr) == 1) {
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(static_cast<std::uint16_t>(port));
    length = sizeof(sockaddr_in6);
    return true;
  }
  return false;
}

namespace {

// The address that getpeername or getsockname gives for the socket.
template <class Query>
Address queried(Socket socket, Query query) {
  sockaddr_storage storage{};
  socklen_t length = sizeof(storage);
  if (query(static_cast<NativeSocket>(socket), reinterpret_cast<sockaddr*>(&storage), &length) != 0) return {};
  return addressOf(storage);
}

}  // namespace

Address peerAddress(Socket connection) {
  return queried(connection, [](NativeSocket s, sockaddr* a, socklen_t* l) { return getpeername(s, a, l); });
}

Address localAddress(Socket connection) {
  return queried(connection, [](NativeSocket s, sockaddr* a, socklen_t* l) { return getsockname(s, a, l); });
}

int portOf(Socket listening) { return localAddress(listening).port; }

}  // namespace platform
