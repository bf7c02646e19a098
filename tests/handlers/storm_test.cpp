// Many gifts at once through the real endpoint: nothing lost, every key
// pressed, every sound played, and the server's extra threads gone again
// afterwards. Run under ThreadSanitizer as well.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include "console_capture.hpp"
#include "recording_platform.hpp"
#include "scratch.hpp"
#include "test_servers.hpp"

namespace {

using namespace std::chrono_literals;
using testing_support::ConsoleCapture;

std::size_t threadCount() {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) ++count;
  return count;
}

// Polls until the process has no more threads than `limit`.
bool threadsFallTo(std::size_t limit, std::chrono::seconds within) {
  const auto end = recording::Clock::now() + within;
  while (recording::Clock::now() < end) {
    if (threadCount() <= limit) return true;
    std::this_thread::sleep_for(100ms);
  }
  return threadCount() <= limit;
}

class Storm : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    testing_support::testCertificates();
    service_ = new testing_support::RemoteService(true);
  }
  static void TearDownTestSuite() {
    delete service_;
    service_ = nullptr;
  }
  void SetUp() override {
    recording::reset();
    dir_ = testing_support::scratchDir("storm");
    sound_ = (dir_ / "tone.mp3").string();
    std::ofstream(sound_) << "ID3";
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  // Posts the gifts, `at once` each from a thread of its own, and answers
  // each reply body (or why there was none) in the order of the names.
  std::vector<std::string> sendAll(int port, const std::vector<std::string>& names) {
    std::vector<std::string> replies(names.size());
    std::vector<std::thread> senders;
    for (std::size_t i = 0; i < names.size(); ++i) {
      senders.emplace_back([&, i] {
        httplib::Client client("127.0.0.1", port);
        client.set_read_timeout(30, 0);
        auto result = client.Post("/webhook?giftName=" + names[i]);
        replies[i] = !result                 ? "no reply: " + httplib::to_string(result.error())
                     : result->status != 200 ? "status " + std::to_string(result->status)
                                             : result->body;
      });
    }
    for (auto& sender : senders) sender.join();
    return replies;
  }

  std::filesystem::path dir_;
  std::string sound_;
  ConsoleCapture console_;
  static testing_support::RemoteService* service_;
};
testing_support::RemoteService* Storm::service_ = nullptr;

TEST_F(Storm, TwoHundredMixedGiftsAtOnce) {
  config::GiftTable gifts;
  gifts["Key"] = {"key", "g", "", 100};
  gifts["Song"] = {"key", "n", sound_, 80};
  gifts["Hook"] = {"webhook", service_->url("/ok"), sound_, 100};
  auto endpoint = testing_support::startWebhookEndpoint(std::move(gifts));

  std::vector<std::string> names;
  for (int i = 0; i < 200; ++i) names.push_back(i % 3 == 0 ? "Key" : i % 3 == 1 ? "Song" : "Hook");
  const auto replies = sendAll(endpoint->port(), names);

  const std::string keyReply = R"({"message": "Key pressed successfully"})";
  const std::string hookReply = R"({"message":"Webhook executed successfully","response":"win added"})";
  for (std::size_t i = 0; i < names.size(); ++i) {
    EXPECT_EQ(replies[i], names[i] == "Hook" ? hookReply : keyReply) << names[i] << " #" << i;
  }

  // Every sound played, every key pressed.
  const auto count = [&names](const char* name) { return std::count(names.begin(), names.end(), name); };
  EXPECT_EQ(static_cast<long>(recording::sounds().size()), count("Song") + count("Hook"));
  EXPECT_EQ(static_cast<long>(recording::presses().size()), count("Key") + count("Song"));
  EXPECT_EQ(console_.count("Cadeau recu: "), names.size());
}

TEST_F(Storm, ThreeHundredSoundsInThreeSecondsAreAllPlayedAndTheThreadsGo) {
  config::GiftTable gifts;
  gifts["Song"] = {"sound", "x", sound_, 100};
  auto endpoint = testing_support::startWebhookEndpoint(std::move(gifts));
  std::this_thread::sleep_for(200ms);
  const std::size_t threadsBefore = threadCount();

  // Ten senders, thirty gifts each, one every 100 ms.
  std::atomic<int> answered{0};
  std::vector<std::thread> senders;
  for (int s = 0; s < 10; ++s) {
    senders.emplace_back([&] {
      httplib::Client client("127.0.0.1", endpoint->port());
      for (int i = 0; i < 30; ++i) {
        auto result = client.Post("/webhook?giftName=Song");
        if (result && result->body == R"({"error": "Unknown action type"})") ++answered;
        std::this_thread::sleep_for(100ms);
      }
    });
  }
  for (auto& sender : senders) sender.join();
  EXPECT_EQ(answered.load(), 300);

  EXPECT_EQ(recording::sounds().size(), 300u);
  EXPECT_EQ(console_.count("Lecture audio: "), 300u);
  // The workers the storm added end once idle.
  EXPECT_TRUE(threadsFallTo(threadsBefore, 15s)) << threadCount() << " threads, " << threadsBefore << " before";
}

}  // namespace
