// The database throttling service: timestamp file, status and mode.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace kestrix::core {

inline constexpr const char* WARDEN_TIMESTAMP_PATH = "/var/kro/warden.ts";
inline constexpr const char* DBADM_PATH = "/usr/sbin/dbadm";
// A hung control tool or helper must not hang the panel's request; a run
// still going after this long counts as a failed run.
inline constexpr std::uint64_t DBADM_TIMEOUT_SECS = 15;
inline constexpr std::uint64_t WARDEN_MODE_TIMEOUT_SECS = 15;

struct WardenStatus {
  std::string state;  // "enabled", "disabled" or "error"
  std::optional<std::string> message;
  std::optional<nlohmann::json> context;
};

// Creates the file if missing and sets its times to now. Never follows a
// symbolic link at the path, never blocks on a FIFO; every failure ignored.
void touch_warden_timestamp(const std::string& path = WARDEN_TIMESTAMP_PATH);

// "disabled" without a control tool; "enabled" without running it unless the
// process is root in the initial user namespace; else run_dbadm_list.
WardenStatus query_warden_status(const std::string& dbadm = DBADM_PATH,
                                 std::uint64_t limit_secs = DBADM_TIMEOUT_SECS);

// Runs "dbadm list" and reads the state from its outcome.
WardenStatus run_dbadm_list(const std::string& dbadm, std::uint64_t limit_secs = DBADM_TIMEOUT_SECS);

// The helper's "warden-mode" answer, plain or as a JSON string; "none" when
// the helper fails.
std::string query_warden_mode(const std::string& helper_path,
                              std::uint64_t limit_secs = WARDEN_MODE_TIMEOUT_SECS);

// The mode in a successful "warden-mode" answer's standard output.
std::string warden_mode_from_answer(std::string_view stdout_bytes);

}  // namespace kestrix::core
