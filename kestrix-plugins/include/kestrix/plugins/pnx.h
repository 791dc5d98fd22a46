// The panel API helper: administrators, reseller users, account records and
// panel features.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "kestrix/error.h"

namespace kestrix::plugins {

inline constexpr const char* PNX_HELPER_PATH =
    "/usr/share/kestrix3/scripts/kestrix-pnx-helper";
inline constexpr std::uint64_t PNX_HELPER_TIMEOUT_SECS = 30;

struct UserInfo {
  std::int64_t uid = 0;
  std::string username;
  std::string email;
  std::string domain;
  std::string locale;
  std::string reseller;
  std::string display_name;
};

struct UnresolvedUid {
  std::int64_t uid = 0;
  std::string reason;
};

struct UserLookupResult {
  std::vector<UserInfo> users;
  std::vector<UnresolvedUid> unresolved;
};

// run_helper on the panel helper with its time limit.
Result<std::string> run_pnx_helper(const std::vector<std::string>& args,
                                   const std::string& program = PNX_HELPER_PATH);

Result<std::vector<std::string>> admins(const std::string& program = PNX_HELPER_PATH);
Result<std::vector<std::string>> reseller_users(
    const std::string& reseller, const std::string& program = PNX_HELPER_PATH);
// An empty list runs nothing.
Result<UserLookupResult> user_info_sys(const std::vector<std::int64_t>& uids,
                                       const std::string& program = PNX_HELPER_PATH);

// Answer decoders. `request` names the request in the message
// ("failed to parse <request> JSON: ...").
Result<std::vector<std::string>> parse_name_list(std::string_view answer, std::string_view request);
Result<UserLookupResult> parse_user_lookup(std::string_view answer);

}  // namespace kestrix::plugins
