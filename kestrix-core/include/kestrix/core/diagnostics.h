// Structured diagnostic events (level, target, message). The tool installs
// no consumer; code that emits events takes an optional sink so tests can
// observe them.
#pragma once

#include <string>

namespace kestrix::core {

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

inline void emit(EventSink* sink, Level level, std::string target, std::string message) {
  if (sink) sink->emit(Event{level, std::move(target), std::move(message)});
}

}  // namespace kestrix::core
