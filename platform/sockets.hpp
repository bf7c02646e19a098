#pragma once

// The server's TCP sockets, in the program's terms: listen on an address,
// accept, receive, send, wait. One implementation per system
// (posix/sockets_posix.cpp, windows/sockets_windows.cpp); the tests use the
// same real sockets on loopback.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "common/result.hpp"

namespace platform {

using Socket = std::intptr_t;
inline constexpr Socket noSocket = -1;

// A burst of gifts must not overflow the queue of waiting connections.
inline constexpr int listenBacklog = 128;

// Why a port could not be had.
struct ListenFailure {
  // The system keeps the port from this program (Windows reserves ranges of
  // ports for Hyper-V, WSL and Docker), rather than another program holding it.
  bool forbidden = false;
  std::string reason;
};

// A socket listening on the numeric address ("0.0.0.0", "::1") and port (0:
// one of the system's choosing), and the port's alone: a second listener on
// the same port is refused, while a restart may bind again at once. When the
// address is `optional`, a system that has no such address (no IPv6, say)
// answers noSocket rather than failing.
Result<Socket, ListenFailure> listenOn(const std::string& address, int port, bool optional = false);
// The port a listening socket holds.
int portOf(Socket listening);

// Waits until listening sockets have connections to accept, for as long as
// it takes (an idle program sleeps); answers their indexes, or none when the
// wait was interrupted.
std::vector<std::size_t> waitForConnections(std::span<const Socket> listening);

struct Accepted {
  enum class Outcome {
    Connection,  // `socket` is the new connection
    Nothing,     // nothing to accept after all, or a connection that went away
    Exhausted,   // out of descriptors or memory for now: try again shortly
  };
  Outcome outcome = Outcome::Nothing;
  Socket socket = noSocket;
};
// Takes one waiting connection. A connection is blocking, with the timeouts
// given for each receive and send. Fails when the listening socket is
// unusable.
Result<Accepted> acceptConnection(Socket listening, std::chrono::milliseconds receiveTimeout,
                                  std::chrono::milliseconds sendTimeout);

// Bytes received (blocking up to the receive timeout), 0 when the peer has
// closed, negative on an error or the timeout.
std::ptrdiff_t receive(Socket connection, char* buffer, std::size_t size);
// Bytes sent (blocking while the peer's window is full, up to the send
// timeout), negative on an error.
std::ptrdiff_t send(Socket connection, const char* data, std::size_t size);
bool waitReadable(Socket connection, std::chrono::milliseconds timeout);
bool waitWritable(Socket connection, std::chrono::milliseconds timeout);
void setReceiveTimeout(Socket connection, std::chrono::milliseconds timeout);
// False once the peer has closed or the connection has failed.
bool peerStillThere(Socket connection);

struct Address {
  std::string ip;
  int port = 0;
};
Address peerAddress(Socket connection);
Address localAddress(Socket connection);

// The machine's IPv4 addresses on its networks, loopback left out: where a
// relay on another computer reaches this one.
std::vector<std::string> networkAddresses();

// Ends both directions: a thread blocked receiving wakes up.
void shutdownSocket(Socket socket);
void closeSocket(Socket socket);

}  // namespace platform
