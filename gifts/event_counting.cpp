#include "gifts/event_counting.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <utility>

namespace gifts {

LikeCounter::Heard LikeCounter::heard(std::optional<std::int64_t> total, std::optional<std::int64_t> likes,
                                      std::int64_t every) {
  // One event never stands for more runs than a request may.
  const auto steps = [every](std::int64_t before, std::int64_t after) {
    return every > 0 ? static_cast<int>(std::min<std::int64_t>(after / every - before / every, maxCount)) : 0;
  };
  MutexLock lock(mutex_);
  if (total) {
    if (!lastTotal_ || *total <= *lastTotal_) {
      lastTotal_ = std::max(*total, lastTotal_.value_or(*total));
      return {0, *lastTotal_, 0};
    }
    const std::int64_t before = std::exchange(*lastTotal_, *total);
    return {*total - before, *total, steps(before, *total)};
  }
  if (!likes || *likes <= 0) return {0, sum_, 0};
  // Far beyond any stream's, and never past the type's range.
  constexpr std::int64_t most = 1'000'000'000'000'000;
  const std::int64_t before = sum_;
  sum_ = std::min(most, sum_ + std::min(*likes, most));
  return {sum_ - before, sum_, steps(before, sum_)};
}

bool ViewerMemory::firstTime(std::initializer_list<const std::string*> key, Clock::time_point now,
                             std::optional<std::chrono::milliseconds> within) {
  const Digest digest = digestOf(key);
  MutexLock lock(mutex_);
  const auto [noted, added] = noted_.try_emplace(digest, now);
  if (!added) {
    if (!within || now - noted->second < *within) return false;
    noted->second = now;
    return true;
  }
  order_.push_back(digest);
  if (order_.size() > kept) {
    noted_.erase(order_.front());
    order_.pop_front();
  }
  return true;
}

std::string foldedText(std::string_view text) {
  // U+00C0 to U+00FF, the accented letters of French and its neighbours:
  // what each becomes; empty for a sign that stays as it is.
  static constexpr std::array<const char*, 64> latin = {
      "a", "a", "a", "a", "a", "a", "ae", "c", "e", "e", "e", "e", "i", "i", "i", "i",  //
      "d", "n", "o", "o", "o", "o", "o",  "",  "o", "u", "u", "u", "u", "y", "",  "ss",
      "a", "a", "a", "a", "a", "a", "ae", "c", "e", "e", "e", "e", "i", "i", "i", "i",  //
      "d", "n", "o", "o", "o", "o", "o",  "",  "o", "u", "u", "u", "u", "y", "",  "y"};
  std::string folded;
  folded.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
    if (byte == 0xC3 && next >= 0x80 && next <= 0xBF && *latin[next - 0x80] != '\0') {
      folded += latin[next - 0x80];
      ++i;
    } else if (byte == 0xC5 && (next == 0x92 || next == 0x93)) {  // Œ, œ
      folded += "oe";
      ++i;
    } else {
      folded += static_cast<char>(byte < 0x80 ? std::tolower(byte) : byte);
    }
  }
  return folded;
}

bool holdsCommand(std::string_view message, std::string_view command) {
  const std::string text = foldedText(message);
  std::string wanted = foldedText(command);
  wanted.erase(0, wanted.find_first_not_of(" \t"));
  wanted.erase(wanted.find_last_not_of(" \t") + 1);
  if (wanted.empty()) return false;
  const auto inWord = [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte >= 0x80 || std::isalnum(byte) || c == '_';
  };
  for (auto at = text.find(wanted); at != std::string::npos; at = text.find(wanted, at + 1)) {
    const std::size_t end = at + wanted.size();
    const bool startsWord = at == 0 || !inWord(text[at - 1]) || !inWord(wanted.front());
    const bool endsWord = end == text.size() || !inWord(text[end]) || !inWord(wanted.back());
    if (startsWord && endsWord) return true;
  }
  return false;
}

}  // namespace gifts
