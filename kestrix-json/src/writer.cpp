#include "kestrix/json/writer.h"

#include <charconv>
#include <cmath>

#include "kestrix/json/numbers.h"

namespace kestrix::json {

namespace {
constexpr std::size_t FLUSH_AT = 1 << 16;
KeyOrderFault key_order_fault = nullptr;
}  // namespace

void check_key_order(KeyOrderFault fault) { key_order_fault = fault; }

Writer::Writer(Sink& sink) : sink_(sink), order_fault_(key_order_fault) {}

void Writer::newline_indent() {
  buf_ += '\n';
  buf_.append(2 * has_members_.size(), ' ');
}

// Places the separator and line break that go before a member or element.
void Writer::before_value() {
  if (after_key_) {
    after_key_ = false;
    return;
  }
  if (!has_members_.empty()) {
    if (has_members_.back()) buf_ += ',';
    has_members_.back() = true;
    newline_indent();
  }
}

void Writer::open(char bracket) {
  before_value();
  buf_ += bracket;
  has_members_.push_back(false);
  if (order_fault_) last_keys_.emplace_back();
}

void Writer::close(char bracket) {
  bool had_members = has_members_.back();
  has_members_.pop_back();
  if (order_fault_) last_keys_.pop_back();
  if (had_members) newline_indent();
  buf_ += bracket;
  flush_if_large();
}

void Writer::begin_object() { open('{'); }
void Writer::end_object() { close('}'); }
void Writer::begin_array() { open('['); }
void Writer::end_array() { close(']'); }

void Writer::key(std::string_view name) {
  if (order_fault_) check_order(name);
  before_value();
  quote(name);
  buf_ += ": ";
  after_key_ = true;
}

void Writer::plain_key(std::string_view name) {
  if (order_fault_) check_order(name);
  before_value();
  buf_ += '"';
  buf_ += name;
  buf_ += "\": ";
  after_key_ = true;
}

void Writer::check_order(std::string_view key) {
  std::string& last = last_keys_.back();
  // string_view compares as unsigned bytes, the order the keys go in.
  if (has_members_.back() && !(std::string_view(last) < key)) order_fault_(last, key);
  last = key;
}

void Writer::null() {
  before_value();
  buf_ += "null";
}

void Writer::boolean(bool value) {
  before_value();
  buf_ += value ? "true" : "false";
}

void Writer::u64(std::uint64_t value) {
  before_value();
  char digits[24];
  auto res = std::to_chars(digits, digits + sizeof digits, value);
  buf_.append(digits, res.ptr);
}

void Writer::i64(std::int64_t value) {
  before_value();
  char digits[24];
  auto res = std::to_chars(digits, digits + sizeof digits, value);
  buf_.append(digits, res.ptr);
}

void Writer::f64(double value) {
  before_value();
  if (!std::isfinite(value)) {
    buf_ += "null";
    return;
  }
  append_f64(buf_, value);
}

void Writer::string(std::string_view value) {
  before_value();
  quote(value);
}

void Writer::quote(std::string_view value) {
  static const char hex[] = "0123456789abcdef";
  buf_ += '"';
  std::size_t run = 0;
  for (std::size_t i = 0; i < value.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(value[i]);
    if (c >= 0x20 && c != '"' && c != '\\') continue;
    buf_.append(value.data() + run, i - run);
    run = i + 1;
    switch (c) {
      case '"': buf_ += "\\\""; break;
      case '\\': buf_ += "\\\\"; break;
      case '\b': buf_ += "\\b"; break;
      case '\f': buf_ += "\\f"; break;
      case '\n': buf_ += "\\n"; break;
      case '\r': buf_ += "\\r"; break;
      case '\t': buf_ += "\\t"; break;
      default:
        buf_ += "\\u00";
        buf_ += hex[c >> 4];
        buf_ += hex[c & 0xF];
    }
  }
  buf_.append(value.data() + run, value.size() - run);
  buf_ += '"';
}

void Writer::value(const nlohmann::json& v) {
  using T = nlohmann::json::value_t;
  switch (v.type()) {
    case T::null:
    case T::discarded:
    case T::binary: null(); return;
    case T::boolean: boolean(v.get<bool>()); return;
    case T::number_unsigned: u64(v.get<std::uint64_t>()); return;
    case T::number_integer: i64(v.get<std::int64_t>()); return;
    case T::number_float: f64(v.get<double>()); return;
    case T::string: string(v.get_ref<const std::string&>()); return;
    case T::array:
      begin_array();
      for (const auto& element : v) value(element);
      end_array();
      return;
    case T::object:
      begin_object();
      for (const auto& [k, member] : v.items()) {
        key(k);
        value(member);
      }
      end_object();
      return;
  }
}

void Writer::flush_if_large() {
  if (buf_.size() >= FLUSH_AT) {
    sink_.write(buf_);
    buf_.clear();
  }
}

void Writer::finish() {
  buf_ += '\n';
  sink_.write(buf_);
  buf_.clear();
}

std::string render(const nlohmann::json& value) {
  StringSink sink;
  Writer w(sink);
  w.value(value);
  w.finish();
  return std::move(sink.text());
}

}  // namespace kestrix::json
