// The HTTP plumbing on real loopback sockets: what machines on the network may
// hold of the server.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include "endpoint/http_server.hpp"
#include "endpoint/worker_pool.hpp"
#include "support.hpp"

namespace {

using namespace std::chrono_literals;

// A connection from 127.0.0.2, another machine as far as the server knows,
// that has sent the start of a request.
int connectFromElsewhere(int port) {
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{AF_INET, 0, {htonl(0x7F000002)}, {}};
  EXPECT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  EXPECT_EQ(::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
  EXPECT_GT(::send(s, "POST /webhook HTTP/1.1\r\n", 24, MSG_NOSIGNAL), 0);
  const timeval wait{0, 1000};
  ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof(wait));
  return s;
}

// True once the server has closed the connection.
bool closedByServer(int s) {
  char byte;
  return ::recv(s, &byte, 1, 0) >= 0;  // 0 at the end, or a byte of a reply
}

TEST(HttpServer, TricklingPeersElsewhereAreBoundedAndTheRelayIsServed) {
  endpoint::HttpServer server({300ms, 4, 8});
  server.Post("/webhook", [](const httplib::Request&, httplib::Response& res) { res.set_content("ok", "text/plain"); });
  ASSERT_TRUE(server.open("0.0.0.0", 0, false));
  std::thread serving([&server] { (void)server.serve(); });
  std::vector<int> elsewhere;
  for (int i = 0; i < 10; ++i) elsewhere.push_back(connectFromElsewhere(server.port()));
  // The relay, on this machine, is never refused: more connections than any other peer may hold.
  std::vector<std::unique_ptr<httplib::Client>> relay;
  for (int i = 0; i < 6; ++i) {
    relay.push_back(std::make_unique<httplib::Client>("127.0.0.1", server.port()));
    const auto reply = relay.back()->Post("/webhook");
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->body, "ok");
  }
  // A byte every 50 ms keeps each read short of its time-out; the request's deadline still ends it.
  std::size_t open = elsewhere.size();
  for (int round = 0; round < 60 && open > 0; ++round) {
    open = 0;
    for (const int s : elsewhere) open += !closedByServer(s) && ::send(s, "X", 1, MSG_NOSIGNAL) == 1;
    if (round == 0) {
      EXPECT_EQ(open, 4u);  // the others were closed at once
    }
    std::this_thread::sleep_for(50ms);
  }
  EXPECT_EQ(open, 0u);
  for (const int s : elsewhere) ::close(s);
  server.stop();
  serving.join();
}

TEST(HttpServer, AConnectionForWhichNoThreadStartsIsClosedWithALine) {
  testing_support::ConsoleCapture console;
  endpoint::WorkerPool pool(0, 4, {}, 1s, [](std::function<void()>) -> std::thread {
    throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
  });
  EXPECT_FALSE(pool.enqueue([] {}));
  EXPECT_EQ(console.count("Connexion fermee : le systeme ne peut pas demarrer de tache de plus ("), 1u);
}

}  // namespace
