#pragma once

#include <cstddef>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

namespace common {

// The deepest nesting of arrays and objects the program takes from outside
// (a request, the configuration file). The library reads any depth, but
// copying or writing out a value recurses once per level: a few thousand
// levels end the program on a worker's stack.
inline constexpr std::size_t maxJsonNesting = 64;

// False when the first JSON value of `text` opens more than maxJsonNesting
// arrays and objects inside one another before it ends or stops being JSON;
// text that is not JSON at all is left for the reader to refuse in its words.
bool nestingAllowed(std::string_view text);

// The JSON value that is the whole of `text`; discarded when it is not JSON
// or nests deeper than maxJsonNesting.
template <class Json = nlohmann::json>
Json parsedJson(std::string_view text) {
  return nestingAllowed(text) ? Json::parse(text, nullptr, false) : Json(Json::value_t::discarded);
}

// `value` as compact text; a string that is not UTF-8 has its bad bytes
// replaced rather than making the whole text fail.
std::string jsonText(const nlohmann::json& value);

}  // namespace common
