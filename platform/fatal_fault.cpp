#include "platform/fatal_fault.hpp"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <exception>
#include <string>

#include "common/console.hpp"

namespace platform {

FatalLine::FatalLine(std::string_view kind, std::uintptr_t address) {
  add("Le programme s'arrete sur une erreur fatale : ");
  add(kind);
  if (address == 0) return;
  add(" a l'adresse 0x");
  constexpr std::string_view digits = "0123456789abcdef";
  std::array<char, 2 * sizeof address> hex{};
  for (std::size_t i = hex.size(); i-- > 0; address >>= 4) hex[i] = digits[address & 0xf];
  add({hex.data(), hex.size()});
}

void FatalLine::add(std::string_view part) {
  const std::size_t count = std::min(part.size(), text_.size() - size_);
  std::copy_n(part.data(), count, text_.data() + size_);
  size_ += count;
}

void writeFatalLine(const FatalLine& line) {
  static std::atomic<bool> told{false};
  if (told.exchange(true)) return;
  writeToStandardOutput(line.text());
  writeToStandardOutput("\n");
}

void tellUncaughtExceptions() {
  std::set_terminate([] {
    std::string kind = "exception non rattrapee";
    try {
      if (const auto thrown = std::current_exception()) std::rethrow_exception(thrown);
    } catch (const std::exception& e) {
      kind += " (" + console::shown(e.what()) + ")";
    } catch (...) {
    }
    writeFatalLine(FatalLine(kind, 0));
    std::abort();
  });
}

}  // namespace platform
