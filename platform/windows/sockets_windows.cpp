// The server's sockets on Windows (Winsock 2).

// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
#include <windows.h>
// clang-format on

#include <mutex>
#include <vector>

#include "platform/socket_address.hpp"
#include "platform/sockets.hpp"
#include "platform/windows/system_message.hpp"

namespace platform {
namespace {

std::string reason(int code) { return systemMessage(static_cast<DWORD>(code)); }

ListenFailure listenFailure(int error) { return {error == WSAEACCES, reason(error)}; }

SOCKET sock(Socket socket) { return static_cast<SOCKET>(socket); }

void startWinsock() {
  static std::once_flag once;
  std::call_once(once, [] {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
  });
}

bool waitFor(Socket socket, SHORT events, std::chrono::milliseconds timeout) {
  WSAPOLLFD p{sock(socket), events, 0};
  const int n = WSAPoll(&p, 1, static_cast<INT>(timeout.count()));
  return n > 0 && (p.revents & (events | POLLHUP | POLLERR)) != 0;
}

void setTimeout(Socket socket, int option, std::chrono::milliseconds timeout) {
  const DWORD ms = static_cast<DWORD>(timeout.count());
  setsockopt(sock(socket), SOL_SOCKET, option, reinterpret_cast<const char*>(&ms), sizeof(ms));
}

}  // namespace

Result<Socket, ListenFailure> listenOn(const std::string& address, int port, bool optional) {
  startWinsock();
  sockaddr_storage storage;
  socklen_t length = 0;
  if (!fillAddress(address, port, storage, length)) return ListenFailure{false, "adresse invalide"};
  const SOCKET s = WSASocketW(storage.ss_family, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
  if (s == INVALID_SOCKET) {
    const int error = WSAGetLastError();
    if (optional && error == WSAEAFNOSUPPORT) return noSocket;
    return listenFailure(error);
  }
  // No reuse option at all. Windows refuses a second listener on the port
  // unless it asks for SO_REUSEADDR, which this program never does, and
  // binds again at once after a restart. SO_EXCLUSIVEADDRUSE would also
  // refuse a listener that asks for sharing, but keeps the port from being
  // bound again while a connection accepted on it is still active, so a
  // restart right after closing the window could fail.
  u_long nonBlocking = 1;
  if (bind(s, reinterpret_cast<sockaddr*>(&storage), length) != 0 || listen(s, listenBacklog) != 0 ||
      ioctlsocket(s, FIONBIO, &nonBlocking) != 0) {
    const int error = WSAGetLastError();
    closesocket(s);
    if (optional && (error == WSAEADDRNOTAVAIL || error == WSAEAFNOSUPPORT)) return noSocket;
    return listenFailure(error);
  }
  return static_cast<Socket>(s);
}

std::vector<std::size_t> waitForConnections(std::span<const Socket> listening) {
  std::vector<WSAPOLLFD> polled;
  for (const Socket s : listening) polled.push_back({sock(s), POLLRDNORM, 0});
  std::vector<std::size_t> ready;
  if (WSAPoll(polled.data(), static_cast<ULONG>(polled.size()), -1) <= 0) return ready;
  for (std::size_t i = 0; i < polled.size(); ++i) {
    if (polled[i].revents != 0) ready.push_back(i);
  }
  return ready;
}

Result<Accepted> acceptConnection(Socket listening, std::chrono::milliseconds receiveTimeout,
                                  std::chrono::milliseconds sendTimeout) {
  const SOCKET s = accept(sock(listening), nullptr, nullptr);
  if (s == INVALID_SOCKET) {
    const int error = WSAGetLastError();
    switch (error) {
      case WSAEWOULDBLOCK:
      case WSAEINTR:
      case WSAECONNRESET:
      case WSAECONNABORTED:
      case WSAENETDOWN:
      case WSAEINPROGRESS:
        return Accepted{Accepted::Outcome::Nothing, noSocket};
      case WSAEMFILE:
      case WSAENOBUFS:
        return Accepted{Accepted::Outcome::Exhausted, noSocket};
      default:
        return Failure{reason(error)};
    }
  }
  // An accepted socket inherits the listening one's non-blocking mode.
  u_long blocking = 0;
  ioctlsocket(s, FIONBIO, &blocking);
  SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  setTimeout(static_cast<Socket>(s), SO_RCVTIMEO, receiveTimeout);
  setTimeout(static_cast<Socket>(s), SO_SNDTIMEO, sendTimeout);
  const BOOL on = TRUE;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof(on));
  return Accepted{Accepted::Outcome::Connection, static_cast<Socket>(s)};
}

std::ptrdiff_t receive(Socket connection, char* buffer, std::size_t size) {
  return recv(sock(connection), buffer, static_cast<int>(size), 0);
}

std::ptrdiff_t send(Socket connection, const char* data, std::size_t size) {
  return ::send(sock(connection), data, static_cast<int>(size), 0);
}

bool waitReadable(Socket connection, std::chrono::milliseconds timeout) {
  return waitFor(connection, POLLRDNORM, timeout);
}

bool waitWritable(Socket connection, std::chrono::milliseconds timeout) {
  return waitFor(connection, POLLWRNORM, timeout);
}

void setReceiveTimeout(Socket connection, std::chrono::milliseconds timeout) {
  setTimeout(connection, SO_RCVTIMEO, timeout);
}

bool peerStillThere(Socket connection) {
  if (!waitFor(connection, POLLRDNORM, std::chrono::milliseconds(0))) return true;
  char byte;
  return recv(sock(connection), &byte, 1, MSG_PEEK) > 0;
}

void shutdownSocket(Socket socket) { shutdown(sock(socket), SD_BOTH); }

void closeSocket(Socket socket) { closesocket(sock(socket)); }

std::vector<std::string> networkAddresses() {
  std::vector<std::string> found;
  std::vector<unsigned char> buffer;
  ULONG size = 16 * 1024;
  const ULONG flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
  ULONG result = ERROR_BUFFER_OVERFLOW;
  // The list may grow between the call that sizes it and the next.
  for (int attempt = 0; attempt < 3 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
    buffer.resize(size);
    result =
        GetAdaptersAddresses(AF_INET, flags, nullptr, reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
  }
  if (result != NO_ERROR) return found;
  for (auto* adapter = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(buffer.data()); adapter != nullptr;
       adapter = adapter->Next) {
    if (adapter->OperStatus != IfOperStatusUp || adapter->IfType == IF_TYPE_SOFTWARE_LOOPBACK) continue;
    for (auto* unicast = adapter->FirstUnicastAddress; unicast != nullptr; unicast = unicast->Next) {
      char text[INET_ADDRSTRLEN] = {};
      inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(unicast->Address.lpSockaddr)->sin_addr, text,
                sizeof(text));
      found.emplace_back(text);
    }
  }
  return found;
}

}  // namespace platform
