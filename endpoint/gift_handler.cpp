#include "endpoint/gift_handler.hpp"

#include <httplib.h>
#include <openssl/crypto.h>
#include <openssl/sha.h>

#include <nlohmann/json.hpp>
#include <vector>

#include "actions/key_press.hpp"
#include "actions/outgoing_webhook.hpp"
#include "actions/sound.hpp"
#include "common/console.hpp"
#include "endpoint/http_server.hpp"

namespace endpoint {
namespace {

using nlohmann::json;

// A request names its gift in JSON when its type says so, charset or not.
constexpr const char* jsonType = "application/json";

// Replies carry remote and exception texts; a byte that is not UTF-8 is
// replaced rather than turning the reply into an error.
std::string serialise(const json& reply) { return reply.dump(-1, ' ', false, json::error_handler_t::replace); }

std::string errorReply(const std::string& text) { return serialise(json{{"error", text}}); }

std::string runGift(const std::string& giftName, const config::LoadedConfig& config, GiftHistory& history,
                    Source source) {
  const auto arrived = GiftHistory::Clock::now();
  const std::string name = console::shown(giftName);
  const actions::Step received{actions::StepKind::Received, name};
  if (giftName.empty()) {
    history.tell(history.nextGift(), source, giftName, {received});
    return R"({"error": "giftName not provided"})";
  }
  const std::uint64_t number = history.arrived(arrived);
  // Each pair of lines in one write: a storm of such gifts costs the console
  // half as many.
  const auto found = config.gifts.find(giftName);
  if (found == config.gifts.end()) {
    history.tell(number, source, giftName, {received, {actions::StepKind::NotConfigured, name}});
    return R"({"message": "Gift not configured"})";
  }
  if (!history.mayRun(giftName, found->second.cooldown, arrived)) {
    history.tell(number, source, giftName, {received, {actions::StepKind::OnCooldown, name}});
    return R"({"message": "Gift on cooldown"})";
  }
  history.tell(number, source, giftName, {received});
  // The history outlives every gift: the server that runs them goes first.
  const actions::Tell tell = [&history, number, source, giftName](actions::Step step) {
    history.tell(number, source, giftName, {std::move(step)});
  };

  const config::GiftAction& gift = found->second;
  if (!gift.sound.empty()) actions::playSound(gift.sound, gift.volume, arrived, tell);

  if (gift.action == "key") {
    switch (actions::pressKey(giftName, gift, arrived, tell)) {
      case actions::KeyOutcome::Pressed:
        return R"({"message": "Key pressed successfully"})";
      case actions::KeyOutcome::Unsupported:
        return errorReply("Key not supported: " + gift.target);
      case actions::KeyOutcome::QueueFull:
        return R"({"error": "Key queue full"})";
      case actions::KeyOutcome::Failed:
        break;
    }
    return R"({"error": "Keys cannot be pressed on this computer"})";
  }
  if (gift.action == "webhook") {
    const auto answer = actions::executeWebhook(gift.target, config.token, tell);
    if (!answer) return errorReply("Webhook call failed: " + answer.reason());
    return serialise(json{{"message", "Webhook executed successfully"}, {"response", *answer}});
  }
  return R"({"error": "Unknown action type"})";
}

}  // namespace

bool GiftHistory::mayRun(const std::string& gift, std::chrono::milliseconds cooldown, Clock::time_point now) {
  std::lock_guard<std::mutex> lock(mutex_);
  Runs& runs = runs_[gift];
  if (runs.count > 0 && cooldown.count() > 0 && now - runs.last < cooldown) return false;
  runs.last = now;
  ++runs.count;
  return true;
}

void GiftHistory::tell(std::uint64_t gift, Source source, const std::string& name,
                       std::initializer_list<actions::Step> steps) {
  std::vector<std::string> lines;
  std::vector<std::string_view> written;
  const auto now =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch());
  for (const actions::Step& step : steps) {
    std::string line = actions::consoleLine(step);
    feed_.add(serialise(json{{"gift", gift},
                             {"time", now.count()},
                             {"source", source == Source::Test ? "test" : "relay"},
                             {"name", name},
                             {"kind", actions::kindName(step.kind)},
                             {"line", line}}));
    if (!line.empty()) lines.push_back(std::move(line));
  }
  written.assign(lines.begin(), lines.end());
  if (!written.empty()) console::printLines(written);
}

namespace {
std::int64_t minuteOf(GiftHistory::Clock::time_point at) {
  return std::chrono::duration_cast<std::chrono::minutes>(at.time_since_epoch()).count();
}
}  // namespace

std::uint64_t GiftHistory::arrived(Clock::time_point now) {
  received_.fetch_add(1, std::memory_order_relaxed);
  const std::int64_t minute = minuteOf(now);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto& [which, count] = minutes_[static_cast<std::size_t>(minute % 60)];
    if (which != minute) which = minute, count = 0;
    ++count;
  }
  return nextGift();
}

std::array<std::uint32_t, 60> GiftHistory::perMinute(Clock::time_point now) const {
  std::array<std::uint32_t, 60> counts{};
  const std::int64_t last = minuteOf(now);
  std::lock_guard<std::mutex> lock(mutex_);
  for (std::int64_t minute = last - 59; minute <= last; ++minute) {
    const auto& [which, count] = minutes_[static_cast<std::size_t>(((minute % 60) + 60) % 60)];
    if (which == minute) counts[static_cast<std::size_t>(minute - (last - 59))] = count;
  }
  return counts;
}

std::uint64_t GiftHistory::runs(const std::string& gift) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto found = runs_.find(gift);
  return found == runs_.end() ? 0 : found->second.count;
}

std::string handleGift(const GiftRequest& request, const config::LoadedConfig& config, GiftHistory& history,
                       Source source) {
  try {
    std::string giftName;
    if (request.contentType.find(jsonType) != std::string::npos) {
      const json document = json::parse(request.body);
      giftName = document.value("giftName", "");
    } else {
      if (!request.giftNameParameter) return R"({"error": "giftName parameter not found"})";
      giftName = *request.giftNameParameter;
    }
    return runGift(giftName, config, history, source);
  } catch (const std::exception& e) {
    return errorReply(e.what());
  }
}

bool carriesSecret(const GiftRequest& request, const std::string& secret) {
  if (secret.empty()) return true;
  std::vector<std::string> offered;
  if (request.secretHeader) offered.push_back(*request.secretHeader);
  if (request.secretParameter) offered.push_back(*request.secretParameter);
  if (request.contentType.find(jsonType) != std::string::npos) {
    const json document = json::parse(request.body, nullptr, false);
    if (document.is_object()) {
      const auto member = document.find("secret");
      if (member != document.end() && member->is_string()) offered.push_back(member->get<std::string>());
    }
  }
  // Digests of equal length, compared in constant time: how long the
  // comparison takes tells nothing of the secret, its length included.
  unsigned char expected[SHA256_DIGEST_LENGTH];
  SHA256(reinterpret_cast<const unsigned char*>(secret.data()), secret.size(), expected);
  bool found = false;
  for (const std::string& text : offered) {
    unsigned char given[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char*>(text.data()), text.size(), given);
    found |= CRYPTO_memcmp(given, expected, sizeof(expected)) == 0;
  }
  return found;
}

void serveGift(const httplib::Request& req, httplib::Response& res, const config::LoadedConfig& config,
               GiftHistory& history) {
  GiftRequest request{req.get_header_value("Content-Type"), req.body, std::nullopt, std::nullopt, std::nullopt};
  if (req.has_param("giftName")) request.giftNameParameter = req.get_param_value("giftName");
  if (req.has_header("X-Webhook-Secret")) request.secretHeader = req.get_header_value("X-Webhook-Secret");
  if (req.has_param("secret")) request.secretParameter = req.get_param_value("secret");
  if (!carriesSecret(request, config.secret)) {
    history.tell(history.nextGift(), Source::Relay, request.giftNameParameter.value_or(""),
                 {{actions::StepKind::Refused, {}}});
    res.status = 403;
    res.set_content(R"({"error": "Forbidden"})", jsonReplyType);
    return;
  }
  res.set_content(handleGift(request, config, history), jsonReplyType);
}

void registerRoutes(HttpServer& server, std::shared_ptr<config::LiveConfig> config,
                    std::shared_ptr<GiftHistory> history) {
  server.set_payload_max_length(maxRequestBodyBytes);
  server.Post("/webhook", [config, history](const httplib::Request& req, httplib::Response& res) {
    serveGift(req, res, *config->current(), *history);
  });
  server.Options("/webhook", [](const httplib::Request&, httplib::Response& res) {
    res.set_header("Access-Control-Allow-Methods", "POST, OPTIONS");
    res.set_header("Access-Control-Allow-Headers", "Content-Type, X-Webhook-Secret");
    res.status = 200;
  });
  // A relay running in a web page reads its reply only when the reply allows
  // the page's origin, refusals (413, 403) included; the preflight alone
  // does not do.
  server.set_post_routing_handler([](const httplib::Request& req, httplib::Response& res) {
    if (req.path == "/webhook") res.set_header("Access-Control-Allow-Origin", "*");
  });
}

}  // namespace endpoint
