#include "kestrix/json/record.h"

namespace kestrix::json::detail {

bool invalid_length(Reader& r, std::size_t given, std::string_view name, std::size_t count) {
  std::string message = "invalid length " + std::to_string(given) + ", expected struct ";
  message += name;
  message += " with " + std::to_string(count) + (count == 1 ? " element" : " elements");
  return r.close_array(&message);
}

bool duplicate_field(Reader& r, std::string_view key) {
  std::string message = "duplicate field `";
  message += key;
  message += '`';
  return r.close_object(&message);
}

bool missing_field(Reader& r, std::string_view key) {
  std::string message = "missing field `";
  message += key;
  message += '`';
  return r.close_object(&message);
}

}  // namespace kestrix::json::detail
