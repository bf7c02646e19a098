#include "gifts/handle_event.hpp"

#include <nlohmann/json.hpp>
#include <thread>

#include "actions/key_press.hpp"
#include "actions/outgoing_webhook.hpp"
#include "actions/sound.hpp"
#include "common/console.hpp"
#include "gifts/event_counting.hpp"

namespace gifts {
namespace {

using actions::Step;
using actions::StepKind;
using Ending = Reply::Ending;

std::int64_t epochMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// One key gift: its presses, and the outcome they come to.
Reply pressOnce(const std::string& name, const config::GiftAction& gift, Clock::time_point arrived,
                const actions::Tell& tell) {
  std::string focused;
  switch (actions::pressKey(name, gift, arrived, tell, &focused)) {
    case actions::KeyOutcome::Pressed:
      return {Ending::KeyPressed, focused};
    case actions::KeyOutcome::AboveThisProgram:
      return {Ending::KeyAboveThisProgram, focused};
    case actions::KeyOutcome::WrongWindow:
      return {Ending::KeyWrongWindow, focused};
    case actions::KeyOutcome::Unsupported:
      return {Ending::KeyUnsupported, gift.target};
    case actions::KeyOutcome::QueueFull:
      return {Ending::KeyQueueFull};
    case actions::KeyOutcome::Failed:
      break;
  }
  return {Ending::KeyFailed};
}

Reply callOnce(const std::string& url, const std::string& token, const actions::Tell& tell) {
  const auto answer = actions::executeWebhook(url, token, tell);
  if (!answer) return {Ending::CallFailed, answer.reason()};
  return {Ending::Called, *answer};
}

// The gifts after the first, one after the other, as if each had come just
// after the one before; once one fails, the rest would too, and are left.
void runInTurn(std::shared_ptr<const config::LoadedConfig> config, std::shared_ptr<EventState> state,
               EventRecord record, const config::GiftAction& gift, int more, std::string url,
               Clock::time_point arrived) {
  const actions::Tell tell = [&](Step step) { state->teller.tell(record, {std::move(step)}); };
  if (gift.kind == config::ActionKind::Webhook) {
    for (int i = 0; i < more && callOnce(url, config->token, tell).ending == Ending::Called; ++i) {
    }
  } else {
    // One line for all the presses that went as they should.
    const actions::Tell quiet = [&](Step step) {
      if (step.kind != StepKind::KeyPressed) tell(std::move(step));
    };
    int pressed = 0;
    while (pressed < more && pressOnce(record.name, gift, arrived, quiet).ending == Ending::KeyPressed) ++pressed;
    if (pressed > 0) tell({StepKind::KeyPressedAgain, console::shown(gift.target), {}, pressed});
  }
  state->running.fetch_sub(1);
}

// The later gifts run on a thread of their own: the reply does not wait for
// them. The gift lives in the configuration, which the thread holds. A flood
// of such requests beyond those that may run at once loses their later
// gifts, said as a full queue.
void runTheRest(std::shared_ptr<const config::LoadedConfig> config, const std::shared_ptr<EventState>& state,
                const EventRecord& record, const config::GiftAction& gift, int more, std::string url,
                Clock::time_point arrived) {
  const auto full = [&] { state->teller.tell(record, {{StepKind::KeyQueueFull, console::shown(record.name)}}); };
  if (state->running.fetch_add(1) >= EventState::maxRunning) {
    state->running.fetch_sub(1);
    return full();
  }
  try {
    std::thread(runInTurn, std::move(config), state, record, std::cref(gift), more, std::move(url), arrived).detach();
  } catch (const std::system_error&) {
    state->running.fetch_sub(1);
    full();
  }
}

// A rule of the file that an event runs: a named gift's, or one of the
// events'.
struct Rule {
  const config::GiftAction& action;
  std::string key;         // its own among cooldowns and sounds: the gift's name, or "events.follow"...
  std::string name;        // what {gift} in its address is: the gift's name, or the event's
  std::int64_t coins = 0;  // what the gifts were worth
};

// The rule's alert, on every overlay open: the viewer's name as the console
// shows it, control characters made harmless.
void showAlert(const config::Alert& alert, const LiveEvent& event, const Rule& rule, int count, EventState& state) {
  const std::string viewer = console::shown(event.shownViewer(), shownNameLength);
  const std::string gift = console::shown(rule.name, shownNameLength);
  const nlohmann::json message{{"type", "alert"},      {"viewer", viewer},
                               {"gift", gift},         {"count", count},
                               {"coins", rule.coins},  {"text", alertText(alert.text, viewer, gift, count, rule.coins)},
                               {"image", alert.image}, {"seconds", alert.seconds.count()}};
  state.overlays.publish(message.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
}

// Runs the rule as many times as `wanted` and its cooldown allow, after
// telling what arrived: the first run now, the others in turn.
Reply runRule(const LiveEvent& event, const Rule& rule, int wanted, const Step& arrived, const EventRecord& record,
              const std::shared_ptr<const config::LoadedConfig>& config, const std::shared_ptr<EventState>& state,
              Clock::time_point now, Ending onCooldown) {
  const std::optional<int> none = event.plain() ? std::nullopt : std::optional<int>(0);
  const config::GiftAction& gift = rule.action;
  const int runs = state->cooldowns.admit(rule.key, gift.cooldown, wanted, now);
  if (runs == 0) {
    state->teller.tell(record, {arrived, {StepKind::OnCooldown, console::shown(rule.name)}});
    return {onCooldown, {}, none};
  }
  state->teller.tell(record, {arrived});
  if (gift.alert) showAlert(*gift.alert, event, rule, wanted, *state);
  const actions::Tell tell = [&state, &record](Step step) { state->teller.tell(record, {std::move(step)}); };
  std::shared_ptr<actions::SoundBegun> sound;
  if (!gift.sound.empty()) {
    sound = actions::playSound(rule.key, gift, now,
                               [state, record](Step step) { state->teller.tell(record, {std::move(step)}); });
  }

  Reply first{Ending::UnknownAction};
  std::string url;
  int more = runs - 1;
  if (gift.kind == config::ActionKind::Key) {
    // The console tells the sound first when it starts at once.
    if (sound) sound->waitFor(actions::keyWaitsForSound);
    first = pressOnce(rule.key, gift, now, tell);
    if (first.ending != Ending::KeyPressed) more = 0;
  } else if (gift.kind == config::ActionKind::Webhook) {
    // An address that takes the count is called once for all the runs.
    const bool takesCount = gift.target.find("{count}") != std::string::npos;
    url = actions::filledUrl(gift.target, takesCount ? runs : 1, event.viewer, rule.name);
    if (takesCount) more = 0;
    first = callOnce(url, config->token, tell);
    if (first.ending != Ending::Called) more = 0;
  } else {
    if (gift.kind == config::ActionKind::Sound) {
      first = sound ? Reply{Ending::SoundPlayed} : Reply{Ending::SoundNotFound, console::shown(gift.sound)};
    }
    more = 0;
  }
  if (more > 0) runTheRest(config, state, record, gift, more, url, now);
  const bool ranNothing = first.ending == Ending::UnknownAction || first.ending == Ending::SoundNotFound;
  if (!event.plain()) first.count = ranNothing ? 0 : runs;
  return first;
}

// What one gift's price may be, in coins: far above any real gift's, and a
// thousand of them within the type's range.
constexpr std::int64_t highestPrice = 1'000'000'000'000;

// The highest tier a gift of this value reaches, if any.
const config::GiftTier* tierOf(const config::EventTable& events, std::int64_t coins) {
  const config::GiftTier* reached = nullptr;
  for (const config::GiftTier& tier : events.giftTiers) {
    if (coins >= tier.minCoins && (!reached || tier.minCoins > reached->minCoins)) reached = &tier;
  }
  return reached;
}

Reply runGift(const LiveEvent& event, const std::shared_ptr<const config::LoadedConfig>& config,
              const std::shared_ptr<EventState>& state, Source source, Clock::time_point now,
              GiftCounter::Counted& counted) {
  const std::string name = console::shown(event.name);
  const std::string viewer = console::shown(event.shownViewer());
  EventRecord record{0, source, event.name, viewer, event.plain() ? -1 : 0};
  const std::optional<int> none = event.plain() ? std::nullopt : std::optional<int>(0);
  if (event.name.empty()) {
    record.number = state->nextNumber();
    state->teller.tell(record, {{StepKind::Received, name, viewer}});
    return {Ending::EmptyName, {}, none};
  }
  const auto found = config->gifts.find(event.name);
  // Nothing is remembered of a gift that no rule of the file may run: a
  // relay cannot fill the memory with made-up names, ids and viewers.
  if (found == config->gifts.end() && config->events.giftTiers.empty()) {
    const int gifts = GiftCounter::giftsUnremembered(event);
    counted = {gifts, false, gifts};
  } else {
    counted = state->counter.count(event, now);
  }
  record.number = state->nextNumber();
  record.count = event.plain() ? -1 : counted.gifts;
  state->tally.arrived(counted.gifts, now);
  if (counted.alreadyCounted) {
    state->teller.tell(record, {{StepKind::AlreadyCounted, name, viewer, counted.total}});
    return {Ending::AlreadyCounted, {}, 0};
  }
  const std::int64_t coins = std::min(event.diamonds.value_or(0), highestPrice) * counted.gifts;
  state->session.gifts(console::shown(event.name, shownNameLength), viewer, counted.gifts, coins);
  const Step received{StepKind::Received, name, viewer, event.plain() ? 0 : counted.gifts};
  if (found != config->gifts.end()) {
    return runRule(event, {found->second, event.name, event.name, coins}, counted.gifts, received, record, config,
                   state, now, Ending::OnCooldown);
  }
  if (const config::GiftTier* tier = tierOf(config->events, coins)) {
    const Step reached{StepKind::TierGiftReceived, name, viewer, counted.gifts, {}, coins, tier->minCoins};
    const Rule rule{tier->action, "events.giftTiers." + std::to_string(tier->minCoins), event.name, coins};
    return runRule(event, rule, 1, reached, record, config, state, now, Ending::OnCooldown);
  }
  state->tally.unconfigured(console::shown(event.name, shownNameLength), counted.gifts);
  state->teller.tell(record, {received, {StepKind::NotConfigured, name}});
  return {Ending::NotConfigured, {}, none};
}

// Every event that is not a gift: follows, shares, likes, chat...
Reply runEvent(const LiveEvent& event, const std::shared_ptr<const config::LoadedConfig>& config,
               const std::shared_ptr<EventState>& state, Source source, Clock::time_point now) {
  const config::EventTable& events = config->events;
  const std::string viewer = console::shown(event.shownViewer());
  const std::string word =
      event.kind == EventKind::Unknown ? console::shown(event.kindName) : std::string(kindWord(event.kind));
  EventRecord record{state->nextNumber(), source, word, viewer, event.plain() ? -1 : 1, kindWord(event.kind)};
  const std::optional<int> none = event.plain() ? std::nullopt : std::optional<int>(0);
  // Join events come by the thousand: one line a minute for each kind.
  const auto notConfigured = [&]() -> Reply {
    if (state->toldKinds.firstTime({&word}, now, std::chrono::minutes(1))) {
      state->teller.tell(record, {{StepKind::EventNotConfigured, word}});
    }
    return {Ending::EventNotConfigured};
  };
  const auto run = [&](const config::GiftAction& action, const std::string& name, int wanted, const Step& arrived) {
    return runRule(event, {action, "events." + name, name}, wanted, arrived, record, config, state, now,
                   Ending::EventOnCooldown);
  };
  switch (event.kind) {
    case EventKind::Follow:
    case EventKind::Join: {
      // Once per viewer: relays send a follow again when a viewer follows
      // anew, and viewers do it on purpose.
      const bool first = event.viewer.empty() || state->viewers.firstTime({&word, &event.viewer}, now);
      if (first && event.kind == EventKind::Follow) state->session.follow();
      const auto& rule = event.kind == EventKind::Follow ? events.follow : events.join;
      if (!rule) return notConfigured();
      if (!first) {
        state->teller.tell(record, {{StepKind::EventAlreadyCounted, word, viewer}});
        return {Ending::EventAlreadyCounted, {}, none};
      }
      return run(*rule, word, 1,
                 {event.kind == EventKind::Follow ? StepKind::Followed : StepKind::Joined, word, viewer});
    }
    case EventKind::Share:
    case EventKind::Subscribe: {
      const bool share = event.kind == EventKind::Share;
      share ? state->session.share() : state->session.subscribe();
      const auto& rule = share ? events.share : events.subscribe;
      if (!rule) return notConfigured();
      return run(*rule, word, 1, {share ? StepKind::Shared : StepKind::Subscribed, word, viewer});
    }
    case EventKind::Like: {
      const auto heard = state->likes.heard(event.totalLikes, event.likes, events.likes ? events.likes->every : 0);
      state->session.likes(heard.added);
      if (!events.likes) return notConfigured();
      if (heard.steps == 0) return {Ending::LikesCounted, {}, none};
      return run(events.likes->action, "likes", heard.steps,
                 {StepKind::LikesReached, word, viewer, 0, {}, heard.total, events.likes->every});
    }
    case EventKind::Chat: {
      if (events.chat.empty()) return notConfigured();
      for (const auto& [command, rule] : events.chat) {
        if (!holdsCommand(event.text, command)) continue;
        record.name = command;
        const Step heard{StepKind::ChatCommandHeard, console::shown(command), viewer};
        if (rule.viewerCooldown.count() > 0 && !event.viewer.empty() &&
            !state->viewers.firstTime({&word, &command, &event.viewer}, now, rule.viewerCooldown)) {
          state->teller.tell(record, {heard, {StepKind::ViewerOnCooldown, console::shown(command), viewer}});
          return {Ending::EventOnCooldown, {}, none};
        }
        return runRule(event, {rule.action, "events.chat." + command, command}, 1, heard, record, config, state, now,
                       Ending::EventOnCooldown);
      }
      return {Ending::NoChatCommand, {}, none};
    }
    case EventKind::Gift:
    case EventKind::Unknown:
      break;
  }
  return notConfigured();
}

}  // namespace

void afterEvent(const std::shared_ptr<const config::LoadedConfig>& config, const std::shared_ptr<EventState>& state,
                Source source, Clock::time_point now) {
  for (const config::Goal& goal : config->goals) {
    const std::int64_t count = state->session.counted(goal);
    if (count < goal.target || !state->session.reach(goal.name)) continue;
    const std::string name = console::shown(goal.name, shownNameLength);
    EventRecord record{state->nextNumber(), source, goal.name, {}, -1, "goal"};
    const Step reached{StepKind::GoalReached, name, {}, 0, {}, count, goal.target};
    if (goal.reached) {
      runRule(LiveEvent{}, {*goal.reached, "goals." + goal.name, goal.name}, 1, reached, record, config, state, now,
              Ending::OnCooldown);
    } else {
      state->teller.tell(record, {reached});
    }
  }
  if (state->overlays.followed()) {
    state->overlays.publish(
        overlayState(*config, state->session).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
  }
}

Reply handleEvent(const RelayRequest& request, std::shared_ptr<const config::LoadedConfig> config,
                  std::shared_ptr<EventState> state, Source source, Clock::time_point now) {
  auto read = readLiveEvent(request);
  GiftCounter::Counted counted;
  Reply outcome{Ending::NoName};
  if (read) {
    outcome = read->kind == EventKind::Gift ? runGift(*read, config, state, source, now, counted)
                                            : runEvent(*read, config, state, source, now);
  } else {
    using Kind = ReadFailure::Kind;
    const ReadFailure& failure = read.failure();
    outcome = {failure.kind == Kind::NoName    ? Ending::NoName
               : failure.kind == Kind::BadJson ? Ending::BadJson
                                               : Ending::BadCount,
               failure.text};
  }
  if (read) afterEvent(config, state, source, now);
  state->requests.add({epochMs(), keptOf(request, config->secret),
                       read ? std::optional<LiveEvent>(std::move(*read)) : std::nullopt, counted, outcome});
  return outcome;
}

Reply refuseEvent(const RelayRequest& request, const config::LoadedConfig& config, EventState& state) {
  const auto read = readLiveEvent(request);
  const std::string name = read ? read->name : std::string();
  state.teller.tell({state.nextNumber(), Source::Relay, name, {}, -1}, {{StepKind::Refused, {}}});
  const Reply refused{Ending::Forbidden};
  state.requests.add({epochMs(), keptOf(request, config.secret), std::nullopt, {}, refused});
  return refused;
}

}  // namespace gifts
