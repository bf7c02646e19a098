// Everything the program reads from outside, fed with fuzzed bytes: the
// first byte says which reader, the rest is the input. A crash, an exception
// or a broken promise (an abort) is a finding.
#include <nlohmann/json.hpp>

#include "actions/key_press.hpp"
#include "actions/outgoing_webhook.hpp"
#include "config/config_file.hpp"
#include "config/first_run.hpp"
#include "endpoint/webhook_endpoint.hpp"
#include "recording_platform.hpp"

#define FUZZ_CHECK(condition) \
  if (!(condition)) std::abort()

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  switch (data[0] % 4) {
    case 0: {  // the configuration file, and the first run's file for a typed token
      const auto parsed = config::parseConfig(text);
      if (const auto* problem = std::get_if<config::ConfigProblem>(&parsed)) FUZZ_CHECK(!problem->cause.empty());
      if (config::isUtf8(text)) {
        const auto created = config::parseConfig(config::defaultConfigText(text));
        const auto* loaded = std::get_if<config::LoadedConfig>(&created);
        FUZZ_CHECK(loaded != nullptr && loaded->token == text && loaded->gifts.size() == 7);
      }
      break;
    }
    case 1:  // a key target; nothing is pressed on the recording keyboard
      if (const auto chord = actions::parseKeyTarget(text)) FUZZ_CHECK(!chord->empty() && chord->size() <= 5);
      break;
    case 2: {  // an address and a redirect from it
      const auto split = actions::splitUrl(text);
      if (const auto* url = std::get_if<actions::SplitUrl>(&split))
        actions::redirectTarget(*url, text.substr(size / 2));
      break;
    }
    default: {  // a request's body, as JSON and as its name and secret
      static const config::GiftTable gifts{{"Rose", {"key", "g", "", 100, std::chrono::milliseconds(0)}},
                                           {"x", {"sound", "x", "", 100}}};
      static endpoint::Cooldowns cooldowns;
      const endpoint::GiftRequest request{"application/json", text, text, text, text};
      endpoint::carriesSecret(request, "s");
      FUZZ_CHECK(nlohmann::json::accept(endpoint::handleGift(request, gifts, cooldowns)));
      FUZZ_CHECK(nlohmann::json::accept(endpoint::handleGift({"text/plain", text, text, {}, {}}, gifts, cooldowns)));
    }
  }
  return 0;
}
