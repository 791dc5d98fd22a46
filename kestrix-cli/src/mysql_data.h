// The MySQL members of report rows: merged from the database usage and the
// warden limits, or cleared when MySQL is hidden.
#pragma once

#include <string>

#include "kestrix/core/dbpeek.h"
#include "kestrix/plugins/ward_helper.h"
#include "snapshot.h"

namespace kestrix::cli {

void apply_mysql_data(TopUser& row, const std::string& warden_mode,
                      const core::DbUsageTable& db_usage, const plugins::WardLimitsMap& ward_limits);

void hide_mysql_data(std::vector<TopUser>& rows);

}  // namespace kestrix::cli
