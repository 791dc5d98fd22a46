// Writes JSON documents in the report layout: two-space indentation, one
// member per line, `{}` and `[]` for empty containers, floats in their
// shortest round-trip form and null when not finite.
//
// Callers emit object members in ascending byte order of their keys; the
// members of nlohmann::json objects already are, and record tables sort
// theirs (record.h). Tests have every writer check it: check_key_order().
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace kestrix::json {

// Where rendered text goes, in pieces of any size.
class Sink {
 public:
  virtual ~Sink() = default;
  virtual void write(std::string_view text) = 0;
};

class StringSink final : public Sink {
 public:
  void write(std::string_view text) override { text_ += text; }
  std::string& text() { return text_; }

 private:
  std::string text_;
};

// Called for a key that does not come after the previous key of its object
// in byte order.
using KeyOrderFault = void (*)(std::string_view previous, std::string_view key);

// Writers made from now on report misordered keys to `fault`; null, the
// program's setting, turns the check off. Meant for tests.
void check_key_order(KeyOrderFault fault);

class Writer {
 public:
  explicit Writer(Sink& sink);
  Writer(const Writer&) = delete;
  Writer& operator=(const Writer&) = delete;

  void begin_object();
  void end_object();
  void begin_array();
  void end_array();
  void key(std::string_view name);
  // A key that holds no byte needing an escape, written without looking.
  void plain_key(std::string_view name);

  void null();
  void boolean(bool value);
  void u64(std::uint64_t value);
  void i64(std::int64_t value);
  void f64(double value);  // null when not finite
  void string(std::string_view value);
  void value(const nlohmann::json& value);

  // Ends the document with a line feed and hands everything to the sink.
  void finish();

 private:
  void before_value();
  void open(char bracket);
  void close(char bracket);
  void newline_indent();
  void quote(std::string_view text);
  void flush_if_large();
  void check_order(std::string_view key);

  Sink& sink_;
  std::string buf_;
  std::vector<bool> has_members_;  // one entry per open container
  bool after_key_ = false;
  KeyOrderFault order_fault_;
  std::vector<std::string> last_keys_;  // per open container, when checking
};

// The whole value as a document text, line feed included.
std::string render(const nlohmann::json& value);

}  // namespace kestrix::json
