#include "mysql_data.h"

#include <cmath>

namespace kestrix::cli {

namespace {

// A value that is not finite has no JSON number; null leaves the member out.
nlohmann::json float_or_null(double value) {
  if (!std::isfinite(value)) return nullptr;
  return value;
}

}  // namespace

void apply_mysql_data(TopUser& row, const std::string& warden_mode,
                      const core::DbUsageTable& db_usage, const plugins::WardLimitsMap& ward_limits) {
  static const core::DbWardStats no_usage{};
  const auto found = db_usage.find(row.username);
  const core::DbWardStats& stats = found == db_usage.end() ? no_usage : found->second;

  if (warden_mode == "all") {
    // The service throttles everything alike: there is no per-user MySQL
    // limit, and the database share cannot exceed the user's total.
    row.limit.cpu.mysql = "-";
    row.limit.io.mysql = "-";
    row.usage.cpu.mysql = float_or_null(std::fmin(stats.cpu, row.usage.cpu.all));
    row.usage.io.mysql = float_or_null(std::fmin(stats.io, row.usage.io.all));
  } else {
    if (const auto limits = ward_limits.find(row.username);
        limits != ward_limits.end() && !limits->second.error) {
      // The helper reports I/O limits in KiB; usage is in bytes.
      row.limit.cpu.mysql = float_or_null(limits->second.cpu.value_or(0.0));
      row.limit.io.mysql = float_or_null(limits->second.io.value_or(0.0) * 1024.0);
    }
    row.usage.cpu.mysql = float_or_null(stats.cpu);
    row.usage.io.mysql = float_or_null(stats.io);
  }

  if (stats.cause_of_restrict.empty() || stats.cause_of_restrict == "-") {
    row.restricted = false;
    row.restriction.reset();
  } else {
    row.restricted = true;
    row.restriction = Restriction{stats.time_of_restrict,
                                  "Violated the " + stats.cause_of_restrict + " limit"};
  }
}

void hide_mysql_data(std::vector<TopUser>& rows) {
  for (TopUser& row : rows) {
    row.usage.cpu.mysql = nullptr;
    row.usage.io.mysql = nullptr;
    row.limit.cpu.mysql = nullptr;
    row.limit.io.mysql = nullptr;
    row.restricted = false;
    row.restriction.reset();
  }
}

}  // namespace kestrix::cli
