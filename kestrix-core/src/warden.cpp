#include "kestrix/core/warden.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "kestrix/core/user_namespace.h"
#include "kestrix/json/record.h"
#include "kestrix/log.h"
#include "kestrix/plugins/helper_runner.h"
#include "kestrix/text.h"
#include "kestrix/unique_fd.h"

namespace kestrix::core {

namespace {

constexpr std::string_view TARGET = "kestrix_core::warden";
constexpr std::size_t STDERR_EXCERPT_BYTES = 500;

WardenStatus error_status(std::string message, std::optional<nlohmann::json> context) {
  return WardenStatus{"error", std::move(message), std::move(context)};
}

// A tool that cannot be started is shown with the system's own words alone;
// every other failure with the runner's whole message.
std::string panel_text(const plugins::HelperError& e) {
  return e.kind == plugins::HelperError::Kind::Spawn ? e.detail : e.message();
}

}  // namespace

void touch_warden_timestamp(const std::string& path) {
  // Resellers can write in the file's directory: a planted symbolic link must
  // not let root create or touch a file elsewhere, and a planted FIFO must
  // not hang the run. No truncation: only the times matter.
  const UniqueFd fd(
      ::open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666));
  if (!fd) {
    const int why = errno;
    log::event(log::Level::Info, TARGET,
               [&] { return "cannot open " + path + ": " + os_error_text(why) + "; not touched"; });
    return;
  }
  struct stat st {};
  const bool regular = ::fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode);
  const int why = regular && ::futimens(fd.get(), nullptr) != 0 ? errno : 0;
  if (!regular) {
    log::event(log::Level::Info, TARGET,
               [&] { return path + " is not a regular file; not touched"; });
  } else if (why != 0) {
    log::event(log::Level::Info, TARGET,
               [&] { return "cannot set the times of " + path + ": " + os_error_text(why); });
  }
}

WardenStatus run_dbadm_list(const std::string& dbadm, std::uint64_t limit_secs) {
  const auto run = plugins::run_with_timeout(dbadm, {"list"}, limit_secs, plugins::Stdin::Empty);
  if (!run) {
    log::event(log::Level::Warn, TARGET,
               [&] { return "dbadm list failed, state 'error': " + run.error().message(); });
    return error_status(panel_text(run.error()), std::nullopt);
  }

  const std::string out = text::decode_lossy(run->stdout_bytes);
  const std::string err = text::decode_lossy(run->stderr_bytes);
  if (run->status != 0 || !err.empty()) {
    log::event(log::Level::Warn, TARGET, [&] {
      return dbadm + " list exited with " + plugins::status_text(run->status) + ": " +
             std::string(plugins::excerpt(text::trim(err), STDERR_EXCERPT_BYTES));
    });
  }
  if (out.find("can't connect to socket") != std::string::npos) {
    log::event(log::Level::Warn, TARGET,
               [] { return "dbadm list cannot reach the service, state 'error'"; });
    return error_status(
        "%(util)s is disabled in the system. Please, run \"%(command)s\" to start the service",
        nlohmann::json{{"util", "MySQL warden"}, {"command", "service db_warden restart"}});
  }
  if (run->status == 0 && err.empty()) return WardenStatus{"enabled", std::nullopt, std::nullopt};
  return error_status("dbadm error: %(output)s",
                      nlohmann::json{{"output", std::string(text::trim(err))}});
}

WardenStatus query_warden_status(const std::string& dbadm, std::uint64_t limit_secs) {
  struct stat st {};
  if (::stat(dbadm.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    const int why = errno;
    const bool found = st.st_mode != 0;
    log::event(log::Level::Info, TARGET, [&] {
      return dbadm + (found ? " is not a regular file" : ": " + os_error_text(why)) +
             "; state 'disabled'";
    });
    return WardenStatus{"disabled", std::nullopt, std::nullopt};
  }
  // Only root in the initial namespace may ask the control tool; anyone
  // else is told the service is there.
  if (::getuid() != 0 || !check_initial_user_namespace()) {
    log::event(log::Level::Debug, TARGET, [&] {
      return dbadm + " not run: the caller is not root in the initial user namespace; state "
                     "'enabled'";
    });
    return WardenStatus{"enabled", std::nullopt, std::nullopt};
  }
  return run_dbadm_list(dbadm, limit_secs);
}

std::string query_warden_mode(const std::string& helper_path, std::uint64_t limit_secs) {
  const auto run =
      plugins::run_with_timeout(helper_path, {"warden-mode"}, limit_secs, plugins::Stdin::Empty);
  if (!run) {
    log::event(log::Level::Warn, TARGET,
               [&] { return "warden-mode failed, mode 'none': " + run.error().message(); });
    return "none";
  }
  if (run->status != 0) {
    log::event(log::Level::Warn, TARGET, [&] {
      return "warden-mode failed, mode 'none': " + helper_path + " exited with " +
             plugins::status_text(run->status) + ": " +
             std::string(plugins::excerpt(text::trim(text::decode_lossy(run->stderr_bytes)),
                                          STDERR_EXCERPT_BYTES));
    });
    return "none";
  }
  return warden_mode_from_answer(run->stdout_bytes);
}

std::string warden_mode_from_answer(std::string_view stdout_bytes) {
  const std::string out = text::decode_lossy(stdout_bytes);
  const std::string_view answer = text::trim(out);
  if (auto quoted = kestrix::json::decode<std::string>(answer)) return std::move(*quoted);
  return std::string(answer);
}

}  // namespace kestrix::core
