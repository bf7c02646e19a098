// Many gifts at once through the real server: nothing lost, every key
// pressed, every sound played, and the server's extra threads gone again
// afterwards. Run under ThreadSanitizer as well.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <thread>

#include "recording_platform.hpp"
#include "support.hpp"
#include "test_servers.hpp"

namespace {

using namespace std::chrono_literals;

std::size_t threadCount() {
  const std::filesystem::directory_iterator tasks("/proc/self/task");
  return static_cast<std::size_t>(std::distance(begin(tasks), end(tasks)));
}

TEST(Storm, TwoHundredMixedGiftsAtOnceThenTheExtraThreadsGo) {
  recording::reset();
  testing_support::ConsoleCapture console;
  testing_support::RemoteService service;
  const auto dir = testing_support::scratchDir("storm");
  const std::string sound = (dir / "tone.mp3").string();
  std::ofstream(sound) << "ID3";
  auto endpoint = testing_support::startWebhookEndpoint({{"Key", {"key", "g", "", 100}},
                                                         {"Song", {"key", "n", sound, 80}},
                                                         {"Hook", {"webhook", service.url("/ok"), sound, 100}}});
  // The server's base workers start with its first connection.
  httplib::Client("127.0.0.1", endpoint->port()).Post("/webhook?giftName=Nobody");
  const std::size_t threadsBefore = threadCount();

  const char* names[] = {"Key", "Song", "Hook"};
  std::vector<std::string> replies(200);
  std::vector<std::thread> senders;
  for (std::size_t i = 0; i < replies.size(); ++i) {
    senders.emplace_back([&, i] {
      httplib::Client client("127.0.0.1", endpoint->port());
      client.set_read_timeout(30, 0);
      const auto result = client.Post(std::string("/webhook?giftName=") + names[i % 3]);
      replies[i] = result ? result->body : "no reply: " + httplib::to_string(result.error());
    });
  }
  for (auto& sender : senders) sender.join();

  for (std::size_t i = 0; i < replies.size(); ++i) {
    EXPECT_EQ(replies[i], i % 3 == 2 ? R"({"message":"Webhook executed successfully","response":"win added"})"
                                     : R"({"message": "Key pressed successfully"})")
        << i;
  }
  EXPECT_EQ(recording::sounds().size(), 133u);
  EXPECT_EQ(recording::presses().size(), 134u);
  EXPECT_EQ(console.count("Cadeau recu: "), 201u);
  // The workers the storm added end once idle.
  for (int i = 0; i < 150 && threadCount() > threadsBefore; ++i) std::this_thread::sleep_for(100ms);
  EXPECT_LE(threadCount(), threadsBefore);
  std::filesystem::remove_all(dir);
}

}  // namespace
