// What every fuzz target checks on one input. A check returns nullptr when
// every rule holds, or the rule the input broke. The libFuzzer entry points
// and the test that replays the kept inputs call the same functions.
#pragma once

#include <span>
#include <string_view>

namespace kestrix::fuzz {

using Check = const char* (*)(std::string_view input);

struct Target {
  std::string_view name;  // also the folder of its seeds and finds
  Check check;
};

std::span<const Target> targets();

const char* check_reader(std::string_view input);
const char* check_config(std::string_view input);
const char* check_dbpeek_file(std::string_view input);
const char* check_dbpeek_output(std::string_view input);
const char* check_login_defs(std::string_view input);
const char* check_pid_file(std::string_view input);
const char* check_uid_map(std::string_view input);
const char* check_warden_mode(std::string_view input);
const char* check_admins(std::string_view input);
const char* check_reseller_users(std::string_view input);
const char* check_user_info_sys(std::string_view input);
const char* check_limits(std::string_view input);
const char* check_command_line(std::string_view input);
const char* check_decode_growth(std::string_view input);

}  // namespace kestrix::fuzz
