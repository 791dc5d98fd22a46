// The database throttling service: timestamp file, status and mode.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace kestrix::core {

inline constexpr std::string_view WARDEN_TIMESTAMP_PATH = "/var/kro/warden.ts";
inline constexpr std::string_view DBADM_PATH = "/usr/sbin/dbadm";

struct WardenStatus {
  std::string state;  // "enabled", "disabled" or "error"
  std::optional<std::string> message;
  std::optional<nlohmann::json> context;
};

void touch_warden_timestamp(const std::string& path = std::string(WARDEN_TIMESTAMP_PATH));
WardenStatus query_warden_status(const std::string& dbadm = std::string(DBADM_PATH));
std::string query_warden_mode(const std::string& helper_path);

}  // namespace kestrix::core
