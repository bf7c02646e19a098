// The HTTP plumbing: its workers, and its connections.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <future>
#include <thread>

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

TEST(HttpServer, EachRequestOfAKeptConnectionHasADeadlineOfItsOwn) {
  // The port is asked of the system, then given to the server.
  const auto probe = platform::listenOn("127.0.0.1", 0);
  ASSERT_TRUE(probe);
  const int port = platform::portOf(*probe);
  platform::closeSocket(*probe);
  // Serves until the test process ends.
  static auto* const server = new endpoint::HttpServer({.requestDeadline = 300ms});
  server->Get("/", [](const httplib::Request&, httplib::Response& res) { res.set_content("ok", "text/plain"); });
  ASSERT_TRUE(server->open("127.0.0.1", port, false));
  std::thread([] { (void)server->serve(); }).detach();
  // One connection, as a relay keeps it (the library's client would open
  // another when the server closed this one).
  const int relay = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in to{
      .sin_family = AF_INET, .sin_port = htons(static_cast<std::uint16_t>(port)), .sin_addr = {}, .sin_zero = {}};
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::connect(relay, reinterpret_cast<const sockaddr*>(&to), sizeof to), 0);
  const std::string request = "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
  for (int i = 0; i < 2; ++i) {
    if (i > 0) std::this_thread::sleep_for(400ms);  // idle for longer than a request's deadline
    ASSERT_EQ(::send(relay, request.data(), request.size(), MSG_NOSIGNAL), static_cast<ssize_t>(request.size()));
    std::string reply;
    char bytes[512];
    for (ssize_t n; !reply.ends_with("ok") && (n = ::recv(relay, bytes, sizeof bytes, 0)) > 0;) reply.append(bytes, n);
    EXPECT_TRUE(reply.starts_with("HTTP/1.1 200")) << i << ": " << reply;
  }
  ::close(relay);
}

TEST(HttpServer, AConnectionOverTheIpv6LoopbackIsSeenFromIt) {
  const auto probe = platform::listenOn("127.0.0.1", 0);
  ASSERT_TRUE(probe);
  const int port = platform::portOf(*probe);
  platform::closeSocket(*probe);
  static auto* const server = new endpoint::HttpServer();
  server->Get(
      "/", [](const httplib::Request& req, httplib::Response& res) { res.set_content(req.remote_addr, "text/plain"); });
  ASSERT_TRUE(server->open("127.0.0.1", port, true));
  std::thread([] { (void)server->serve(); }).detach();
  for (const char* host : {"127.0.0.1", "::1"}) {
    httplib::Client relay(host, port);
    const auto res = relay.Get("/");
    if (!res && std::string_view(host) == "::1") GTEST_SKIP() << "no IPv6 here";
    ASSERT_TRUE(res) << host;
    EXPECT_EQ(res->body, host);
  }
}

}  // namespace
