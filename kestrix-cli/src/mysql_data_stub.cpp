// Temporary: stands in for the MySQL merge until its real definition lands.
#include "mysql_data.h"

namespace kestrix::cli {

void apply_mysql_data(TopUser& row, const std::string& warden_mode, const core::DbUsageTable&,
                      const plugins::WardLimitsMap&) {
  row.usage.cpu.mysql = warden_mode;
}

void hide_mysql_data(std::vector<TopUser>&) {}

}  // namespace kestrix::cli
