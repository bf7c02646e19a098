// The server's own connections: a worker for each, so that a gift never waits
// behind idle ones; requests sent together all answered in order; a stop that
// does not wait for idle connections.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "recording_platform.hpp"
#include "support.hpp"
#include "test_servers.hpp"

namespace {

using namespace std::chrono_literals;

// A client connection with nothing between the test and the socket.
class RawConnection {
 public:
  explicit RawConnection(int port) {
    sockaddr_in address{AF_INET, htons(static_cast<uint16_t>(port)), {htonl(INADDR_LOOPBACK)}, {}};
    timeval timeout{10, 0};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
    EXPECT_EQ(::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
  }
  ~RawConnection() { ::close(fd_); }
  void send(const std::string& bytes) { EXPECT_EQ(::send(fd_, bytes.data(), bytes.size(), 0), ssize_t(bytes.size())); }
  // What comes until the peer closes or 10 s pass.
  std::string received() {
    std::string got;
    char chunk[4096];
    for (ssize_t n; (n = ::recv(fd_, chunk, sizeof(chunk), 0)) > 0;) got.append(chunk, static_cast<std::size_t>(n));
    return got;
  }

 private:
  int fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
};

std::string gift(const std::string& name, const char* connection = "keep-alive") {
  return "POST /webhook HTTP/1.1\r\nHost: x\r\nContent-Type: application/x-www-form-urlencoded\r\nConnection: " +
         std::string(connection) + "\r\nContent-Length: " + std::to_string(9 + name.size()) +
         "\r\n\r\ngiftName=" + name;
}

TEST(GiftServer, AGiftNeverWaitsBehindIdleConnectionsAndAStopDoesNotWaitForThem) {
  recording::reset();
  testing_support::ConsoleCapture console;
  auto endpoint = testing_support::startWebhookEndpoint({{"Rose", {"key", "g", "", 100}}});
  // Each idle connection holds a worker for up to 5 s.
  std::vector<std::unique_ptr<RawConnection>> idle;
  for (int i = 0; i < 100; ++i) idle.push_back(std::make_unique<RawConnection>(endpoint->port()));
  const auto started = std::chrono::steady_clock::now();
  RawConnection connection(endpoint->port());
  connection.send(gift("Nobody") + gift("Rose") + gift("Other", "close"));
  const std::string replies = connection.received();
  EXPECT_LT(std::chrono::steady_clock::now() - started, 2s);
  const auto pressed = replies.find("Key pressed successfully");
  EXPECT_LT(replies.find("Gift not configured"), pressed) << replies;
  EXPECT_NE(replies.find("Gift not configured", pressed), std::string::npos) << replies;
  EXPECT_EQ(console.count("Cadeau recu: "), 3u);
  endpoint.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - started, 3s);
  EXPECT_EQ(idle.back()->received(), "");
}

}  // namespace
