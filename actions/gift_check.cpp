#include "actions/gift_check.hpp"

#include "actions/key_press.hpp"
#include "actions/sound.hpp"
#include "common/console.hpp"

namespace actions {

std::string giftProblems(const config::GiftAction& gift) {
  std::string problems;
  const auto add = [&problems](const std::string& problem) { problems += (problems.empty() ? "" : " ; ") + problem; };
  if (gift.kind == config::ActionKind::Unknown) {
    add("action inconnue \"" + console::shown(gift.action) +
        "\" (il faut \"key\", \"webhook\" ou \"sound\", en minuscules)");
  } else if (gift.kind == config::ActionKind::Sound && gift.sound.empty()) {
    add("aucun son a jouer (champ \"sound\")");
  } else if (gift.kind == config::ActionKind::Key && !parseKeyTarget(gift.target)) {
    add("touche inconnue \"" + console::shown(gift.target) + "\"");
  }
  if (!gift.sound.empty() && !soundFileExists(gift.sound)) {
    add("fichier audio non trouve : " + console::shown(gift.sound));
  }
  return problems;
}

std::optional<std::string> giftWarning(const std::string& name, const config::GiftAction& gift) {
  const std::string problems = giftProblems(gift);
  if (problems.empty()) return std::nullopt;
  return "Attention, cadeau \"" + console::shown(name) + "\" : " + problems;
}

}  // namespace actions
