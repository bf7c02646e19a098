// The HTTP plumbing: its workers, and what a peer may hold of it.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <future>

#include "endpoint/http_server.hpp"
#include "endpoint/worker_pool.hpp"
#include "support.hpp"

namespace {

using namespace std::chrono_literals;

TEST(WorkerPool, AConnectionForWhichNoThreadStartsIsClosedWithALineAndAShutdownWakesTheRest) {
  testing_support::ConsoleCapture console;
  endpoint::WorkerPool pool(0, 4, {}, 1s, [](std::function<void()>) -> std::thread {
    throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
  });
  EXPECT_FALSE(pool.enqueue([] {}));
  EXPECT_EQ(console.count("Connexion fermee : le systeme ne peut pas demarrer de tache de plus ("), 1u);
  std::promise<void> woken;
  std::atomic<bool> served{false};
  {
    endpoint::WorkerPool serving(1, 1, [&woken] { woken.set_value(); });
    serving.enqueue([&, w = woken.get_future().share()] { served = w.wait_for(9s) == std::future_status::ready; });
  }
  EXPECT_TRUE(served);
}

TEST(HttpServer, HeadersThatTrickleAreCutAtTheRequestsDeadlineAndTheConnectionEnds) {
  endpoint::ConnectionLimits limits;
  limits.requestDeadline = 1s;
  endpoint::HttpServer server(limits);
  ASSERT_TRUE(server.open("127.0.0.1", 0, false));
  std::thread serving([&server] { (void)server.serve(); });
  const int peer = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{AF_INET, htons(static_cast<std::uint16_t>(server.port())), {htonl(INADDR_LOOPBACK)}, {}};
  ASSERT_EQ(::connect(peer, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  const std::string start = "GET / HTTP/1.1\r\nHost: localhost\r\nX-Slow: ";
  bool ended = ::send(peer, start.data(), start.size(), MSG_NOSIGNAL) < 0;
  // A header byte every 20 ms, for as long as the server reads them.
  const auto began = std::chrono::steady_clock::now();
  for (char answer[512]; !ended && std::chrono::steady_clock::now() - began < 5s;) {
    pollfd readable{peer, POLLIN, 0};
    ended = ::send(peer, "a", 1, MSG_NOSIGNAL) != 1 ||
            (::poll(&readable, 1, 20) == 1 && ::recv(peer, answer, sizeof answer, 0) <= 0);
  }
  // Not one more deadline for the bytes that come after it.
  EXPECT_LT(std::chrono::steady_clock::now() - began, 1800ms);
  ::close(peer);
  server.stop();
  serving.join();
}

}  // namespace
