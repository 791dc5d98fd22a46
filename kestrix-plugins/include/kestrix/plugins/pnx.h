// The panel API helper: administrators, reseller users, account records and
// panel features.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "kestrix/error.h"
#include "kestrix/plugins/arg_list.h"
#include "kestrix/plugins/panel_accounts.h"

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
Result<std::string> run_pnx_helper(const ArgList& args,
                                   const std::string& program = PNX_HELPER_PATH);

Result<std::vector<std::string>> admins(const std::string& program = PNX_HELPER_PATH);
Result<std::vector<std::string>> reseller_users(
    const std::string& reseller, const std::string& program = PNX_HELPER_PATH);
// The accounts the panel knows among `uids`; a later record for the same
// uid wins. An empty list runs nothing. The list is taken, and let go once
// it has been spelled out as arguments.
Result<PanelAccountsByUid> user_info_sys(std::vector<std::int64_t> uids,
                                         const std::string& program = PNX_HELPER_PATH);
// The same for uids already spelled out in decimal, as a caller holding
// many of them in another form may build them at once.
Result<PanelAccountsByUid> user_info_sys(ArgList uids,
                                         const std::string& program = PNX_HELPER_PATH);

// Answer decoders. `request` names the request in the message
// ("failed to parse <request> JSON: ...").
Result<std::vector<std::string>> parse_name_list(std::string_view answer, std::string_view request);
Result<UserLookupResult> parse_user_lookup(std::string_view answer);
// The same answer checked by the same rules, with the same messages, but
// decoded straight into the table: nothing else of a record is kept.
Result<PanelAccountsByUid> parse_panel_accounts(std::string_view answer);
// The same again, for an answer that is not needed afterwards: the memory of
// the records already read is given back while the rest is decoded, so the
// table does not grow beside the whole text.
Result<PanelAccountsByUid> take_panel_accounts(std::string answer);

}  // namespace kestrix::plugins
