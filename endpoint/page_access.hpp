#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace endpoint {

// What the page's guard reads of a request.
struct PageRequest {
  std::string peer{};                   // the connection's address
  std::string host{};                   // the Host header, empty when absent
  std::optional<std::string> origin{};  // the Origin header
  std::optional<std::string> token{};   // the X-Page-Token header
  bool changes = false;                 // a call of the page's other than GET and HEAD
};

enum class PageRefusal {
  None,
  NotThisMachine,  // the peer is not a loopback address
  WrongHost,       // DNS rebinding: a name that points here, or none
  WrongOrigin,     // a change sent by another site's page
  NoToken,         // a change without the token that only the page knows
};

// The control page and everything it calls answer this machine alone, under
// its own name: a site on the network, or one whose name points to
// 127.0.0.1, must not read the gifts nor change them. A change also needs
// the page's token, and its Origin, when the browser sends one, must be the
// page's own.
PageRefusal pageRefusal(const PageRequest& request, int port, std::string_view token);

// The page's own origin as the browser names it, for the address it was
// opened at (localhost, 127.0.0.1 or [::1]).
bool isPageOrigin(std::string_view origin, int port);

// A 127.0.0.0/8 address or ::1, in either form a socket gives.
bool isLoopback(std::string_view ip);

}  // namespace endpoint
