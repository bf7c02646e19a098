#pragma once

#include <chrono>
#include <memory>

#include "config/config_file.hpp"
#include "gifts/event_state.hpp"
#include "gifts/feed.hpp"
#include "gifts/live_event.hpp"
#include "gifts/reply.hpp"

namespace gifts {

using Clock = std::chrono::steady_clock;

// One request of the relay, or of the page's test, from its fields to what
// became of it: reads the gift event, counts it, and runs the gift as many
// times as it counts for. The gift's sound plays once; the first gift runs
// before this returns, so that the outcome tells what became of it, and the
// others run on in turn afterwards. Each request is logged for the page.
Reply handleEvent(const RelayRequest& request, std::shared_ptr<const config::LoadedConfig> config,
                  std::shared_ptr<EventState> state, Source source, Clock::time_point now = Clock::now());

// What an event changed beyond its own rule: the goals it reached run
// theirs, once a session, and the overlays get the session's new figures.
// Also after the streamer begins a new session.
void afterEvent(const std::shared_ptr<const config::LoadedConfig>& config, const std::shared_ptr<EventState>& state,
                Source source, Clock::time_point now = Clock::now());

// A request that did not carry the secret: told and logged, nothing read.
Reply refuseEvent(const RelayRequest& request, const config::LoadedConfig& config, EventState& state);

}  // namespace gifts
