// Writes JSON documents in the report layout: two-space indentation, one
// member per line, `{}` and `[]` for empty containers, floats in their
// shortest round-trip form and null when not finite.
//
// Callers emit object members in ascending byte order of their keys; the
// members of nlohmann::json objects already are.
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

class Writer {
 public:
  explicit Writer(Sink& sink) : sink_(sink) {}
  Writer(const Writer&) = delete;
  Writer& operator=(const Writer&) = delete;

  void begin_object();
  void end_object();
  void begin_array();
  void end_array();
  void key(std::string_view name);

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

  Sink& sink_;
  std::string buf_;
  std::vector<bool> has_members_;  // one entry per open container
  bool after_key_ = false;
};

// The whole value as a document text, line feed included.
std::string render(const nlohmann::json& value);

}  // namespace kestrix::json
