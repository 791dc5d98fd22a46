#include "lookups.h"

namespace kestrix::cli {

NamesByUid names_by_uid(const std::vector<core::RegularUser>& users) { return NamesByUid(users); }

void keep_regular_users(NamesByUid& names, std::uint32_t uid_min) { names.drop_below(uid_min); }

plugins::ArgList row_uids(const std::vector<RowEntry>& rows) {
  plugins::ArgList uids;
  // Ten digits at most; and the helper's request, in front.
  uids.reserve(rows.size() + 1, rows.size() * 11);
  for (const auto& row : rows) uids.push_decimal(row.id);
  return uids;
}

plugins::ArgList ward_limit_names(const std::vector<RowEntry>& rows, const NamesByUid& names) {
  plugins::ArgList out;
  out.reserve(rows.size() + 1, rows.size() * 16);  // and the helper's request, in front
  for (const auto& row : rows) {
    if (!row.username.empty()) {
      if (row.username != NOT_AVAILABLE) out.push_back(row.username);
    } else if (auto name = names.find(row.id)) {
      out.push_back(*name);
    }
  }
  return out;
}

plugins::ArgList uids_not_in(const std::vector<RowEntry>& rows, const PanelInfoByUid& known) {
  plugins::ArgList uids;
  for (const auto& row : rows)
    if (!known.find(row.id)) uids.push_decimal(row.id);
  return uids;
}

plugins::ArgList limit_names_not_in(const std::vector<RowEntry>& rows, const NamesByUid& names,
                                    const plugins::WardLimitsMap& known) {
  const plugins::ArgList all = ward_limit_names(rows, names);
  plugins::ArgList out;
  for (std::size_t i = 0; i < all.size(); ++i)
    if (!known.contains(std::string(all[i]))) out.push_back(all[i]);
  return out;
}

}  // namespace kestrix::cli
