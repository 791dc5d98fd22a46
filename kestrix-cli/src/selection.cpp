#include "selection.h"

#include <algorithm>
#include <cmath>

#include "kestrix/text.h"
#include "mysql_data.h"

namespace kestrix::cli {
namespace {

enum class SortField { Cpu, Io, Ep, Iops, Mem, Pno, MysqlCpu, MysqlIo };

SortField sort_field(std::string_view order_by) {
  // Every key is ASCII: a value that does not lower-case to ASCII sorts by CPU.
  std::string key = text::ascii_lower(order_by).value_or(std::string());
  if (key == "io") return SortField::Io;
  if (key == "ep") return SortField::Ep;
  if (key == "iops") return SortField::Iops;
  if (key == "pmem") return SortField::Mem;
  if (key == "nproc") return SortField::Pno;
  if (key == "mysql_cpu") return SortField::MysqlCpu;
  if (key == "mysql_io") return SortField::MysqlIo;
  return SortField::Cpu;
}

// Rows are sorted before their usernames are filled, so the database
// figures fall back to the password database name themselves.
const core::DbWardStats* db_stats_of(const RowEntry& row, const core::DbUsageTable& db_usage,
                                     const NamesByUid& names_by_uid) {
  std::string_view name = row.username;
  if (name.empty()) name = names_by_uid.find(row.id).value_or(name);
  auto it = db_usage.find(std::string(name));
  return it == db_usage.end() ? nullptr : &it->second;
}

double key_of(const RowEntry& row, SortField field, const core::DbUsageTable& db_usage,
              const NamesByUid& names_by_uid) {
  if (field != SortField::MysqlCpu && field != SortField::MysqlIo) return row.key;
  const core::DbWardStats* stats = db_stats_of(row, db_usage, names_by_uid);
  if (stats == nullptr) return 0.0;
  return field == SortField::MysqlCpu ? stats->cpu : stats->io;
}

// A reseller may own tens of thousands of accounts: looking each row up in
// the list itself would cost rows × names comparisons.
std::optional<NameSet> allowed_set(const std::optional<std::vector<std::string>>& allowed) {
  if (!allowed) return std::nullopt;
  return NameSet(allowed->begin(), allowed->end());
}

bool is_allowed(const std::optional<NameSet>& allowed, const std::string& name) {
  return !allowed || allowed->contains(name);
}

void fill_domain_and_reseller(TopUser& row, const PanelInfoByUid& panel_info_by_uid) {
  if (row.username == NOT_AVAILABLE) {
    row.domain = NOT_AVAILABLE;
    row.reseller = NOT_AVAILABLE;
    return;
  }
  const auto account = panel_info_by_uid.find(row.id);
  const auto or_not_available = [](std::string_view value) {
    return value.empty() ? NOT_AVAILABLE : value;
  };
  const std::string_view domain = account ? or_not_available(account->domain) : NOT_AVAILABLE;
  const std::string_view reseller = account ? or_not_available(account->reseller) : NOT_AVAILABLE;
  if (row.domain.empty()) row.domain = domain;
  if (row.reseller.empty()) row.reseller = reseller;
}

bool passes_filter(const std::optional<std::string>& pattern, const std::string& field) {
  return !pattern || (field != NOT_AVAILABLE && contains(field, *pattern));
}

}  // namespace

void drop_rows_above_uid_max(std::vector<RowEntry>& rows, std::uint32_t uid_max) {
  std::erase_if(rows, [uid_max](const RowEntry& row) { return row.id > uid_max; });
}

UsageKey usage_key(std::string_view order_by) {
  switch (sort_field(order_by)) {
    case SortField::Io: return UsageKey::Io;
    case SortField::Ep: return UsageKey::Ep;
    case SortField::Iops: return UsageKey::Iops;
    case SortField::Mem: return UsageKey::Mem;
    case SortField::Pno: return UsageKey::Pno;
    case SortField::MysqlCpu:
    case SortField::MysqlIo: return UsageKey::None;
    case SortField::Cpu: break;
  }
  return UsageKey::Cpu;
}

double sort_key(const RowEntry& row, std::string_view order_by,
                const core::DbUsageTable& db_usage, const NamesByUid& names_by_uid) {
  return key_of(row, sort_field(order_by), db_usage, names_by_uid);
}

void ReportOrder::sort_through(std::size_t place) {
  // The row number breaks ties, so unstable sorting of these small pairs
  // gives exactly the stable order of the rows by key.
  const auto before = [](const RankedRow& a, const RankedRow& b) {
    return a.key > b.key || (a.key == b.key && a.row < b.row);
  };
  constexpr std::size_t FIRST_STEP = 256;
  const std::size_t step = std::max(FIRST_STEP, sorted_);
  const std::size_t upto = std::min(ranks_.size(), std::max(place + 1, sorted_ + step));
  const auto from = ranks_.begin() + static_cast<std::ptrdiff_t>(sorted_);
  const auto to = ranks_.begin() + static_cast<std::ptrdiff_t>(upto);
  // What belongs before `to` goes there, then is sorted.
  if (to != ranks_.end()) std::nth_element(from, to, ranks_.end(), before);
  std::sort(from, to, before);
  sorted_ = upto;
}

ReportOrder sort_order(const std::vector<RowEntry>& rows, std::string_view order_by,
                       const core::DbUsageTable& db_usage, const NamesByUid& names_by_uid) {
  const SortField field = sort_field(order_by);
  std::vector<RankedRow> ranks;
  ranks.reserve(rows.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const double key = key_of(rows[i], field, db_usage, names_by_uid);
    // NaN would break the ordering the sort relies on; it ranks lowest.
    ranks.push_back(RankedRow{std::isnan(key) ? -HUGE_VAL : key, i});
  }
  return ReportOrder(std::move(ranks));
}

std::expected<std::vector<TopUser>, std::string> select_rows(std::vector<RowEntry>& rows,
                                                             ReportOrder& order,
                                                             const SelectionInputs& in) {
  const std::optional<NameSet> allowed = allowed_set(in.allowed_names);
  std::vector<TopUser> out;
  out.reserve(static_cast<std::size_t>(
      std::clamp<std::uint64_t>(in.cli.max, std::uint64_t{1}, order.size() + 1)));
  for (std::size_t place = 0; place < order.size(); ++place) {
    RowEntry& entry = rows[order.row(place)];
    if (entry.username.empty())
      entry.username = in.names_by_uid.find(entry.id).value_or(NOT_AVAILABLE);
    std::string username(entry.username);
    if (in.admin_names.contains(username)) continue;
    if (!is_allowed(allowed, username)) continue;
    auto decoded = decode_row(entry.text);
    if (!decoded) return std::unexpected(std::move(decoded.error()));
    TopUser& row = *decoded;
    row.username = std::move(username);
    fill_domain_and_reseller(row, in.panel_info_by_uid);
    if (!passes_filter(in.cli.domain, row.domain)) continue;
    if (!passes_filter(in.cli.username, row.username)) continue;
    if (in.merge_mysql) apply_mysql_data(row, in.warden_mode, in.db_usage, in.ward_limits);
    out.push_back(std::move(row));
    // After the append: a limit of 0 still yields the first accepted row.
    if (out.size() >= in.cli.max) break;
  }
  return out;
}

bool contains(std::string_view text, std::string_view pattern) {
  return text.find(pattern) != std::string_view::npos;
}

}  // namespace kestrix::cli
