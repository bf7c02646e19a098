#include "platform/windows/mci_player.hpp"

#include <thread>

namespace platform::mci {

Player::~Player() {
  std::unique_lock<std::mutex> lock(mutex_);
  idle_.wait(lock, [this] { return !running_; });
}

void Player::play(const std::string& path, std::int32_t volume, std::chrono::milliseconds lifetime,
                  Clock::time_point startBy, SoundStarted started) {
  const auto full = calls_.fullPath(path);
  if (!full) {
    started({SoundStart::Outcome::NotFound, {}});
    return;
  }
  std::unique_lock<std::mutex> lock(mutex_);
  queueSound(lock, pending_, running_, wake_, {*full, volume, lifetime, startBy, std::move(started)},
             [this] { serve(); });
}

void Player::serve() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    // A close that is due goes before the starts that wait: with slow opens
    // and a steady stream of sound gifts, the starts alone would keep every
    // device open long past its time.
    if (!closes_.empty() && closes_.begin()->first <= Clock::now()) {
      const std::string alias = closes_.begin()->second;
      closes_.erase(closes_.begin());
      lock.unlock();
      calls_.send("close " + alias);
      lock.lock();
      continue;
    }
    if (auto late = takeLate(pending_, Clock::now()); !late.empty()) {
      lock.unlock();
      tellLate(late);
      lock.lock();
      continue;
    }
    if (!pending_.empty()) {
      PendingSound sound = std::move(pending_.front());
      pending_.pop_front();
      lock.unlock();
      const auto playing = start(sound);
      lock.lock();
      if (playing) closes_.emplace(Clock::now() + sound.lifetime, *playing);
      continue;
    }
    if (closes_.empty()) {
      running_ = false;
      idle_.notify_all();
      return;
    }
    wake_.wait_until(lock, closes_.begin()->first);
  }
}

std::optional<std::string> Player::start(const PendingSound& sound) {
  // An open that fails uses up its alias all the same.
  const std::string alias = "sound" + std::to_string(nextAlias_++);
  if (const auto code = calls_.send("open \"" + sound.path + "\" type mpegvideo alias " + alias); code != 0) {
    sound.started({SoundStart::Outcome::CannotOpen, errorOf(code)});
    return std::nullopt;
  }
  // MCI's volume runs from 0 to 1000; a level out of range is refused and the
  // device plays at its own volume. Computed wide: no percentage overflows.
  const std::int64_t level = static_cast<std::int64_t>(sound.volume) * 10;
  calls_.send("setaudio " + alias + " volume to " + std::to_string(level));
  if (const auto code = calls_.send("play " + alias); code != 0) {
    calls_.send("close " + alias);
    sound.started({SoundStart::Outcome::CannotPlay, errorOf(code)});
    return std::nullopt;
  }
  sound.started({SoundStart::Outcome::Playing, {}});
  return alias;
}

std::string Player::errorOf(std::uint32_t code) const {
  std::string text = calls_.errorText(code);
  return text.empty() ? "erreur MCI " + std::to_string(code) : text;
}

}  // namespace platform::mci
