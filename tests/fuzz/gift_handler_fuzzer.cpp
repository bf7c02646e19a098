// POST /webhook as the server runs it: the library reads a request built
// from the input (its Content-Type, query and body, or raw bytes after the
// request line's start) and hands it to the gift handler.
#include <fuzzer/FuzzedDataProvider.h>
#include <httplib.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "actions/key_press.hpp"
#include "endpoint/webhook_endpoint.hpp"
#include "fuzz_check.hpp"
#include "recording_platform.hpp"

namespace {

using nlohmann::json;

// The request's bytes in, the reply's bytes out.
class FuzzedStream final : public httplib::Stream {
 public:
  explicit FuzzedStream(std::string request) : request_(std::move(request)) {}

  bool is_readable() const override { return offset_ < request_.size(); }
  bool wait_readable() const override { return true; }
  bool wait_writable() const override { return true; }
  ssize_t read(char* ptr, std::size_t size) override {
    const std::size_t n = std::min(size, request_.size() - offset_);
    std::copy_n(request_.data() + offset_, n, ptr);
    offset_ += n;
    return static_cast<ssize_t>(n);
  }
  ssize_t write(const char* ptr, std::size_t size) override {
    reply_.append(ptr, size);
    return static_cast<ssize_t>(size);
  }
  void get_remote_ip_and_port(std::string& ip, int& port) const override {
    ip = "127.0.0.1";
    port = 40000;
  }
  void get_local_ip_and_port(std::string& ip, int& port) const override {
    ip = "127.0.0.1";
    port = 5000;
  }
  socket_t socket() const override { return INVALID_SOCKET; }
  time_t duration() const override { return 0; }

  const std::string& reply() const { return reply_; }

 private:
  std::string request_;
  std::size_t offset_ = 0;
  std::string reply_;
};

// The handler's reply and whether it ran at all.
struct Handled {
  bool ran = false;
  std::string body;
};

class FuzzServer : public httplib::Server {
 public:
  explicit FuzzServer(const config::GiftTable& gifts) : gifts_(gifts) {
    set_payload_max_length(endpoint::maxRequestBodyBytes);
    Post("/webhook", [this](const httplib::Request& req, httplib::Response& res) {
      handled_.ran = true;
      bool threw = false;
      try {
        endpoint::serveGift(req, res, gifts_, cooldowns_, "");
      } catch (...) {
        threw = true;
      }
      FUZZ_CHECK(!threw);
      handled_.body = res.body;
      FUZZ_CHECK(res.get_header_value("Content-Type") == "application/json");
    });
  }

  Handled serve(FuzzedStream& stream) {
    handled_ = {};
    bool closed = false;
    process_request(stream, "127.0.0.1", 40000, "127.0.0.1", 5000, true, closed, nullptr);
    return handled_;
  }

 private:
  const config::GiftTable& gifts_;
  endpoint::Cooldowns cooldowns_;
  Handled handled_;
};

config::GiftTable fuzzGifts() {
  const auto dir = std::filesystem::temp_directory_path() / "koravel-fuzz";
  std::filesystem::create_directories(dir);
  const std::string sound = (dir / "rose.mp3").string();
  std::ofstream(sound) << "ID3";
  config::GiftTable gifts;
  gifts["Rose"] = {"key", "g", sound, 100};
  gifts["Bad key"] = {"key", "ab", "", 100};
  gifts["Odd"] = {"sound", "x", sound, 50};
  // An address with no path: the call fails before any connection.
  gifts["Hook"] = {"webhook", "https://koravel.invalid", "", 100};
  return gifts;
}

const char* const contentTypes[] = {
    "",
    "application/json",
    "application/json; charset=utf-8",
    "APPLICATION/JSON",
    "application/x-www-form-urlencoded",
    "text/plain",
    "multipart/form-data; boundary=xyz",
};

std::string buildRequest(FuzzedDataProvider& input) {
  if (input.ConsumeBool()) {
    // Whatever follows the method and path, headers included.
    return "POST /webhook" + input.ConsumeRemainingBytesAsString();
  }
  const auto choice = input.ConsumeIntegralInRange<std::size_t>(0, std::size(contentTypes));
  const std::string type =
      choice < std::size(contentTypes) ? contentTypes[choice] : input.ConsumeRandomLengthString(64);
  const std::string query = input.ConsumeRandomLengthString(256);
  const std::string body = input.ConsumeRemainingBytesAsString();
  std::string request = "POST /webhook" + (query.empty() ? "" : "?" + query) + " HTTP/1.1\r\nHost: localhost\r\n";
  if (!type.empty()) request += "Content-Type: " + type + "\r\n";
  request += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
  return request;
}

void checkReply(const Handled& handled, const std::string& wire) {
  FUZZ_CHECK(wire.rfind("HTTP/1.1 200 OK\r\n", 0) == 0);
  const json reply = json::parse(handled.body);  // throws, and so aborts, when it is not JSON
  FUZZ_CHECK(reply.is_object());
  FUZZ_CHECK(reply.contains("message") != reply.contains("error"));
  for (const auto& [key, value] : reply.items()) {
    FUZZ_CHECK(key == "message" || key == "error" || key == "response");
    FUZZ_CHECK(value.is_string());
  }
  FUZZ_CHECK(reply.contains("response") == (reply.value("message", "") == "Webhook executed successfully"));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const config::GiftTable gifts = fuzzGifts();
  static FuzzServer server(gifts);
  static std::ostringstream console;
  static std::streambuf* const realConsole = std::cout.rdbuf(console.rdbuf());
  (void)realConsole;

  FuzzedDataProvider input(data, size);
  FuzzedStream stream(buildRequest(input));
  console.str("");
  recording::reset();
  recording::skipSleeps();
  actions::setKeyPacing(std::chrono::milliseconds(0), actions::keyQueueLimit);

  const Handled handled = server.serve(stream);
  if (!handled.ran) return 0;
  checkReply(handled, stream.reply());

  // Only a configured gift acts: a key stroke or a sound.
  const bool acted = !recording::presses().empty() || !recording::sounds().empty();
  if (acted) {
    const std::string text = console.str();
    const std::string received = "Cadeau recu: ";
    const auto start = text.find(received);
    FUZZ_CHECK(start != std::string::npos);
    const auto end = text.find('\n', start);
    const std::string name = text.substr(start + received.size(), end - start - received.size());
    FUZZ_CHECK(gifts.count(name) == 1);
    FUZZ_CHECK(handled.body != R"({"message": "Gift not configured"})");
  }
  return 0;
}
