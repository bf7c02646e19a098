#pragma once

// Servers for the in-process tests: the program's own /webhook routes on a
// loopback port, and a TLS server standing in for the services that webhook
// gifts call, with certificates made for the run.

#include <httplib.h>

#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "config/gift_action.hpp"
#include "endpoint/gift_server.hpp"

namespace testing_support {

// Runs a server on a port of the system's choosing until destroyed.
class RunningServer {
 public:
  explicit RunningServer(std::unique_ptr<httplib::Server> server);
  ~RunningServer();
  RunningServer(const RunningServer&) = delete;
  RunningServer& operator=(const RunningServer&) = delete;

  int port() const { return port_; }
  httplib::Server& server() { return *server_; }

 private:
  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;
  int port_ = 0;
};

// The program's own server, on the loopback at a port of the system's
// choosing, until destroyed.
class RunningEndpoint {
 public:
  explicit RunningEndpoint(std::unique_ptr<endpoint::GiftServer> server, bool ipv6Loopback = false);
  ~RunningEndpoint();
  RunningEndpoint(const RunningEndpoint&) = delete;
  RunningEndpoint& operator=(const RunningEndpoint&) = delete;

  int port() const;
  // What serve() answered; waits until it has returned.
  std::string failure();

 private:
  std::unique_ptr<endpoint::GiftServer> server_;
  std::thread thread_;
  std::string failure_;
};

// The program's routes, serving the given gifts.
std::unique_ptr<RunningEndpoint> startWebhookEndpoint(config::GiftTable gifts);

// A test CA, a certificate it signed for localhost and 127.0.0.1, and a
// self-signed one it did not. OpenSSL is told to trust the CA.
struct TestCertificates {
  std::filesystem::path dir;
  std::string caFile, trustedCert, trustedKey, strangerCert, strangerKey;
};
const TestCertificates& testCertificates();

// The remote service: routes of its own, plus /silent, which accepts the
// request and answers nothing until the server is torn down.
class RemoteService {
 public:
  explicit RemoteService(bool trusted = true);
  ~RemoteService();
  int port() const { return running_->port(); }
  std::string url(const std::string& pathAndQuery) const;
  std::string lastRequestTarget();

 private:
  std::mutex mutex_;
  std::condition_variable released_;
  bool releasing_ = false;
  std::string lastTarget_;
  std::unique_ptr<RunningServer> running_;
};

}  // namespace testing_support
