#include "common/json_io.hpp"

#include <nlohmann/json.hpp>

namespace common {
namespace {

using nlohmann::json;

// Counts levels as the library reads, and stops it at the first too many.
class DepthWatch final : public nlohmann::json_sax<json> {
 public:
  bool tooDeep = false;

  bool null() override { return true; }
  bool boolean(bool) override { return true; }
  bool number_integer(number_integer_t) override { return true; }
  bool number_unsigned(number_unsigned_t) override { return true; }
  bool number_float(number_float_t, const string_t&) override { return true; }
  bool string(string_t&) override { return true; }
  bool binary(binary_t&) override { return true; }
  bool key(string_t&) override { return true; }
  bool start_object(std::size_t) override { return open(); }
  bool start_array(std::size_t) override { return open(); }
  bool end_object() override { return close(); }
  bool end_array() override { return close(); }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override { return false; }

 private:
  bool open() {
    tooDeep = ++depth_ > maxJsonNesting;
    return !tooDeep;
  }
  bool close() {
    --depth_;
    return true;
  }
  std::size_t depth_ = 0;
};

}  // namespace

bool nestingAllowed(std::string_view text) {
  DepthWatch watch;
  json::sax_parse(text, &watch, json::input_format_t::json, false);
  return !watch.tooDeep;
}

std::string jsonText(const nlohmann::json& value) {
  return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace common
