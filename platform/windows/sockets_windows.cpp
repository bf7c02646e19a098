// The server's sockets on Windows (Winsock 2).

// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
// clang-format on

#include <mutex>
#include <vector>

#include "platform/sockets.hpp"

namespace platform {
namespace {

std::string reason(int code) {
  wchar_t* buffer = nullptr;
  const DWORD length =
      FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::string text;
  if (length > 0 && buffer != nullptr) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, buffer, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    text.assign(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    WideCharToMultiByte(CP_UTF8, 0, buffer, static_cast<int>(length), text.data(), size, nullptr, nullptr);
  }
  if (buffer != nullptr) LocalFree(buffer);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.')) {
    text.pop_back();
  }
  return text.empty() ? "erreur " + std::to_string(code) : text;
}

SOCKET sock(Socket socket) { return static_cast<SOCKET>(socket); }

void startWinsock() {
  static std::once_flag once;
  std::call_once(once, [] {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
  });
}

bool fillAddress(const std::string& address, int port, sockaddr_storage& storage, int& length) {
  ZeroMemory(&storage, sizeof(storage));
  auto* v4 = reinterpret_cast<sockaddr_in*>(&storage);
  if (inet_pton(AF_INET, address.c_str(), &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
    v4->sin_port = htons(static_cast<u_short>(port));
    length = sizeof(sockaddr_in);
    return true;
  }
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&storage);
  if (inet_pton(AF_INET6, address.c_str(), &v6->sin6_addr) == 1) {
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(static_cast<u_short>(port));
    length = sizeof(sockaddr_in6);
    return true;
  }
  return false;
}

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

Listening listenOn(const std::string& address, int port) {
  startWinsock();
  Listening result;
  sockaddr_storage storage;
  int length = 0;
  if (!fillAddress(address, port, storage, length)) {
    result.failure = "adresse invalide";
    result.noSuchAddress = true;
    return result;
  }
  const SOCKET s = WSASocketW(storage.ss_family, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
  if (s == INVALID_SOCKET) {
    const int error = WSAGetLastError();
    result.failure = reason(error);
    result.noSuchAddress = error == WSAEAFNOSUPPORT;
    return result;
  }
  // No reuse option at all. Windows refuses a second listener on the port
  // unless it asks for SO_REUSEADDR, which this program never does, and
  // binds again at once after a restart. SO_EXCLUSIVEADDRUSE would also
  // refuse a listener that asks for sharing, but keeps the port from being
  // bound again while a connection accepted on it is still active, so a
  // restart right after closing the window could fail.
  if (storage.ss_family == AF_INET6) {
    const DWORD on = 1;
    setsockopt(s, IPPROTO_IPV6, IPV6_V6ONLY, reinterpret_cast<const char*>(&on), sizeof(on));
  }
  u_long nonBlocking = 1;
  if (bind(s, reinterpret_cast<sockaddr*>(&storage), length) != 0 || listen(s, 128) != 0 ||
      ioctlsocket(s, FIONBIO, &nonBlocking) != 0) {
    const int error = WSAGetLastError();
    closesocket(s);
    result.failure = reason(error);
    result.noSuchAddress = error == WSAEADDRNOTAVAIL || error == WSAEAFNOSUPPORT;
    return result;
  }
  result.socket = static_cast<Socket>(s);
  return result;
}

int portOf(Socket listening) { return localAddress(listening).port; }

int waitForConnection(std::span<const Socket> listening, std::chrono::milliseconds timeout) {
  std::vector<WSAPOLLFD> polled;
  for (const Socket s : listening) polled.push_back({sock(s), POLLRDNORM, 0});
  const int n = WSAPoll(polled.data(), static_cast<ULONG>(polled.size()), static_cast<INT>(timeout.count()));
  if (n <= 0) return -1;
  for (std::size_t i = 0; i < polled.size(); ++i) {
    if (polled[i].revents != 0) return static_cast<int>(i);
  }
  return -1;
}

Accepted acceptConnection(Socket listening, std::chrono::milliseconds receiveTimeout,
                          std::chrono::milliseconds sendTimeout) {
  Accepted result;
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
        result.outcome = Accepted::Outcome::Nothing;
        return result;
      case WSAEMFILE:
      case WSAENOBUFS:
        result.outcome = Accepted::Outcome::Exhausted;
        break;
      default:
        result.outcome = Accepted::Outcome::Fatal;
    }
    result.failure = reason(error);
    return result;
  }
  // An accepted socket inherits the listening one's non-blocking mode.
  u_long blocking = 0;
  ioctlsocket(s, FIONBIO, &blocking);
  SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  setTimeout(static_cast<Socket>(s), SO_RCVTIMEO, receiveTimeout);
  setTimeout(static_cast<Socket>(s), SO_SNDTIMEO, sendTimeout);
  const BOOL on = TRUE;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof(on));
  result.outcome = Accepted::Outcome::Connection;
  result.socket = static_cast<Socket>(s);
  return result;
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

Address peerAddress(Socket connection) {
  sockaddr_storage storage{};
  int length = sizeof(storage);
  if (getpeername(sock(connection), reinterpret_cast<sockaddr*>(&storage), &length) != 0) return {};
  return addressOf(storage);
}

Address localAddress(Socket connection) {
  sockaddr_storage storage{};
  int length = sizeof(storage);
  if (getsockname(sock(connection), reinterpret_cast<sockaddr*>(&storage), &length) != 0) return {};
  return addressOf(storage);
}

void shutdownSocket(Socket socket) { shutdown(sock(socket), SD_BOTH); }

void closeSocket(Socket socket) { closesocket(sock(socket)); }

}  // namespace platform
