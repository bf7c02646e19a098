#include "config/config_file.hpp"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <system_error>
#include <utility>

#include "common/console.hpp"
#include "common/json_io.hpp"
#include "platform/platform.hpp"

namespace config {
namespace {

using nlohmann::json;

// A gift's name as the console shows it.
std::string quoted(const std::string& name) { return "\"" + console::shown(name) + "\""; }

// Whose members a refusal names: a gift ("Le cadeau \"Rose\"", "Le champ
// \"hold\" du cadeau \"Rose\"") or one of the events' rules.
struct Owner {
  std::string subject;
  std::string afterMember;  // what follows the member's name
};
Owner giftOwner(const std::string& name) { return {"Le cadeau " + quoted(name), "\" du cadeau " + quoted(name)}; }
Owner eventOwner(const std::string& path) { return {"La regle " + quoted(path), "\" de la regle " + quoted(path)}; }

std::string memberOfGift(const char* member, const Owner& owner) {
  return std::string("Le champ \"") + member + owner.afterMember;
}

// A volume is a number held as a 32-bit integer (fractions cut toward zero)
// or a boolean (1 or 0). Anything outside the integer's range is refused.
Result<std::int32_t> readVolume(const json& value, const Owner& gift) {
  if (!value.is_number() && !value.is_boolean()) return Failure{memberOfGift("volume", gift) + " doit etre un nombre"};
  const Failure tooLarge{memberOfGift("volume", gift) + " est un nombre beaucoup trop grand"};
  if (value.is_boolean()) return value.get<bool>() ? 1 : 0;
  if (value.is_number_integer()) {
    // Read as unsigned first: past the signed 64-bit range it would wrap.
    if (value.is_number_unsigned() &&
        value.get<std::uint64_t>() > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())) {
      return tooLarge;
    }
    const auto v = value.get<std::int64_t>();
    if (v < std::numeric_limits<std::int32_t>::min() || v > std::numeric_limits<std::int32_t>::max()) {
      return tooLarge;
    }
    return static_cast<std::int32_t>(v);
  }
  const double t = std::trunc(value.get<double>());
  if (!(t >= -2147483648.0 && t <= 2147483647.0)) return tooLarge;
  return static_cast<std::int32_t>(t);
}

// The whole number a member holds, within its range, or `absent` when there
// is no such member. `label` names the member in the refusal.
Result<std::int64_t> readWhole(const json& entry, const char* member, const std::string& label, std::int64_t lowest,
                               std::int64_t highest, std::int64_t absent) {
  const auto it = entry.find(member);
  if (it == entry.end()) return absent;
  // Read as unsigned when it is: a value past the signed range must not wrap
  // into the range.
  if (it->is_number_unsigned() && it->get<std::uint64_t>() <= static_cast<std::uint64_t>(highest)) {
    const auto value = static_cast<std::int64_t>(it->get<std::uint64_t>());
    if (value >= lowest) return value;
  } else if (it->is_number_integer() && !it->is_number_unsigned()) {
    const auto value = it->get<std::int64_t>();  // negative, or -0
    if (value >= lowest && value <= highest) return value;
  }
  return Failure{label + " doit etre un nombre entier de " + std::to_string(lowest) + " a " + std::to_string(highest)};
}

std::optional<SoundMode> soundModeOf(const std::string& word) {
  for (int mode = 0; mode < 4; ++mode) {
    if (word == soundModeWords[mode]) return static_cast<SoundMode>(mode);
  }
  return std::nullopt;
}

// An image of the alerts: a PNG, GIF or WebP file of the "images" folder,
// named as the overlay asks for it.
bool isAlertImage(const std::string& path) {
  if (!path.starts_with("images/") || path.size() > 200 || path.find("..") != std::string::npos) return false;
  if (path.find_first_of("\\:?#%") != std::string::npos) return false;
  std::string lower;
  for (const char c : path) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower.ends_with(".png") || lower.ends_with(".gif") || lower.ends_with(".webp");
}

Result<Alert> readAlert(const json& entry, const Owner& owner) {
  const std::string label = memberOfGift("alert", owner);
  if (!entry.is_object()) return Failure{label + " doit etre un objet entre accolades { }"};
  Alert alert;
  const std::pair<const char*, std::string*> texts[] = {{"text", &alert.text}, {"image", &alert.image}};
  for (const auto& [member, field] : texts) {
    const auto it = entry.find(member);
    if (it == entry.end()) continue;
    if (!it->is_string()) return Failure{label + " a un champ \"" + member + "\" qui doit etre un texte"};
    *field = it->get<std::string>();
  }
  if (!alert.image.empty() && !isAlertImage(alert.image)) {
    return Failure{label + " montre une image du dossier images (\"images/lion.gif\") : PNG, GIF ou WebP"};
  }
  const auto seconds = readWhole(entry, "seconds", label + " a un champ \"seconds\" qui", 1, 30, 5);
  if (!seconds) return seconds.failure();
  alert.seconds = std::chrono::seconds(*seconds);
  return alert;
}

Result<GiftAction> readGift(const Owner& name, const json& entry) {
  if (!entry.is_object()) {
    return Failure{name.subject + " doit etre un objet entre accolades { }"};
  }
  GiftAction gift;
  const std::pair<const char*, std::string*> texts[] = {{"action", &gift.action}, {"target", &gift.target}};
  for (const auto& [member, field] : texts) {
    const auto it = entry.find(member);
    // A gift that only plays its sound has nothing to aim at.
    if (it == entry.end() && field == &gift.target && gift.action == "sound") continue;
    if (it == entry.end()) {
      return Failure{name.subject + " n'a pas de champ \"" + member + "\""};
    }
    if (!it->is_string()) {
      return Failure{memberOfGift(member, name) + " doit etre un texte entre guillemets"};
    }
    *field = it->get<std::string>();
  }
  if (const auto it = entry.find("sound"); it != entry.end()) {
    if (!it->is_string()) {
      return Failure{memberOfGift("sound", name) + " doit etre un texte entre guillemets"};
    }
    gift.sound = it->get<std::string>();
  }
  if (const auto it = entry.find("window"); it != entry.end()) {
    if (!it->is_string()) return Failure{memberOfGift("window", name) + " doit etre un texte entre guillemets"};
    gift.window = it->get<std::string>();
  } else {
    gift.windowOfFile = true;
  }
  gift.volume = 100;
  if (const auto it = entry.find("volume"); it != entry.end()) {
    const auto volume = readVolume(*it, name);
    if (!volume) return volume.failure();
    gift.volume = *volume;
  }
  const auto hold = readWhole(entry, "hold", memberOfGift("hold", name), 10, 5000, gift.hold.count());
  if (!hold) return hold.failure();
  const auto repeat = readWhole(entry, "repeat", memberOfGift("repeat", name), 1, 50, gift.repeat);
  if (!repeat) return repeat.failure();
  const auto cooldown =
      readWhole(entry, "cooldown", memberOfGift("cooldown", name), 0, 86'400'000, gift.cooldown.count());
  if (!cooldown) return cooldown.failure();
  const auto seconds =
      readWhole(entry, "soundSeconds", memberOfGift("soundSeconds", name), 1, 60, gift.soundSeconds.count());
  if (!seconds) return seconds.failure();
  gift.soundSeconds = std::chrono::seconds(*seconds);
  if (const auto it = entry.find("soundMode"); it != entry.end()) {
    const auto mode = it->is_string() ? soundModeOf(it->get<std::string>()) : std::nullopt;
    if (!mode) {
      return Failure{memberOfGift("soundMode", name) + " doit etre \"overlap\", \"queue\", \"replace\" ou \"skip\""};
    }
    gift.soundMode = *mode;
  }
  gift.hold = std::chrono::milliseconds(*hold);
  gift.repeat = static_cast<int>(*repeat);
  gift.cooldown = std::chrono::milliseconds(*cooldown);
  gift.kind = actionKind(gift.action);
  if (const auto it = entry.find("alert"); it != entry.end() && !it->is_null()) {
    auto alert = readAlert(*it, name);
    if (!alert) return alert.failure();
    gift.alert = std::move(*alert);
  }
  if (gift.kind == ActionKind::Webhook) {
    if (const auto misplaced = misplacedPlaceholder(gift.target)) {
      return Failure{memberOfGift("target", name) + " met " + std::string(misplaced->placeholder) + " dans " +
                     misplaced->where +
                     " de l'adresse : {count}, {viewer} et {gift} ne vont qu'apres le \"?\", "
                     "comme valeur d'un parametre (https://serveur/chemin?nom={viewer})"};
    }
  }
  return gift;
}

// The file's "events", each rule's action read as a gift's, with the file's
// window for those that name none.
Result<EventTable> readEvents(const json& document, const std::string& window) {
  EventTable table;
  const auto events = document.find("events");
  if (events == document.end() || events->is_null()) return table;
  if (!events->is_object()) return Failure{"Le champ \"events\" doit etre un objet entre accolades { }"};
  const auto action = [&window](const std::string& path, const json& entry) -> Result<GiftAction> {
    auto gift = readGift(eventOwner(path), entry);
    if (!gift) return gift.failure();
    if (gift->windowOfFile) gift->window = window;
    gift->windowOfFile = gift->windowOfFile && !window.empty();
    return gift;
  };
  for (const auto& [name, entry] : events->items()) {
    const std::string path = "events." + name;
    std::optional<GiftAction>* once = name == "follow"      ? &table.follow
                                      : name == "share"     ? &table.share
                                      : name == "subscribe" ? &table.subscribe
                                      : name == "join"      ? &table.join
                                                            : nullptr;
    if (once) {
      auto read = action(path, entry);
      if (!read) return read.failure();
      *once = std::move(*read);
    } else if (name == "likes") {
      auto read = action(path, entry);
      if (!read) return read.failure();
      const auto every = readWhole(entry, "every", memberOfGift("every", eventOwner(path)), 1, 1'000'000'000, 0);
      if (!every) return every.failure();
      if (*every == 0) return Failure{eventOwner(path).subject + " n'a pas de champ \"every\" (un like sur combien)"};
      table.likes = LikesRule{std::move(*read), *every};
    } else if (name == "chat") {
      if (!entry.is_object()) return Failure{"Le champ \"events.chat\" doit etre un objet entre accolades { }"};
      for (const auto& [command, rule] : entry.items()) {
        if (command.find_first_not_of(" \t") == std::string::npos) {
          return Failure{"Une commande de \"events.chat\" a un nom vide"};
        }
        auto read = action(path + "." + command, rule);
        if (!read) return read.failure();
        const auto cooldown = readWhole(
            rule, "viewerCooldown", memberOfGift("viewerCooldown", eventOwner(path + "." + command)), 0, 86'400'000, 0);
        if (!cooldown) return cooldown.failure();
        table.chat.emplace(command, ChatCommand{std::move(*read), std::chrono::milliseconds(*cooldown)});
      }
    } else if (name == "giftTiers") {
      if (!entry.is_array()) return Failure{"Le champ \"events.giftTiers\" doit etre une liste entre crochets [ ]"};
      for (std::size_t i = 0; i < entry.size(); ++i) {
        const std::string tier = path + "[" + std::to_string(i) + "]";
        auto read = action(tier, entry[i]);
        if (!read) return read.failure();
        const auto coins =
            readWhole(entry[i], "minCoins", memberOfGift("minCoins", eventOwner(tier)), 1, 1'000'000'000'000, 0);
        if (!coins) return coins.failure();
        if (*coins == 0) return Failure{eventOwner(tier).subject + " n'a pas de champ \"minCoins\""};
        table.giftTiers.push_back({*coins, std::move(*read)});
      }
    } else {
      return Failure{"Le champ \"events\" a un membre inconnu \"" + console::shown(name) +
                     "\" : follow, share, subscribe, join, likes, chat ou giftTiers"};
    }
  }
  return table;
}

// The file's "goals": [{"name", "counts", "target", "reached": {action}}].
Result<std::vector<Goal>> readGoals(const json& document, const std::string& window) {
  std::vector<Goal> goals;
  const auto list = document.find("goals");
  if (list == document.end() || list->is_null()) return goals;
  if (!list->is_array()) return Failure{"Le champ \"goals\" doit etre une liste entre crochets [ ]"};
  for (std::size_t i = 0; i < list->size(); ++i) {
    const json& entry = (*list)[i];
    const Owner owner = eventOwner("goals[" + std::to_string(i) + "]");
    if (!entry.is_object()) return Failure{owner.subject + " doit etre un objet entre accolades { }"};
    Goal goal;
    const auto name = entry.find("name");
    if (name == entry.end() || !name->is_string() || name->get_ref<const std::string&>().empty()) {
      return Failure{owner.subject + " n'a pas de nom (\"name\")"};
    }
    goal.name = name->get<std::string>();
    if (std::ranges::any_of(goals, [&](const Goal& other) { return other.name == goal.name; })) {
      return Failure{"Deux objectifs s'appellent " + quoted(std::as_const(goal).name)};
    }
    const auto counts = entry.find("counts");
    const std::string word = counts != entry.end() && counts->is_string() ? counts->get<std::string>() : "";
    if (word == "coins") {
      goal.counts = GoalCounts::Coins;
    } else if (word == "likes") {
      goal.counts = GoalCounts::Likes;
    } else if (word == "follows") {
      goal.counts = GoalCounts::Follows;
    } else if (word.starts_with("gift:") && word.size() > 5) {
      goal.counts = GoalCounts::Gift;
      goal.gift = word.substr(5);
    } else {
      return Failure{memberOfGift("counts", owner) + " doit etre \"coins\", \"likes\", \"follows\" ou \"gift:NOM\""};
    }
    const auto target = readWhole(entry, "target", memberOfGift("target", owner), 1, 1'000'000'000'000, 0);
    if (!target) return target.failure();
    if (*target == 0) return Failure{owner.subject + " n'a pas de champ \"target\" (le nombre a atteindre)"};
    goal.target = *target;
    if (const auto reached = entry.find("reached"); reached != entry.end() && !reached->is_null()) {
      auto action = readGift(eventOwner("goals[" + std::to_string(i) + "].reached"), *reached);
      if (!action) return action.failure();
      if (action->windowOfFile) action->window = window;
      action->windowOfFile = action->windowOfFile && !window.empty();
      goal.reached = std::move(*action);
    }
    goals.push_back(std::move(goal));
  }
  return goals;
}

// The reader's message quotes what it read last, which for a string that is
// never closed is the whole rest of the file: keep only its end.
std::string shortened(std::string message) {
  constexpr std::string_view marker = "last read: '";
  constexpr std::size_t keep = 60;
  const auto at = message.find(marker);
  if (at == std::string::npos) return message;
  const std::size_t start = at + marker.size();
  // The quote closes it, before what the reader expected, if it says.
  const std::size_t end = std::min(message.rfind("'; expected"), message.rfind('\''));
  if (end - start <= keep) return message;
  std::size_t cut = end - keep;
  // Never in the middle of a UTF-8 sequence.
  while ((static_cast<unsigned char>(message[cut]) & 0xC0) == 0x80) ++cut;  // the quote ends it
  return message.substr(0, start) + "..." + message.substr(cut);
}

}  // namespace

std::optional<MisplacedPlaceholder> misplacedPlaceholder(std::string_view url) {
  // The host part starts after the scheme's "://" (or at the start without
  // one), and ends at the first '/', '?' or '#'.
  const auto scheme = url.find("://");
  const std::size_t host = scheme == std::string_view::npos ? 0 : scheme + 3;
  const std::size_t path = std::min(url.find_first_of("/?#", host), url.size());
  const std::size_t query = std::min(url.find_first_of("?#", path), url.size());
  const std::size_t fragment = std::min(url.find('#', query), url.size());
  for (const std::string_view placeholder : urlPlaceholders) {
    for (auto at = url.find(placeholder); at != std::string_view::npos; at = url.find(placeholder, at + 1)) {
      if (at < path) return MisplacedPlaceholder{placeholder, "le nom du serveur"};
      if (at < query) return MisplacedPlaceholder{placeholder, "le chemin"};
      if (at >= fragment) return MisplacedPlaceholder{placeholder, "la fin apres #"};
    }
  }
  return std::nullopt;
}

Result<LoadedConfig> parseConfig(std::string_view text) {
  // Notepad's "Unicode" is UTF-16, whose byte-order mark the JSON reader
  // takes for a stray character: say what to do about it instead.
  if (text.starts_with("\xFF\xFE") || text.starts_with("\xFE\xFF")) {
    return Failure{"Le fichier de configuration est enregistre en UTF-16 : enregistrez-le en UTF-8"};
  }
  // Refused before anything is read: such a file would load, then end the
  // program at the first save from the page.
  if (!common::nestingAllowed(text)) {
    return Failure{"Le fichier de configuration imbrique plus de " + std::to_string(common::maxJsonNesting) +
                   " niveaux de { } et de [ ] les uns dans les autres : aucun fichier de ce programme n'en a besoin"};
  }
  json document;
  try {
    // The stream reader takes the first value and leaves what follows it.
    std::istringstream stream{std::string(text)};
    stream >> document;
  } catch (const json::exception& e) {
    return Failure{std::string("Le fichier de configuration n'est pas du JSON valide : ") + shortened(e.what())};
  }

  if (!document.is_object()) {
    return Failure{"Le fichier de configuration doit contenir un objet JSON entre accolades { }"};
  }
  LoadedConfig loaded;
  const auto token = document.find("token");
  if (token == document.end()) {
    return Failure{"Le fichier de configuration n'a pas de champ \"token\""};
  }
  if (!token->is_string()) {
    return Failure{"Le champ \"token\" doit etre un texte entre guillemets"};
  }
  loaded.token = token->get<std::string>();
  if (const auto secret = document.find("secret"); secret != document.end()) {
    if (!secret->is_string()) return Failure{"Le champ \"secret\" doit etre un texte entre guillemets"};
    loaded.secret = secret->get<std::string>();
  }
  // Windows may keep the usual port for its own (Hyper-V, WSL, Docker):
  // the streamer then picks another.
  const auto port = readWhole(document, "port", "Le champ \"port\"", 1, 65535, loaded.port);
  if (!port) return port.failure();
  loaded.port = static_cast<int>(*port);

  std::string window;
  const std::pair<const char*, std::string*> texts[] = {
      {"window", &window}, {"soundDevice", &loaded.soundDevice}, {"overlayKey", &loaded.overlayKey}};
  for (const auto& [member, field] : texts) {
    if (const auto it = document.find(member); it != document.end()) {
      if (!it->is_string())
        return Failure{std::string("Le champ \"") + member + "\" doit etre un texte entre guillemets"};
      *field = it->get<std::string>();
    }
  }

  auto events = readEvents(document, window);
  if (!events) return events.failure();
  loaded.events = std::move(*events);
  auto goals = readGoals(document, window);
  if (!goals) return goals.failure();
  loaded.goals = std::move(*goals);

  const auto gifts = document.find("gifts");
  if (gifts == document.end() || gifts->is_null() || (gifts->is_array() && gifts->empty())) {
    return loaded;
  }
  if (!gifts->is_object()) {
    return Failure{"Le champ \"gifts\" doit etre un objet entre accolades { }"};
  }
  for (const auto& [name, entry] : gifts->items()) {
    auto gift = readGift(giftOwner(name), entry);
    if (!gift) return gift.failure();
    if (gift->windowOfFile) gift->window = window;
    gift->windowOfFile = gift->windowOfFile && !window.empty();
    loaded.gifts.emplace(name, std::move(*gift));
  }
  return loaded;
}

bool isAbsent(const std::string& path) {
  std::error_code ec;
  return std::filesystem::status(path, ec).type() == std::filesystem::file_type::not_found;
}

Result<std::string> readConfigFile(const std::string& path) {
  std::error_code ec;
  const auto type = std::filesystem::status(path, ec).type();
  if (type == std::filesystem::file_type::not_found) return Failure{"il n'existe pas"};
  if (type == std::filesystem::file_type::directory) return Failure{"c'est un dossier, pas un fichier"};
  errno = 0;
  std::ifstream in(path);
  if (!in) {
    const int error = errno;
    return Failure{error != 0 ? std::generic_category().message(error) : "ouverture refusee"};
  }
  std::ostringstream content;
  content << in.rdbuf();
  if (in.bad()) {
    const int error = errno;
    return Failure{error != 0 ? std::generic_category().message(error) : "lecture impossible"};
  }
  return std::move(content).str();
}

}  // namespace config
