// Which snapshot rows the report shows, in which order, and how many.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "cli.h"
#include "kestrix/core/dbpeek.h"
#include "kestrix/core/warden.h"
#include "kestrix/plugins/pnx.h"
#include "kestrix/plugins/ward_helper.h"
#include "names_by_uid.h"
#include "snapshot.h"

namespace kestrix::cli {

inline constexpr std::string_view NOT_AVAILABLE = "N/A";

// The panel's domain and reseller of each account; a row shows "N/A" where
// it gave none.
using PanelInfoByUid = plugins::PanelAccountsByUid;

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

void drop_rows_above_uid_max(std::vector<RowEntry>& rows, std::uint32_t uid_max);

// The snapshot figure an order keeps in the entries.
UsageKey usage_key(std::string_view order_by);
// A row's key in the order: the entry's figure, or the database's figure
// of the row's account.
double sort_key(const RowEntry& row, std::string_view order_by,
                const core::DbUsageTable& db_usage, const NamesByUid& names_by_uid);

// A row's place in the report order: its key and its index in the snapshot.
struct RankedRow {
  double key;
  std::size_t row;
};

// The report order of ranked rows: highest key first, equal keys in
// snapshot order. A report shows the top few of many rows, so the order is
// sorted only as far as it is walked, in growing steps: the first costs time
// linear in the rows, a walk through all of them that of a whole sort.
class ReportOrder {
 public:
  ReportOrder() = default;
  // The ranks in any order. The first step is sorted at once, so that an
  // order worked out ahead of its walk is ready for the walk's usual length.
  explicit ReportOrder(std::vector<RankedRow> ranks) : ranks_(std::move(ranks)) {
    if (!ranks_.empty()) sort_through(0);
  }

  std::size_t size() const { return ranks_.size(); }
  // The snapshot index of the row at `place` in the order.
  std::size_t row(std::size_t place) {
    if (place >= sorted_) sort_through(place);
    return ranks_[place].row;
  }

 private:
  void sort_through(std::size_t place);

  std::vector<RankedRow> ranks_;
  std::size_t sorted_ = 0;  // ranks_[0, sorted_) is the head of the order
};

// The rows' report order; the entries must keep the figure of
// usage_key(order_by).
ReportOrder sort_order(const std::vector<RowEntry>& rows, std::string_view order_by,
                       const core::DbUsageTable& db_usage, const NamesByUid& names_by_uid);
// Walks `rows` in `order`, filling the usernames of the rows it visits in
// place (pointing into `in.names_by_uid`), and decodes the accepted ones
// whole, in order. Fails only when a row's text does not decode, with the
// decoder's message.
std::expected<std::vector<TopUser>, std::string> select_rows(std::vector<RowEntry>& rows,
                                                             ReportOrder& order,
                                                             const SelectionInputs& in);
bool contains(std::string_view text, std::string_view pattern);

}  // namespace kestrix::cli
