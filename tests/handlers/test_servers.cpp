#include "test_servers.hpp"

#include <cstdlib>
#include <stdexcept>

#include "endpoint/gift_server.hpp"
#include "endpoint/webhook_endpoint.hpp"
#include "scratch.hpp"

namespace testing_support {

RunningServer::RunningServer(std::unique_ptr<httplib::Server> server) : server_(std::move(server)) {
  port_ = server_->bind_to_any_port("127.0.0.1");
  if (port_ <= 0) throw std::runtime_error("test server cannot bind");
  thread_ = std::thread([this] { server_->listen_after_bind(); });
  server_->wait_until_ready();
}

RunningServer::~RunningServer() {
  server_->stop();
  thread_.join();
}

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

int RunningEndpoint::port() const { return server_->port(); }

std::string RunningEndpoint::failure() {
  if (thread_.joinable()) thread_.join();
  return failure_;
}

std::unique_ptr<RunningEndpoint> startWebhookEndpoint(config::GiftTable gifts) {
  auto server = std::make_unique<endpoint::GiftServer>();
  endpoint::registerRoutes(*server, std::make_shared<const config::GiftTable>(std::move(gifts)));
  return std::make_unique<RunningEndpoint>(std::move(server));
}

namespace {
void run(const std::string& command) {
  if (std::system((command + " >/dev/null 2>&1").c_str()) != 0) {
    throw std::runtime_error("failed: " + command);
  }
}
}  // namespace

const TestCertificates& testCertificates() {
  static const TestCertificates certificates = [] {
    TestCertificates c;
    c.dir = scratchDir("tls");
    const std::string d = c.dir.string();
    c.caFile = d + "/ca.pem";
    c.trustedCert = d + "/server.pem";
    c.trustedKey = d + "/server.key";
    c.strangerCert = d + "/stranger.pem";
    c.strangerKey = d + "/stranger.key";
    run("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=Koravel-Test-CA -keyout " + d + "/ca.key -out " +
        c.caFile);
    run("openssl req -newkey rsa:2048 -nodes -subj /CN=localhost -keyout " + c.trustedKey + " -out " + d +
        "/server.csr");
    {
      std::FILE* ext = std::fopen((d + "/ext.cnf").c_str(), "w");
      std::fputs("subjectAltName=DNS:localhost,IP:127.0.0.1\n", ext);
      std::fclose(ext);
    }
    run("openssl x509 -req -in " + d + "/server.csr -CA " + c.caFile + " -CAkey " + d +
        "/ca.key -CAcreateserial -days 2 -extfile " + d + "/ext.cnf -out " + c.trustedCert);
    run("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=localhost -addext "
        "subjectAltName=DNS:localhost -keyout " +
        c.strangerKey + " -out " + c.strangerCert);
    // The client's default verify paths honour this variable.
    ::setenv("SSL_CERT_FILE", c.caFile.c_str(), 1);
    return c;
  }();
  static const struct Cleanup {
    ~Cleanup() {
      std::error_code ignored;
      std::filesystem::remove_all(certificates.dir, ignored);
    }
  } cleanup;
  return certificates;
}

RemoteService::RemoteService(bool trusted) {
  const auto& certs = testCertificates();
  auto server = trusted ? std::make_unique<httplib::SSLServer>(certs.trustedCert.c_str(), certs.trustedKey.c_str())
                        : std::make_unique<httplib::SSLServer>(certs.strangerCert.c_str(), certs.strangerKey.c_str());
  server->set_logger([this](const httplib::Request& req, const httplib::Response&) {
    std::lock_guard<std::mutex> lock(mutex_);
    lastTarget_ = req.target;
  });
  server->Get("/ok",
              [](const httplib::Request&, httplib::Response& res) { res.set_content("win added", "text/plain"); });
  server->Get("/echo",
              [](const httplib::Request& req, httplib::Response& res) { res.set_content(req.target, "text/plain"); });
  server->Get("/quote", [](const httplib::Request&, httplib::Response& res) {
    res.set_content("say \"hi\"\nbye", "text/plain");
  });
  server->Get("/latin1",
              [](const httplib::Request&, httplib::Response& res) { res.set_content("caf\xE9", "text/plain"); });
  server->Get("/empty", [](const httplib::Request&, httplib::Response& res) { res.status = 200; });
  server->Get("/created", [](const httplib::Request&, httplib::Response& res) { res.status = 204; });
  server->Get("/missing", [](const httplib::Request&, httplib::Response& res) { res.status = 404; });
  server->Get("/moved", [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/ok"); });
  server->Get("/loop", [](const httplib::Request&, httplib::Response& res) { res.set_redirect("loop"); });
  // Redirects elsewhere: the address is in the query, after "to=".
  server->Get("/redirect",
              [](const httplib::Request& req, httplib::Response& res) { res.set_redirect(req.get_param_value("to")); });
  server->Get("/trickle", [](const httplib::Request&, httplib::Response& res) {
    res.set_chunked_content_provider("text/plain", [](size_t, httplib::DataSink& sink) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      return sink.write("x", 1);
    });
  });
  server->Get("/big", [](const httplib::Request&, httplib::Response& res) {
    res.set_content(std::string(2 * 1024 * 1024, 'x'), "text/plain");
  });
  server->Get("/silent", [this](const httplib::Request&, httplib::Response& res) {
    std::unique_lock<std::mutex> lock(mutex_);
    released_.wait_for(lock, std::chrono::seconds(30), [this] { return releasing_; });
    res.set_content("too late", "text/plain");
  });
  running_ = std::make_unique<RunningServer>(std::move(server));
}

RemoteService::~RemoteService() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    releasing_ = true;
  }
  released_.notify_all();
  running_.reset();
}

std::string RemoteService::url(const std::string& pathAndQuery) const {
  return "https://localhost:" + std::to_string(port()) + pathAndQuery;
}

std::string RemoteService::lastRequestTarget() {
  std::lock_guard<std::mutex> lock(mutex_);
  return lastTarget_;
}

}  // namespace testing_support
