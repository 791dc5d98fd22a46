// Diagnostic events (level, target, message). Most failures are absorbed
// into data; an administrator who sets NIMBREL_TOP_LOG to a level sees each
// event of that level or above on standard error, one line each:
//
//   nimbrel-top: WARN kestrix_cli::driver: <message>
//
// Without the variable (or with an empty or unknown value) nothing is
// written and nothing of the run changes. A line that cannot be written is
// dropped; logging never raises SIGPIPE, never throws, never fails a run.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kestrix::log {

inline constexpr std::string_view PROGRAM = "nimbrel-top";
inline constexpr const char* LEVEL_VARIABLE = "NIMBREL_TOP_LOG";

enum class Level { Trace, Debug, Info, Warn, Error };

struct Event {
  Level level;
  std::string target;
  std::string message;
};

class EventSink {
 public:
  virtual ~EventSink() = default;
  virtual void emit(const Event& event) = 0;
};

// For code that takes an optional sink, so tests can observe its events.
inline void emit(EventSink* sink, Level level, std::string target, std::string message) {
  if (sink) sink->emit(Event{level, std::move(target), std::move(message)});
}

// The threshold a NIMBREL_TOP_LOG value names: exactly "error", "warn",
// "info" or "debug". Anything else, the empty text included, names none.
std::optional<Level> parse_level(std::string_view text);

// "ERROR", "WARN", "INFO", "DEBUG", "TRACE".
std::string_view level_name(Level level);

// One line: program ": " LEVEL " " target ": " message "\n". Control
// characters of the message are escaped (\n, \r, \t, \xHH) and so is the
// backslash (\\), so one event is always exactly one line.
std::string format_line(std::string_view program, const Event& event);

// Writes `line` with a single write(2). Any failure is ignored; a closed
// pipe raises no SIGPIPE (it is blocked around the write and a pending one
// of ours consumed). errno is left as it was.
void write_line(int fd, std::string_view line) noexcept;

// Writes the events at or above a threshold to a descriptor.
class Logger final : public EventSink {
 public:
  Logger(std::optional<Level> threshold, int fd, std::string_view program = PROGRAM)
      : threshold_(threshold), fd_(fd), program_(program) {}

  bool enabled(Level level) const noexcept { return threshold_ && level >= *threshold_; }
  // Never throws: a line that cannot even be built is dropped.
  void emit(const Event& event) noexcept override;

 private:
  const std::optional<Level> threshold_;
  const int fd_;
  const std::string_view program_;
};

// The process's logger: standard error, threshold read from NIMBREL_TOP_LOG
// on first use and fixed from then on (none when standard error is closed
// at that moment). The program calls it first thing, before it opens
// anything that could take a closed standard error's descriptor number.
Logger& process_logger() noexcept;

inline bool enabled(Level level) noexcept { return process_logger().enabled(level); }

// Logs through the process logger. The message is built only when its
// level is enabled, so a silent run pays nothing and allocates nothing.
template <class MakeMessage>
void event(Level level, std::string_view target, MakeMessage&& make_message) noexcept {
  if (!enabled(level)) return;
  try {
    process_logger().emit(Event{level, std::string(target), make_message()});
  } catch (...) {
    // Out of memory while describing a failure: the failure stays absorbed.
  }
}

}  // namespace kestrix::log
