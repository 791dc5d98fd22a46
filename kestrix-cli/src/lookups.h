// The lookup tables a run builds from the password database and the panel,
// and the names it asks the warden helper about.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "kestrix/core/system_users.h"
#include "kestrix/plugins/pnx.h"
#include "kestrix/plugins/ward_helper.h"
#include "selection.h"

namespace kestrix::cli {

// A later entry for the same uid wins.
NamesByUid names_by_uid(const std::vector<core::RegularUser>& users);
// Leaves the names of uids from `uid_min` up: made of every password entry,
// the table then holds the regular users' names, as if it had been made of
// them alone, since all entries of a uid fall on the same side of the bound.
void keep_regular_users(NamesByUid& names, std::uint32_t uid_min);

// The rows' uids in row order, spelled out as the panel helper takes them.
plugins::ArgList row_uids(const std::vector<RowEntry>& rows);

// The login names of the rows in row order: a username unless it is "N/A",
// else the uid's password-database name, else nothing.
plugins::ArgList ward_limit_names(const std::vector<RowEntry>& rows, const NamesByUid& names);

// For rows read again: the uids the panel's table has no account for, and
// the login names (taken as ward_limit_names takes them) the warden
// helper's answer has no limits for, in row order.
plugins::ArgList uids_not_in(const std::vector<RowEntry>& rows, const PanelInfoByUid& known);
plugins::ArgList limit_names_not_in(const std::vector<RowEntry>& rows, const NamesByUid& names,
                                    const plugins::WardLimitsMap& known);

}  // namespace kestrix::cli
