#include "lookups.h"

namespace kestrix::cli {

namespace {
std::string or_not_available(const std::string& value) {
  return value.empty() ? std::string(NOT_AVAILABLE) : value;
}
}  // namespace

NamesByUid names_by_uid(const std::vector<core::RegularUser>& users) {
  NamesByUid names;
  names.reserve(users.size());
  for (const auto& user : users) names.insert_or_assign(user.uid, user.name);
  return names;
}

PanelInfoByUid panel_info_by_uid(const plugins::UserLookupResult& lookup) {
  PanelInfoByUid table;
  table.reserve(lookup.users.size());
  for (const auto& info : lookup.users)
    table.insert_or_assign(static_cast<std::uint32_t>(info.uid),
                           PanelInfo{or_not_available(info.domain), or_not_available(info.reseller)});
  return table;
}

std::vector<std::int64_t> row_uids(const std::vector<TopUser>& rows) {
  std::vector<std::int64_t> uids;
  uids.reserve(rows.size());
  for (const auto& row : rows) uids.push_back(row.id);
  return uids;
}

std::vector<std::string> ward_limit_names(const std::vector<TopUser>& rows,
                                          const NamesByUid& names) {
  std::vector<std::string> out;
  out.reserve(rows.size());
  for (const auto& row : rows) {
    if (!row.username.empty()) {
      if (row.username != NOT_AVAILABLE) out.push_back(row.username);
    } else if (auto it = names.find(row.id); it != names.end()) {
      out.push_back(it->second);
    }
  }
  return out;
}

}  // namespace kestrix::cli
