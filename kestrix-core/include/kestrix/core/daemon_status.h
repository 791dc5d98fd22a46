// Whether the statistics daemon is alive, from its pid file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kestrix::core {

inline constexpr const char* DAEMON_PID_PATH = "/var/run/kestrix.pid";

enum class DaemonStatus { Running, Stopped, DeadButLocked };

DaemonStatus daemon_status(const std::string& pid_file_path);

// The process id a pid file names: its trimmed text as a positive 32-bit
// decimal; nothing for anything else.
std::optional<std::int32_t> pid_in_pid_file(std::string_view text);

// "Kestrix is stopped", "Kestrix is dead but subsys locked"; empty for Running.
std::string_view daemon_status_text(DaemonStatus status);

}  // namespace kestrix::core
