#include "kestrix/log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>

namespace kestrix::log {

std::optional<Level> parse_level(std::string_view text) {
  if (text == "error") return Level::Error;
  if (text == "warn") return Level::Warn;
  if (text == "info") return Level::Info;
  if (text == "debug") return Level::Debug;
  return std::nullopt;
}

std::string_view level_name(Level level) {
  switch (level) {
    case Level::Trace: return "TRACE";
    case Level::Debug: return "DEBUG";
    case Level::Info: return "INFO";
    case Level::Warn: return "WARN";
    case Level::Error: return "ERROR";
  }
  return "?";
}

namespace {

void append_escaped(std::string& out, std::string_view message) {
  static constexpr char HEX[] = "0123456789abcdef";
  for (const char ch : message) {
    const auto byte = static_cast<unsigned char>(ch);
    if (ch == '\\') {
      out += "\\\\";
    } else if (ch == '\n') {
      out += "\\n";
    } else if (ch == '\r') {
      out += "\\r";
    } else if (ch == '\t') {
      out += "\\t";
    } else if (byte < 0x20 || byte == 0x7F) {
      out += "\\x";
      out += HEX[byte >> 4];
      out += HEX[byte & 0xF];
    } else {
      out += ch;
    }
  }
}

}  // namespace

std::string format_line(std::string_view program, const Event& event) {
  const std::string_view level = level_name(event.level);
  std::string line;
  line.reserve(program.size() + level.size() + event.target.size() + event.message.size() + 6);
  line += program;
  line += ": ";
  line += level;
  line += ' ';
  line += event.target;
  line += ": ";
  append_escaped(line, event.message);
  line += '\n';
  return line;
}

void Logger::emit(const Event& event) noexcept {
  if (!enabled(event.level)) return;
  try {
    write_line(fd_, format_line(program_, event));
  } catch (...) {
    // Only allocation can fail here; the line is dropped.
  }
}

Logger& process_logger() noexcept {
  // Read once: the threshold is fixed for the whole run. A standard error
  // that was closed at start means no log at all: the descriptor number may
  // later be handed to a file or pipe we open, which must not get our lines.
  static Logger logger = [] {
    const char* value = std::getenv(LEVEL_VARIABLE);
    const bool stderr_open = ::fcntl(STDERR_FILENO, F_GETFD) >= 0;
    return Logger(value && stderr_open ? parse_level(value) : std::nullopt, STDERR_FILENO);
  }();
  return logger;
}

}  // namespace kestrix::log
