// Which snapshot rows the report shows, in which order, and how many.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "cli.h"
#include "kestrix/core/dbpeek.h"
#include "kestrix/core/warden.h"
#include "kestrix/plugins/ward_helper.h"
#include "snapshot.h"

namespace kestrix::cli {

inline constexpr std::string_view NOT_AVAILABLE = "N/A";

struct PanelInfo {
  std::string domain;    // "N/A" when the panel gave none
  std::string reseller;  // "N/A" when the panel gave none
};

using NamesByUid = std::unordered_map<std::uint32_t, std::string>;
using PanelInfoByUid = std::unordered_map<std::uint32_t, PanelInfo>;
using NameSet = std::unordered_set<std::string>;

// Everything the walk reads besides the rows; the driver owns the tables.
struct SelectionInputs {
  const Cli& cli;
  const NamesByUid& names_by_uid;
  const PanelInfoByUid& panel_info_by_uid;
  const NameSet& admin_names;
  const std::optional<std::vector<std::string>>& allowed_names;
  const core::DbUsageTable& db_usage;
  const plugins::WardLimitsMap& ward_limits;
  bool merge_mysql;  // state "enabled" and MySQL not hidden
  const std::string& warden_mode;
};

void drop_rows_above_uid_max(std::vector<TopUser>& rows, std::uint32_t uid_max);
double sort_key(const TopUser& row, std::string_view order_by, const core::DbUsageTable& db_usage,
                const NamesByUid& names_by_uid);
void sort_rows(std::vector<TopUser>& rows, std::string_view order_by,
               const core::DbUsageTable& db_usage, const NamesByUid& names_by_uid);
// Consumes the sorted rows; returns the accepted ones in order.
std::vector<TopUser> select_rows(std::vector<TopUser>&& rows, const SelectionInputs& in);
bool contains(std::string_view text, std::string_view pattern);

}  // namespace kestrix::cli
