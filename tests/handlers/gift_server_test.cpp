// The server's own connections: requests read straight from the socket,
// several per connection, and a stop that does not wait for idle ones.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>

#include "endpoint/webhook_endpoint.hpp"
#include "recording_platform.hpp"
#include "support.hpp"
#include "test_servers.hpp"

namespace {

using namespace std::chrono_literals;

// A client connection with nothing between the test and the socket.
class RawConnection {
 public:
  explicit RawConnection(int port) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval timeout{10, 0};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
    EXPECT_EQ(::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
  }
  ~RawConnection() { ::close(fd_); }
  RawConnection(const RawConnection&) = delete;
  RawConnection& operator=(const RawConnection&) = delete;

  void send(const std::string& bytes) { ASSERT_EQ(::send(fd_, bytes.data(), bytes.size(), 0), ssize_t(bytes.size())); }
  // Reads until `count` replies have come whole, or the peer closes, or 10 s.
  std::string readReplies(std::size_t count) {
    std::string got;
    char chunk[4096];
    while (countOf(got, "\r\n\r\n{") < count || !endsWithBody(got)) {
      const ssize_t n = ::recv(fd_, chunk, sizeof(chunk), 0);
      if (n <= 0) break;
      got.append(chunk, static_cast<std::size_t>(n));
    }
    return got;
  }
  // True once the server has closed its side.
  bool closedByPeer() {
    char byte;
    return ::recv(fd_, &byte, 1, 0) == 0;
  }

  static std::size_t countOf(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
  }

 private:
  static bool endsWithBody(const std::string& text) { return !text.empty() && text.back() == '}'; }
  int fd_;
};

std::string giftRequest(const std::string& name, bool close = false) {
  const std::string body = "giftName=" + name;
  return "POST /webhook HTTP/1.1\r\nHost: x\r\nContent-Type: application/x-www-form-urlencoded\r\n" +
         std::string(close ? "Connection: close\r\n" : "") + "Content-Length: " + std::to_string(body.size()) +
         "\r\n\r\n" + body;
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
  connection.send(giftRequest("Nobody") + giftRequest("Rose") + giftRequest("Other"));
  const std::string replies = connection.readReplies(3);
  const auto first = replies.find("Gift not configured");
  const auto second = replies.find("Key pressed successfully");
  const auto third = replies.find("Gift not configured", first + 1);
  ASSERT_NE(first, std::string::npos) << replies;
  ASSERT_NE(second, std::string::npos) << replies;
  ASSERT_NE(third, std::string::npos) << replies;
  EXPECT_LT(first, second);
  EXPECT_LT(second, third);
  EXPECT_EQ(console_.count("Cadeau recu: "), 3u);
}

TEST_F(GiftServer, AConnectionServesAHundredRequestsOrUntilTheClientAsksToClose) {
  RawConnection connection(endpoint_->port());
  for (int i = 1; i <= 99; ++i) {
    connection.send(giftRequest("Nobody"));
    const std::string reply = connection.readReplies(1);
    ASSERT_NE(reply.find("Gift not configured"), std::string::npos) << "request " << i << ": " << reply;
    ASSERT_EQ(reply.find("Connection: close"), std::string::npos) << "request " << i;
  }
  connection.send(giftRequest("Nobody"));
  EXPECT_NE(connection.readReplies(1).find("Connection: close"), std::string::npos);
  EXPECT_TRUE(connection.closedByPeer());
  RawConnection closing(endpoint_->port());
  closing.send(giftRequest("Nobody", true));
  EXPECT_NE(closing.readReplies(1).find("Gift not configured"), std::string::npos);
  EXPECT_TRUE(closing.closedByPeer());
}

TEST_F(GiftServer, StoppingDoesNotWaitForIdleConnections) {
  RawConnection idle(endpoint_->port());
  RawConnection used(endpoint_->port());
  used.send(giftRequest("Nobody"));
  ASSERT_NE(used.readReplies(1).find("Gift not configured"), std::string::npos);

  // Both connections now wait for a request that does not come, each for up
  // to 5 s; the stop ends them at once.
  const auto started = std::chrono::steady_clock::now();
  endpoint_.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - started, 2s);
  EXPECT_TRUE(idle.closedByPeer());
  EXPECT_TRUE(used.closedByPeer());
}

TEST(GiftServerAddresses, TheIpv6LoopbackIsServedOnTheSamePort) {
  auto server = std::make_unique<endpoint::GiftServer>();
  endpoint::registerRoutes(*server, std::make_shared<const config::GiftTable>());
  testing_support::RunningEndpoint running(std::move(server), true);
  httplib::Client client("::1", running.port());
  const auto result = client.Post("/webhook?giftName=Nobody");
  ASSERT_TRUE(result) << httplib::to_string(result.error());
  EXPECT_EQ(result->body, R"({"message": "Gift not configured"})");
}

// The accept loop over an accept that fails as the test says.
class FailingAccept : public ::testing::Test {
 protected:
  using Outcome = platform::Accepted::Outcome;
  std::unique_ptr<testing_support::RunningEndpoint> start(std::vector<Outcome> failures) {
    auto server = std::make_unique<endpoint::GiftServer>(
        [this, failures](platform::Socket s, std::chrono::milliseconds r, std::chrono::milliseconds w) {
          const std::size_t n = calls_++;
          if (n < failures.size()) return platform::Accepted{failures[n], platform::noSocket, "raison du systeme"};
          return platform::acceptConnection(s, r, w);
        });
    endpoint::registerRoutes(
        *server, std::make_shared<const config::GiftTable>(config::GiftTable{{"Rose", {"key", "g", "", 100}}}));
    return std::make_unique<testing_support::RunningEndpoint>(std::move(server));
  }
  std::atomic<std::size_t> calls_{0};
  testing_support::ConsoleCapture console_;
};

TEST_F(FailingAccept, PassingFailuresAreTriedAgain) {
  auto endpoint = start({Outcome::Nothing, Outcome::Exhausted, Outcome::Exhausted, Outcome::Nothing});
  httplib::Client client("127.0.0.1", endpoint->port());
  const auto result = client.Post("/webhook?giftName=Rose");
  ASSERT_TRUE(result);
  EXPECT_EQ(result->body, R"({"message": "Key pressed successfully"})");
  EXPECT_EQ(calls_.load(), 5u);
}

TEST_F(FailingAccept, AListenerThatCannotGoOnEndsServingWithTheReason) {
  auto endpoint = start({Outcome::Fatal});
  RawConnection connection(endpoint->port());
  EXPECT_EQ(endpoint->failure(), "raison du systeme");
}

}  // namespace
