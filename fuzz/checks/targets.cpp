#include <array>

#include "checks.h"

namespace kestrix::fuzz {

std::span<const Target> targets() {
  static constexpr std::array<Target, 14> all{{
      {"reader", check_reader},
      {"config", check_config},
      {"dbpeek-file", check_dbpeek_file},
      {"dbpeek-output", check_dbpeek_output},
      {"login-defs", check_login_defs},
      {"pid-file", check_pid_file},
      {"uid-map", check_uid_map},
      {"warden-mode", check_warden_mode},
      {"admins", check_admins},
      {"reseller-users", check_reseller_users},
      {"user-info-sys", check_user_info_sys},
      {"limits", check_limits},
      {"command-line", check_command_line},
      {"decode-growth", check_decode_growth},
  }};
  return all;
}

}  // namespace kestrix::fuzz
