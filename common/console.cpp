#include "common/console.hpp"

#include <algorithm>
#include <chrono>
#include <iostream>
#include <system_error>
#include <thread>
#include <utility>

#include "common/thread_safety.hpp"

namespace console {
namespace {

// Enough for minutes of a storm's lines; a console blocked longer loses the
// lines past this (and counts them), never a gift.
constexpr std::size_t outputCapacity = 1 << 20;
// How long the writing thread waits for more lines after a batch.
constexpr std::chrono::milliseconds batchPause{2};

// Each character kept or shown as '?'; line breaks kept only when asked.
std::string cleaned(std::string_view text, std::size_t limit, bool keepLineBreaks) {
  std::string out;
  // No more than what is kept: a name cut from 60 KB to 200 characters must
  // not keep 60 KB wherever it is remembered.
  out.reserve(std::min(text.size(), limit * 4 + 3));
  std::size_t characters = 0;
  for (std::size_t i = 0; i < text.size(); ++characters) {
    if (characters == limit) {
      out += "...";
      break;
    }
    const auto lead = static_cast<unsigned char>(text[i]);
    const std::size_t length = lead < 0x80           ? 1
                               : (lead >> 5) == 0x6  ? 2
                               : (lead >> 4) == 0xE  ? 3
                               : (lead >> 3) == 0x1E ? 4
                                                     : 0;
    bool valid = length > 0 && i + length <= text.size();
    for (std::size_t k = 1; valid && k < length; ++k) valid = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
    const auto next = [&](std::size_t k) { return static_cast<unsigned char>(text[i + k]); };
    // Line and paragraph separators (U+2028, U+2029) and the marks that
    // turn the direction of what follows (U+202A to U+202E, U+2066 to
    // U+2069) split or reverse a line as control characters do.
    const bool turns = valid && lead == 0xE2 &&
                       ((next(1) == 0x80 && next(2) >= 0xA8 && next(2) <= 0xAE) ||
                        (next(1) == 0x81 && next(2) >= 0xA6 && next(2) <= 0xA9));
    const bool control = lead < 0x20 || lead == 0x7F || (lead == 0xC2 && valid && next(1) < 0xA0) || turns;
    if (!valid || (control && !(keepLineBreaks && lead == '\n'))) {
      out.push_back('?');
      i += valid ? length : 1;
      continue;
    }
    out.append(text.substr(i, length));
    i += length;
  }
  return out;
}

Output& standardOutput() {
  // Never destroyed: its thread may be blocked in a write when the program ends.
  static Output* output = new Output(
      [](std::string_view text) {
        std::cout.write(text.data(), static_cast<std::streamsize>(text.size()));
        std::cout.flush();
        std::cout.clear();  // a console that went away must not silence the next lines
      },
      outputCapacity);
  return *output;
}

}  // namespace

std::string shown(std::string_view text, std::size_t limit) { return cleaned(text, limit, false); }

std::string droppedLine(std::size_t count) {
  return "(" + std::to_string(count) + " lignes non affichees : la console ne les prenait plus)\n";
}

Output::Output(Sink sink, std::size_t capacity, ThreadStarter startThread)
    : sink_(std::move(sink)), capacity_(capacity), startThread_(std::move(startThread)) {}

Output::~Output() {
  MutexLock lock(mutex_);
  stopping_ = true;
  wake_.notify_one();
  drained_.wait(lock, [this]() REQUIRES(mutex_) { return !running_; });
}

void Output::add(std::string_view text) {
  MutexLock lock(mutex_);
  // Once a line is dropped, every line is until the sink takes the buffer:
  // the count then stands exactly where the lines are missing.
  if (dropped_ > 0 || pending_.size() + text.size() > capacity_) {
    ++dropped_;
    return;
  }
  pending_.append(text);
  if (!running_) {
    try {
      startThread_([this] { write(); });
      running_ = true;
    } catch (const std::system_error&) {
      writeBatch();  // no thread to spare: this caller writes, as the console used to
    }
  } else if (idle_) {
    // Woken once for a batch: the lines that come before it runs join it.
    idle_ = false;
    wake_.notify_one();
  }
}

void Output::flush() {
  MutexLock lock(mutex_);
  drained_.wait(lock, [this]() REQUIRES(mutex_) { return pending_.empty() && dropped_ == 0 && !writing_; });
}

void Output::write() {
  MutexLock lock(mutex_);
  const auto waiting = [this]() REQUIRES(mutex_) { return !pending_.empty() || dropped_ > 0; };
  for (;;) {
    if (!waiting()) {
      // Lines come in bursts (a storm of gifts): the thread lingers a moment
      // for the rest of a burst, unwoken, before it sleeps until the next
      // line wakes it. Woken line by line, it would cost the gifts a tenth
      // of their speed.
      wake_.wait_for(lock, batchPause);
      if (!waiting() && stopping_) break;
      if (!waiting()) {
        idle_ = true;
        wake_.wait(lock, [&]() REQUIRES(mutex_) { return waiting() || stopping_; });
        idle_ = false;
        continue;
      }
    }
    writeBatch();
  }
  running_ = false;
  drained_.notify_all();
}

void Output::writeBatch() {
  std::string batch;
  batch.swap(pending_);
  if (dropped_ > 0) batch += droppedLine(std::exchange(dropped_, 0));
  writing_ = true;
  mutex_.unlock();
  sink_(batch);
  mutex_.lock();
  writing_ = false;
  drained_.notify_all();
}

void printLine(std::string_view line) { printLines(std::span(&line, 1)); }

void printLines(std::span<const std::string_view> lines) {
  std::string whole;
  for (const auto line : lines) {
    whole.append(line);
    whole.push_back('\n');
  }
  standardOutput().add(cleaned(whole, std::string::npos, true));
}

void prompt(std::string_view text) {
  standardOutput().add(cleaned(text, std::string::npos, true));
  standardOutput().flush();
}

void flush() { standardOutput().flush(); }

bool readLine(std::string& line) {
  line.clear();
  if (!std::getline(std::cin, line)) {
    line.clear();
    return false;
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return true;
}

}  // namespace console
