#include "endpoint/page_access.hpp"

#include <openssl/crypto.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <utility>

#include "common/thread_safety.hpp"

namespace endpoint {
namespace {

constexpr std::array<std::string_view, 3> pageHosts = {"localhost", "127.0.0.1", "[::1]"};

bool sameLetters(std::string_view a, std::string_view b) {
  return std::ranges::equal(a, b, [](unsigned char x, unsigned char y) { return std::tolower(x) == std::tolower(y); });
}

// "name:port" for one of the page's names; the browser leaves out port 80.
bool isPageAuthority(std::string_view authority, int port) {
  const std::string suffix = ":" + std::to_string(port);
  if (authority.ends_with(suffix)) {
    authority.remove_suffix(suffix.size());
  } else if (port != 80) {
    return false;
  }
  return std::ranges::any_of(pageHosts, [&](std::string_view name) { return sameLetters(authority, name); });
}

bool sameToken(std::string_view given, std::string_view token) {
  return given.size() == token.size() && CRYPTO_memcmp(given.data(), token.data(), token.size()) == 0;
}

// "192.168.1.20:5000" or "[fe80::1]:5000": an address by number, on the
// program's port.
bool isAddressAuthority(std::string_view authority, int port) {
  const std::string suffix = ":" + std::to_string(port);
  if (!authority.ends_with(suffix)) return false;
  authority.remove_suffix(suffix.size());
  if (authority.size() > 2 && authority.front() == '[' && authority.back() == ']') {
    return authority.substr(1, authority.size() - 2).find_first_not_of("0123456789abcdefABCDEF:.") ==
           std::string_view::npos;
  }
  return !authority.empty() && authority.find_first_not_of("0123456789.") == std::string_view::npos &&
         std::ranges::count(authority, '.') == 3;
}

}  // namespace

bool isLoopback(std::string_view ip) {
  if (ip.starts_with("::ffff:")) ip.remove_prefix(7);
  return ip.starts_with("127.") || ip == "::1";
}

bool isPageOrigin(std::string_view origin, int port) {
  return origin.starts_with("http://") && isPageAuthority(origin.substr(7), port);
}

PageRefusal pageRefusal(const PageRequest& request, int port, std::string_view token) {
  if (!isLoopback(request.peer)) return PageRefusal::NotThisMachine;
  if (!isPageAuthority(request.host, port)) return PageRefusal::WrongHost;
  if (!request.api) return PageRefusal::None;
  if (request.origin && !isPageOrigin(*request.origin, port)) return PageRefusal::WrongOrigin;
  if (!request.token || !sameToken(*request.token, token)) return PageRefusal::NoToken;
  return PageRefusal::None;
}

PageRefusal overlayRefusal(const PageRequest& request, int port, std::string_view overlayKey) {
  const bool keyed = !overlayKey.empty() && request.key && sameToken(*request.key, overlayKey);
  if (!isLoopback(request.peer) && !keyed) return PageRefusal::NoOverlayKey;
  const bool named = isLoopback(request.peer) && isPageAuthority(request.host, port);
  if (!named && !(keyed && isAddressAuthority(request.host, port))) return PageRefusal::WrongHost;
  if (request.origin && !sameLetters(*request.origin, "http://" + request.host)) return PageRefusal::WrongOrigin;
  return PageRefusal::None;
}

std::optional<std::size_t> RefusedAddresses::toSay(const std::string& address,
                                                   std::chrono::steady_clock::time_point now) {
  constexpr std::chrono::minutes quiet{1};
  MutexLock lock(mutex_);
  if (said_.size() >= kept && !said_.contains(address)) {
    std::erase_if(said_, [&](const auto& entry) { return now - entry.second.at >= quiet; });
    if (said_.size() >= kept) return std::nullopt;
  }
  const auto [entry, isNew] = said_.try_emplace(address, Said{now, 0});
  if (isNew) return 0;
  Said& said = entry->second;
  if (now - said.at < quiet) {
    ++said.unsaid;
    return std::nullopt;
  }
  said.at = now;
  return std::exchange(said.unsaid, 0);
}

}  // namespace endpoint
