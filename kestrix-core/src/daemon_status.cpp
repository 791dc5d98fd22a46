#include "kestrix/core/daemon_status.h"

#include <signal.h>
#include <sys/types.h>

#include <cerrno>
#include <cstdint>

#include "kestrix/io.h"
#include "kestrix/text.h"

namespace kestrix::core {

std::optional<std::int32_t> pid_in_pid_file(std::string_view text) {
  const auto pid = text::parse_decimal<std::int32_t>(text::trim(text));
  if (!pid || *pid <= 0) return std::nullopt;
  return pid;
}

DaemonStatus daemon_status(const std::string& pid_file_path) {
  const auto content = read_text_file(pid_file_path);
  if (!content) return DaemonStatus::Stopped;

  // A pid file that exists but names no process (empty, garbled, or a
  // non-positive id that kill() would treat as a process group) is the
  // leftover of a daemon that died without cleaning up.
  const auto pid = pid_in_pid_file(*content);
  if (!pid) return DaemonStatus::DeadButLocked;

  if (::kill(static_cast<pid_t>(*pid), 0) == 0) return DaemonStatus::Running;
  // EPERM and the like mean the process exists but is not ours to signal:
  // only ESRCH disproves that the daemon is alive.
  return errno == ESRCH ? DaemonStatus::DeadButLocked : DaemonStatus::Running;
}

std::string_view daemon_status_text(DaemonStatus status) {
  switch (status) {
    case DaemonStatus::Stopped: return "Kestrix is stopped";
    case DaemonStatus::DeadButLocked: return "Kestrix is dead but subsys locked";
    case DaemonStatus::Running: break;
  }
  return {};
}

}  // namespace kestrix::core
