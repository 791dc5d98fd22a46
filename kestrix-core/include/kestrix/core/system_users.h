// Regular users of the system and the UID range from /etc/login.defs.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrix::core {

inline constexpr const char* LOGIN_DEFS_PATH = "/etc/login.defs";
inline constexpr std::uint32_t DEFAULT_UID_MIN = 500;
inline constexpr std::uint32_t DEFAULT_UID_MAX = 60000;

struct RegularUser {
  std::uint32_t uid;
  std::string name;
};

// The first usable "KEY <number>" line of a login.defs text.
std::optional<std::uint32_t> login_defs_value(std::string_view text, std::string_view key);

std::uint32_t read_uid_min(const std::string& path = LOGIN_DEFS_PATH);
std::uint32_t read_uid_max(const std::string& path = LOGIN_DEFS_PATH);

// Every password-database entry with uid >= UID_MIN, in enumeration order.
std::vector<RegularUser> regular_users();
// The same in two steps, the first of which may run on a thread of its own:
// every entry whose name is UTF-8, whatever its uid, then those from
// `uid_min` up.
std::vector<RegularUser> password_entries();
std::vector<RegularUser> regular_users(std::vector<RegularUser> entries, std::uint32_t uid_min);

std::optional<std::string> user_name_by_uid(std::uint32_t uid);

}  // namespace kestrix::core
