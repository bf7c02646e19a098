#pragma once

// Addresses between their text and the form the socket calls take, the same
// on both systems. Include after the system's socket headers.

#include <string>

#include "platform/sockets.hpp"

namespace platform {

// The numeric IPv4 or IPv6 address and the port; false for any other text.
bool fillAddress(const std::string& address, int port, sockaddr_storage& storage, socklen_t& length);

}  // namespace platform
