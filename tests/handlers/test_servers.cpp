#include "test_servers.hpp"

#include <cstdlib>
#include <stdexcept>

#include "endpoint/webhook_endpoint.hpp"
#include "support.hpp"

namespace testing_support {
namespace {

// Made once per process; the program's client trusts what SSL_CERT_FILE names.
std::string certificate(const char* name) {
  static const std::filesystem::path dir = [] {
    auto made = scratchDir("tls");
    if (std::system((std::string(KORAVEL_MAKE_CERTIFICATES) + " " + made.string()).c_str()) != 0) {
      throw std::runtime_error("cannot make the test certificates");
    }
    ::setenv("SSL_CERT_FILE", (made / "ca.pem").c_str(), 1);
    return made;
  }();
  return (dir / name).string();
}

}  // namespace

RunningEndpoint::RunningEndpoint(std::unique_ptr<endpoint::GiftServer> server, bool ipv6Loopback)
    : server_(std::move(server)) {
  if (const std::string failure = server_->open("127.0.0.1", 0, ipv6Loopback); !failure.empty()) {
    throw std::runtime_error("test endpoint cannot listen: " + failure);
  }
  // Connections wait in the backlog until serve() takes them.
  thread_ = std::thread([this] { failure_ = server_->serve(); });
}

RunningEndpoint::~RunningEndpoint() {
  server_->stop();
  if (thread_.joinable()) thread_.join();
}

std::string RunningEndpoint::failure() {
  if (thread_.joinable()) thread_.join();
  return failure_;
}

std::unique_ptr<RunningEndpoint> startWebhookEndpoint(config::GiftTable gifts, std::string secret) {
  auto server = std::make_unique<endpoint::GiftServer>();
  endpoint::registerRoutes(*server, std::make_shared<const config::GiftTable>(std::move(gifts)), std::move(secret));
  return std::make_unique<RunningEndpoint>(std::move(server));
}

RemoteService::RemoteService(bool trusted)
    : server_(certificate(trusted ? "server.pem" : "stranger.pem").c_str(),
              certificate(trusted ? "server.key" : "stranger.key").c_str()) {
  const auto text = [](const std::string& body) {
    return [body](const httplib::Request&, httplib::Response& res) { res.set_content(body, "text/plain"); };
  };
  server_.Get("/ok", text("win added"));
  server_.Get("/quote", text("say \"hi\"\nbye"));
  server_.Get("/latin1", text("caf\xE9"));
  server_.Get("/big", text(std::string(2 * 1024 * 1024, 'x')));
  server_.Get("/echo", [](const httplib::Request& req, httplib::Response& res) { res.set_content(req.target, "a/b"); });
  server_.Get("/created", [](const httplib::Request&, httplib::Response& res) { res.status = 204; });
  server_.Get("/loop", [](const httplib::Request&, httplib::Response& res) { res.set_redirect("loop"); });
  // Redirects to the address after "to=".
  server_.Get("/redirect",
              [](const httplib::Request& req, httplib::Response& res) { res.set_redirect(req.get_param_value("to")); });
  port_ = server_.bind_to_any_port("127.0.0.1");
  thread_ = std::thread([this] { server_.listen_after_bind(); });
  server_.wait_until_ready();
}

RemoteService::~RemoteService() {
  server_.stop();
  thread_.join();
}

std::string RemoteService::url(const std::string& pathAndQuery) const {
  return "https://localhost:" + std::to_string(port_) + pathAndQuery;
}

}  // namespace testing_support
