#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "common/thread_safety.hpp"

namespace endpoint {

// What the page's guard reads of a request.
struct PageRequest {
  std::string peer{};                   // the connection's address
  std::string host{};                   // the Host header, empty when absent
  std::optional<std::string> origin{};  // the Origin header
  std::optional<std::string> token{};   // the X-Page-Token header
  bool api = false;                     // a call of the page's (/api/...), not one of its files
  std::optional<std::string> key{};     // an overlay's ?key=
};

enum class PageRefusal {
  None,
  NotThisMachine,  // the peer is not a loopback address
  WrongHost,       // DNS rebinding: a name that points here, or none
  WrongOrigin,     // a call sent by another site's page
  NoToken,         // a call without the token that only the page knows
  NoOverlayKey,    // an overlay asked from another computer without the file's key
};

// The control page and everything it calls answer this machine alone, under
// its own name: a site on the network, or one whose name points to
// 127.0.0.1, must not read the gifts nor change them. Each call of the
// page's also needs the page's token (a site's page could otherwise take
// the feed's places with requests it cannot even read), and its Origin, when
// the browser sends one, must be the page's own.
PageRefusal pageRefusal(const PageRequest& request, int port, std::string_view token);

// The overlays, read-only, answer this machine under the page's names, and
// another computer (OBS on a second streaming PC) at one of this machine's
// addresses by number (a name could point anywhere) when the address
// carries the file's `overlayKey`; none is answered from the network while
// the file has none. A stream's Origin, when the browser sends one, is the
// overlay's own: no other site reads what they show.
PageRefusal overlayRefusal(const PageRequest& request, int port, std::string_view overlayKey);

// The page's own origin as the browser names it, for the address it was
// opened at (localhost, 127.0.0.1 or [::1]).
bool isPageOrigin(std::string_view origin, int port);

// This machine: a 127.0.0.0/8 address or ::1, in either form a socket gives.
// The page answers it alone, and the connection limits never hold it back.
bool isLoopback(std::string_view ip);

// Says a refused address at most once a minute, and counts the rest, so that
// the network cannot push the gifts' lines out of the console.
class RefusedAddresses {
 public:
  // Addresses remembered at most; beyond, one that is new is not said.
  static constexpr std::size_t kept = 1000;

  // When a refusal of `address` at `now` is to be said: how many refusals of
  // it went unsaid since it was last said. Nothing when it was said less than
  // a minute ago.
  std::optional<std::size_t> toSay(const std::string& address, std::chrono::steady_clock::time_point now);

 private:
  struct Said {
    std::chrono::steady_clock::time_point at;
    std::size_t unsaid = 0;
  };
  Mutex mutex_;
  std::map<std::string, Said> said_ GUARDED_BY(mutex_);
};

}  // namespace endpoint
