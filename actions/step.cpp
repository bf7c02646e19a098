#include "actions/step.hpp"

namespace actions {

std::string consoleLine(const Step& step) {
  const std::string who = step.detail.empty() ? "un spectateur" : step.detail;
  switch (step.kind) {
    case StepKind::Followed:
      return "Nouveau follower: " + who;
    case StepKind::Shared:
      return "Partage: " + who;
    case StepKind::Subscribed:
      return "Abonnement: " + who;
    case StepKind::Joined:
      return "Arrivee: " + who;
    case StepKind::LikesReached:
      return "Likes: " + std::to_string(step.amount) + " au total (palier de " + std::to_string(step.threshold) + ")";
    case StepKind::ChatCommandHeard:
      return "Commande chat: " + step.text + " de " + who;
    case StepKind::TierGiftReceived:
      return "Cadeau recu: " + step.text + " x" + std::to_string(step.number) + " de " + who + " (" +
             std::to_string(step.amount) + " pieces, palier de " + std::to_string(step.threshold) + ")";
    case StepKind::GoalReached:
      return "Objectif atteint: " + step.text + " (" + std::to_string(step.amount) + " sur " +
             std::to_string(step.threshold) + ")";
    case StepKind::EventNotConfigured:
      return "Evenement non configure: " + step.text +
             " (les suivants du meme genre ne sont pas affiches pendant 1 "
             "minute)";
    case StepKind::EventAlreadyCounted:
      return "Evenement deja compte: " + step.text + " de " + who;
    case StepKind::ViewerOnCooldown:
      return "Commande en recharge pour " + who + ": " + step.text;
    case StepKind::Received:
      return "Cadeau recu: " + step.text + (step.number > 0 ? " x" + std::to_string(step.number) : "") +
             (step.detail.empty() ? "" : " de " + step.detail);
    case StepKind::AlreadyCounted:
      return "Cadeau deja compte: " + step.text + (step.detail.empty() ? "" : " de " + step.detail) +
             (step.number > 0 ? " (serie a " + std::to_string(step.number) + ")" : " (evenement deja recu)");
    case StepKind::NotConfigured:
      return "Cadeau non configure: " + step.text;
    case StepKind::OnCooldown:
      return "Cadeau en recharge: " + step.text;
    case StepKind::Refused:
      return "Requete refusee : secret absent ou incorrect";
    case StepKind::SoundPlaying:
      return "Lecture audio: " + step.text + " (volume: " + std::to_string(step.number) + "%)";
    case StepKind::SoundNotFound:
      return "Fichier audio non trouve : " + step.text;
    case StepKind::SoundCannotOpen:
      return "Erreur ouverture audio: " + step.text;
    case StepKind::SoundCannotPlay:
      return "Erreur lecture audio: " + step.text;
    case StepKind::SoundTooLate:
      if (step.number == 0) return {};
      return "Sons non joues (trop de sons a la fois, pas demarres dans les 2 s) : " + std::to_string(step.number);
    case StepKind::SoundSkipped:
      if (step.number == 0) return {};
      return "Sons non joues (" + step.detail + ") : " + std::to_string(step.number);
    case StepKind::KeyPressed:
      return "Touche '" + step.text + "' pressee";
    case StepKind::KeyPressedAgain:
      return "Touche '" + step.text + "' pressee encore " + std::to_string(step.number) + " fois";
    case StepKind::KeyUnsupported:
      return "Touche non supportee: " + step.text;
    case StepKind::KeyFailed:
      return "Touche non pressee: " + step.text + " (" + step.detail + ")";
    case StepKind::KeyQueueFull:
      return "File d'attente pleine: " + step.text;
    case StepKind::KeyAboveThisProgram:
      return "Touche non pressee: " + step.text + " (la fenetre active, " + step.window +
             ", tourne en administrateur : Windows ne lui transmet pas les touches de ce programme ; fermez ce "
             "programme et relancez-le en administrateur, clic droit, \"Executer en tant qu'administrateur\")";
    case StepKind::KeyWrongWindow:
      return "Touche non pressee: " + step.text + " (" +
             (step.window.empty() ? "aucune fenetre n'a le focus" : "la fenetre active est " + step.window) +
             ", pas celle de \"" + step.detail + "\")";
    case StepKind::KeyLeftToStreamer:
      return "Touche '" + step.text + "' deja tenue par le streamer : le cadeau ne la presse pas et ne la relache pas";
    case StepKind::CallSucceeded:
      return "Requete HTTP reussie: " + step.text;
    case StepKind::CallFailed:
      return "Erreur requete HTTP: " + std::to_string(step.number) +
             (step.detail.empty() ? "" : " (" + step.detail + ")");
    case StepKind::UrlWithoutScheme:
      return "URL invalide (pas de protocole): " + step.text;
    case StepKind::UrlWithoutPath:
      return "URL invalide (pas de chemin): " + step.text;
    case StepKind::CallException:
      return "Exception lors de la requete HTTP: " + step.text;
  }
  return {};
}

const char* kindName(StepKind kind) {
  switch (kind) {
    case StepKind::Received:
    case StepKind::Followed:
    case StepKind::Shared:
    case StepKind::Subscribed:
    case StepKind::Joined:
    case StepKind::LikesReached:
    case StepKind::ChatCommandHeard:
    case StepKind::TierGiftReceived:
    case StepKind::GoalReached:
      return "received";
    case StepKind::EventNotConfigured:
      return "not-configured";
    case StepKind::EventAlreadyCounted:
      return "already-counted";
    case StepKind::ViewerOnCooldown:
      return "on-cooldown";
    case StepKind::AlreadyCounted:
      return "already-counted";
    case StepKind::NotConfigured:
      return "not-configured";
    case StepKind::OnCooldown:
      return "on-cooldown";
    case StepKind::Refused:
      return "refused";
    case StepKind::SoundPlaying:
      return "sound-playing";
    case StepKind::SoundNotFound:
      return "sound-not-found";
    case StepKind::SoundCannotOpen:
    case StepKind::SoundCannotPlay:
      return "sound-failed";
    case StepKind::SoundTooLate:
      return "sound-too-late";
    case StepKind::SoundSkipped:
      return "sound-skipped";
    case StepKind::KeyPressed:
    case StepKind::KeyPressedAgain:
      return "key-pressed";
    case StepKind::KeyUnsupported:
      return "key-unsupported";
    case StepKind::KeyFailed:
      return "key-failed";
    case StepKind::KeyQueueFull:
      return "key-queue-full";
    case StepKind::KeyAboveThisProgram:
      return "key-above-this-program";
    case StepKind::KeyWrongWindow:
      return "key-wrong-window";
    case StepKind::KeyLeftToStreamer:
      return "key-left-to-streamer";
    case StepKind::CallSucceeded:
      return "call-succeeded";
    case StepKind::CallFailed:
    case StepKind::UrlWithoutScheme:
    case StepKind::UrlWithoutPath:
    case StepKind::CallException:
      return "call-failed";
  }
  return "";
}

}  // namespace actions
