#include "kestrix/core/daemon_status.h"

#include <signal.h>
#include <sys/types.h>

#include <cerrno>
#include <cstdint>

#include "kestrix/error.h"
#include "kestrix/io.h"
#include "kestrix/log.h"
#include "kestrix/text.h"

namespace kestrix::core {

namespace {
constexpr std::string_view TARGET = "kestrix_core::daemon_status";
// Enough of a garbled pid file to recognise it.
constexpr std::size_t CONTENT_EXCERPT = 64;
}  // namespace

std::optional<std::int32_t> pid_in_pid_file(std::string_view text) {
  const auto pid = text::parse_decimal<std::int32_t>(text::trim(text));
  if (!pid || *pid <= 0) return std::nullopt;
  return *pid;
}

DaemonStatus daemon_status(const std::string& pid_file_path) {
  const auto content = load_text_file(pid_file_path);
  if (!content) {
    log::event(log::Level::Info, TARGET, [&] {
      return "cannot read " + pid_file_path + ": " + content.error().message +
             "; the daemon counts as stopped";
    });
    return DaemonStatus::Stopped;
  }

  // A pid file that exists but names no process (empty, garbled, or a
  // non-positive id that kill() would treat as a process group) is the
  // leftover of a daemon that died without cleaning up.
  const auto pid = pid_in_pid_file(*content);
  if (!pid) {
    log::event(log::Level::Info, TARGET, [&] {
      return pid_file_path + " names no process ('" +
             std::string(text::first_chars(text::trim(*content), CONTENT_EXCERPT)) +
             "'); the daemon counts as dead";
    });
    return DaemonStatus::DeadButLocked;
  }

  if (::kill(static_cast<pid_t>(*pid), 0) == 0) {
    log::event(log::Level::Debug, TARGET, [&] {
      return "process " + std::to_string(*pid) + " of " + pid_file_path + " is alive";
    });
    return DaemonStatus::Running;
  }
  // EPERM and the like mean the process exists but is not ours to signal:
  // only ESRCH disproves that the daemon is alive.
  const int why = errno;
  log::event(why == ESRCH ? log::Level::Info : log::Level::Debug, TARGET, [&] {
    return "process " + std::to_string(*pid) + " of " + pid_file_path + ": " + os_error_text(why) +
           (why == ESRCH ? "; the daemon counts as dead" : "; the daemon counts as running");
  });
  return why == ESRCH ? DaemonStatus::DeadButLocked : DaemonStatus::Running;
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
