// The lookup tables a run builds from the password database and the panel,
// and the names it asks the warden helper about.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "kestrix/core/system_users.h"
#include "kestrix/plugins/pnx.h"
#include "selection.h"

namespace kestrix::cli {

// A later entry for the same uid wins.
NamesByUid names_by_uid(const std::vector<core::RegularUser>& users);

// Domain and reseller of every account the panel answered for, "N/A" for
// an empty one; a later record for the same uid wins.
PanelInfoByUid panel_info_by_uid(const plugins::UserLookupResult& lookup);

std::vector<std::int64_t> row_uids(const std::vector<TopUser>& rows);

// The login names of the rows in row order: a username unless it is "N/A",
// else the uid's password-database name, else nothing.
std::vector<std::string> ward_limit_names(const std::vector<TopUser>& rows,
                                          const NamesByUid& names);

}  // namespace kestrix::cli
