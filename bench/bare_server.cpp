// The ceiling the receiver is measured against: the same HTTP library, built
// with the same flags, on the same address, doing nothing but reply.
#include <httplib.h>

#include <cstdlib>
#include <iostream>

int main(int argc, char** argv) {
  const int port = argc > 1 ? std::atoi(argv[1]) : 5000;
  httplib::Server server;
  server.Post("/webhook", [](const httplib::Request&, httplib::Response& res) {
    res.set_content(R"({"message": "Gift not configured"})", "application/json");
  });
  server.Options("/webhook", [](const httplib::Request&, httplib::Response& res) {
    res.set_header("Access-Control-Allow-Origin", "*");
    res.set_header("Access-Control-Allow-Methods", "POST, OPTIONS");
    res.set_header("Access-Control-Allow-Headers", "Content-Type");
  });
  if (!server.listen("0.0.0.0", port)) {
    std::cerr << "cannot listen on port " << port << "\n";
    return 1;
  }
  return 0;
}
