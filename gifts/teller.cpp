#include "gifts/teller.hpp"

#include <array>
#include <chrono>
#include <string_view>

#include "common/console.hpp"

namespace gifts {

void Teller::tell(const EventRecord& gift, std::initializer_list<actions::Step> steps) {
  std::array<std::string, 4> lines;
  std::array<std::string_view, 4> written;
  std::size_t count = 0;
  const auto now =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch());
  for (const actions::Step& step : steps) {
    lastPresses_.saw(gift.name, step);
    std::string line = actions::consoleLine(step);
    if (!line.empty() && count < lines.size()) written[count] = lines[count] = line, ++count;
    feed_.add({gift.number, now.count(), gift.source, console::shown(gift.name, shownNameLength), gift.viewer,
               gift.count, actions::kindName(step.kind), std::move(line), step.window, gift.event});
  }
  if (count > 0) console::printLines(std::span<const std::string_view>(written.data(), count));
}

void Teller::configChanged() { feed_.add({0, 0, Source::Relay, {}, {}, -1, "config", {}}); }

}  // namespace gifts
