// The server's own connections: requests read straight from the socket,
// several per connection, a worker for each, and a stop that does not wait
// for idle ones.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

#include "endpoint/webhook_endpoint.hpp"
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
  // What comes until `count` replies have come whole, the peer closes, or 10 s.
  std::string replies(long count) {
    std::string got;
    char chunk[4096];
    ssize_t n = 0;
    while ((count > 0 || got.empty() || got.back() != '}') && (n = ::recv(fd_, chunk, sizeof(chunk), 0)) > 0) {
      for (const char* at = chunk; (at = static_cast<const char*>(std::memchr(at, '{', chunk + n - at))); ++at) --count;
      got.append(chunk, static_cast<std::size_t>(n));
    }
    return got;
  }
  bool closedByPeer() {
    char byte;
    return ::recv(fd_, &byte, 1, 0) == 0;
  }

 private:
  int fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
};

std::string gift(const std::string& name, bool close = false) {
  return "POST /webhook HTTP/1.1\r\nHost: x\r\nContent-Type: application/x-www-form-urlencoded\r\n" +
         std::string(close ? "Connection: close\r\n" : "") + "Content-Length: " + std::to_string(9 + name.size()) +
         "\r\n\r\ngiftName=" + name;
}

class GiftServer : public ::testing::Test {
 protected:
  void SetUp() override { recording::reset(); }
  testing_support::ConsoleCapture console_;
  std::unique_ptr<testing_support::RunningEndpoint> endpoint_ =
      testing_support::startWebhookEndpoint({{"Rose", {"key", "g", "", 100}}});
};

TEST_F(GiftServer, RequestsSentTogetherOnOneConnectionAreAllAnsweredInOrder) {
  RawConnection connection(endpoint_->port());
  connection.send(gift("Nobody") + gift("Rose") + gift("Other"));
  const std::string replies = connection.replies(3);
  const auto second = replies.find("Key pressed successfully");
  EXPECT_LT(replies.find("Gift not configured"), second) << replies;
  EXPECT_NE(replies.find("Gift not configured", second), std::string::npos) << replies;
  EXPECT_EQ(console_.count("Cadeau recu: "), 3u);
}

TEST_F(GiftServer, AConnectionServesAHundredRequestsOrUntilTheClientAsksToClose) {
  RawConnection connection(endpoint_->port());
  for (int i = 1; i < 100; ++i) {
    connection.send(gift("Nobody"));
    ASSERT_EQ(connection.replies(1).find("Connection: close"), std::string::npos) << "request " << i;
  }
  connection.send(gift("Nobody"));
  EXPECT_NE(connection.replies(1).find("Connection: close"), std::string::npos);
  EXPECT_TRUE(connection.closedByPeer());
  RawConnection closing(endpoint_->port());
  closing.send(gift("Nobody", true));
  EXPECT_NE(closing.replies(1).find("Gift not configured"), std::string::npos);
  EXPECT_TRUE(closing.closedByPeer());
  EXPECT_EQ(console_.count("Cadeau recu: Nobody"), 101u);
}

TEST_F(GiftServer, AGiftIsServedAtOnceWhileAHundredConnectionsAreIdleAndAStopDoesNotWaitForThem) {
  std::vector<std::unique_ptr<RawConnection>> idle;
  for (int i = 0; i < 100; ++i) idle.push_back(std::make_unique<RawConnection>(endpoint_->port()));
  // Each idle connection holds a worker for up to 5 s.
  const auto started = std::chrono::steady_clock::now();
  RawConnection used(endpoint_->port());
  used.send(gift("Rose"));
  EXPECT_NE(used.replies(1).find("Key pressed successfully"), std::string::npos);
  EXPECT_LT(std::chrono::steady_clock::now() - started, 2s);
  endpoint_.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - started, 3s);
  EXPECT_TRUE(idle[0]->closedByPeer());
  EXPECT_TRUE(used.closedByPeer());
}

TEST(GiftServerAddresses, TheIpv6LoopbackIsServedOnTheSamePort) {
  auto server = std::make_unique<endpoint::GiftServer>();
  endpoint::registerRoutes(*server, std::make_shared<const config::GiftTable>());
  testing_support::RunningEndpoint running(std::move(server), true);
  const auto result = httplib::Client("::1", running.port()).Post("/webhook?giftName=Nobody");
  ASSERT_TRUE(result) << httplib::to_string(result.error());
  EXPECT_EQ(result->body, R"({"message": "Gift not configured"})");
}

// The accept loop over an accept that fails as the test says.
TEST(FailingAccept, PassingFailuresAreTriedAgainAndOneThatCannotGoOnEndsServingWithTheReason) {
  using Outcome = platform::Accepted::Outcome;
  std::atomic<std::size_t> calls{0};
  const auto start = [&calls](std::vector<Outcome> failures) {
    calls = 0;
    auto server = std::make_unique<endpoint::GiftServer>(
        [&calls, failures](platform::Socket s, std::chrono::milliseconds r, std::chrono::milliseconds w) {
          const std::size_t n = calls++;
          if (n < failures.size()) return platform::Accepted{failures[n], platform::noSocket, "raison du systeme"};
          return platform::acceptConnection(s, r, w);
        });
    endpoint::registerRoutes(*server, std::make_shared<const config::GiftTable>());
    return std::make_unique<testing_support::RunningEndpoint>(std::move(server));
  };
  testing_support::ConsoleCapture console;
  auto passing = start({Outcome::Nothing, Outcome::Exhausted, Outcome::Exhausted, Outcome::Nothing});
  const auto result = httplib::Client("127.0.0.1", passing->port()).Post("/webhook?giftName=Rose");
  ASSERT_TRUE(result);
  EXPECT_EQ(result->body, R"({"message": "Gift not configured"})");
  EXPECT_EQ(calls.load(), 5u);
  auto fatal = start({Outcome::Fatal});
  RawConnection connection(fatal->port());
  EXPECT_EQ(fatal->failure(), "raison du systeme");
}

}  // namespace
