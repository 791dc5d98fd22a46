#include "kestrix/core/warden.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "kestrix/core/user_namespace.h"
#include "kestrix/json/record.h"
#include "kestrix/plugins/helper_runner.h"
#include "kestrix/text.h"

namespace kestrix::core {

namespace {

WardenStatus error_status(std::string message, std::optional<nlohmann::json> context) {
  return WardenStatus{"error", std::move(message), std::move(context)};
}

// The runner says "failed to spawn <program>: <os text>"; the panel wants
// only the system's own words.
std::string spawn_failure_text(const std::string& program, const std::string& message) {
  const std::string prefix = "failed to spawn " + program + ": ";
  if (message.starts_with(prefix)) return message.substr(prefix.size());
  return message;
}

}  // namespace

void touch_warden_timestamp(const std::string& path) {
  // Resellers can write in the file's directory: a planted symbolic link must
  // not let root create or touch a file elsewhere, and a planted FIFO must
  // not hang the run. No truncation: only the times matter.
  const int fd =
      ::open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
  if (fd < 0) return;
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) (void)::futimens(fd, nullptr);
  ::close(fd);
}

WardenStatus run_dbadm_list(const std::string& dbadm, std::uint64_t limit_secs) {
  const auto run = plugins::run_with_timeout(dbadm, {"list"}, limit_secs, plugins::Stdin::Empty);
  if (!run) return error_status(spawn_failure_text(dbadm, run.error().message), std::nullopt);

  const std::string out = text::decode_lossy(run->stdout_bytes);
  if (out.find("can't connect to socket") != std::string::npos) {
    return error_status(
        "%(util)s is disabled in the system. Please, run \"%(command)s\" to start the service",
        nlohmann::json{{"util", "MySQL warden"}, {"command", "service db_warden restart"}});
  }
  const std::string err = text::decode_lossy(run->stderr_bytes);
  if (run->status == 0 && err.empty()) return WardenStatus{"enabled", std::nullopt, std::nullopt};
  return error_status("dbadm error: %(output)s",
                      nlohmann::json{{"output", std::string(text::trim(err))}});
}

WardenStatus query_warden_status(const std::string& dbadm, std::uint64_t limit_secs) {
  struct stat st {};
  if (::stat(dbadm.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
    return WardenStatus{"disabled", std::nullopt, std::nullopt};
  // Only root in the initial namespace may ask the control tool; anyone
  // else is told the service is there.
  if (::getuid() != 0 || !check_initial_user_namespace())
    return WardenStatus{"enabled", std::nullopt, std::nullopt};
  return run_dbadm_list(dbadm, limit_secs);
}

std::string query_warden_mode(const std::string& helper_path, std::uint64_t limit_secs) {
  const auto run =
      plugins::run_with_timeout(helper_path, {"warden-mode"}, limit_secs, plugins::Stdin::Empty);
  if (!run || run->status != 0) return "none";
  return warden_mode_from_answer(run->stdout_bytes);
}

std::string warden_mode_from_answer(std::string_view stdout_bytes) {
  const std::string out = text::decode_lossy(stdout_bytes);
  const std::string_view answer = text::trim(out);
  if (auto quoted = kestrix::json::decode<std::string>(answer)) return std::move(*quoted);
  return std::string(answer);
}

}  // namespace kestrix::core
