#pragma once

// Servers for the in-process tests: the program's own routes on a loopback
// port, and a TLS server standing in for the services that gifts call.

#include <httplib.h>

#include <memory>
#include <string>
#include <thread>

#include "config/gift_action.hpp"
#include "endpoint/gift_server.hpp"

namespace testing_support {

// The program's server on the loopback, at a port of the system's choosing,
// until destroyed.
class RunningEndpoint {
 public:
  explicit RunningEndpoint(std::unique_ptr<endpoint::GiftServer> server, bool ipv6Loopback = false);
  ~RunningEndpoint();
  int port() const { return server_->port(); }
  // What serve() answered; waits until it has returned.
  std::string failure();

 private:
  std::unique_ptr<endpoint::GiftServer> server_;
  std::thread thread_;
  std::string failure_;
};

// The program's routes, serving the given gifts.
std::unique_ptr<RunningEndpoint> startWebhookEndpoint(config::GiftTable gifts, std::string secret = {});

// A web service over TLS with a certificate the test CA signed (which the
// program is told to trust) or one nobody vouches for. Its routes answer as
// their names say.
class RemoteService {
 public:
  explicit RemoteService(bool trusted = true);
  ~RemoteService();
  std::string url(const std::string& pathAndQuery) const;

 private:
  httplib::SSLServer server_;
  std::thread thread_;
  int port_;
};

}  // namespace testing_support
