#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include "config/gift_action.hpp"

namespace httplib {
struct Request;
struct Response;
}  // namespace httplib

namespace endpoint {

class GiftServer;

// A request body larger than this is refused (413) before any handler runs.
inline constexpr std::size_t maxRequestBodyBytes = 64 * 1024;

// What the gift handler reads of a POST /webhook request.
struct GiftRequest {
  std::string contentType;
  std::string body;
  std::optional<std::string> giftNameParameter;  // first query or form value
};

// Reads the gift's name, prints it, plays its sound and runs its action.
// Answers the JSON reply body; every reply goes out with status 200.
std::string handleGift(const GiftRequest& request, const config::GiftTable& gifts);

// The gift handler as the server runs it: reads the request as the library
// parsed it (header, body, query and form fields) and sets the reply.
void serveGift(const httplib::Request& req, httplib::Response& res, const config::GiftTable& gifts);

// POST /webhook (the gift handler) and OPTIONS /webhook (CORS preflight),
// and the request size limit. The handler keeps the table, and whatever owns
// it, alive.
void registerRoutes(GiftServer& server, std::shared_ptr<const config::GiftTable> gifts);

}  // namespace endpoint
