// The configuration parser against a model of the file's rules: the same
// typed fields, the same raw pairs, and the same first error. Above all it
// never accepts a text holding an invalid integer for a known key.
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <unordered_map>

#include "checks.h"
#include "kestrix/core/config.h"
#include "kestrix/io.h"
#include "oracle.h"

namespace kestrix::fuzz {
namespace {

using core::Config;

bool ascii(std::string_view s) {
  for (char c : s)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

std::string upper(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - ('a' - 'A'));
  return out;
}

std::string lower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + ('a' - 'A'));
  return out;
}

bool any_of(const std::string& word, std::initializer_list<std::string_view> words) {
  for (auto w : words)
    if (word == w) return true;
  return false;
}

// Upper-casing is Unicode's, under which a few other letters become ASCII
// ("ﬀ" is "FF"): the model judges booleans written in ASCII only.
using Judged = std::optional<bool>;

struct Model {
  Config config = Config::defaults();
  Judged collect_usernames = false, normalized_user_cpu = true, use_big_uids = false,
         hide_kro = true, disable_mysql_snapshots = false, disable_snapshots = false;
  std::optional<std::string> error;
};

std::string_view first_scalars(std::string_view s, std::size_t n) {
  std::size_t i = 0;
  for (std::size_t count = 0; i < s.size() && count < n; ++count) {
    ++i;
    while (i < s.size() && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) ++i;
  }
  return s.substr(0, i);
}

// Applies one pair; false once the model has found the file's error.
bool apply(Model& m, std::string_view key, std::string_view value) {
  Config& c = m.config;
  auto bad = [&](std::string_view k) {
    m.error = "Invalid " + std::string(k) + ": " + std::string(value);
    return false;
  };
  auto unsigned_field = [&](auto& field, std::uint64_t max) {
    auto v = ref_unsigned(value, max);
    if (!v) return bad(key);
    field = static_cast<std::remove_reference_t<decltype(field)>>(*v);
    return true;
  };
  auto signed_field = [&](auto& field, std::int64_t min, std::int64_t max) {
    auto v = ref_signed(value, min, max);
    if (!v) return bad(key);
    field = static_cast<std::remove_reference_t<decltype(field)>>(*v);
    return true;
  };
  auto yes = [&](Judged& field) {
    field = ascii(value) ? Judged(any_of(upper(value), {"Y", "1", "YES", "TRUE"})) : std::nullopt;
  };
  constexpr auto u64 = std::numeric_limits<std::uint64_t>::max();
  constexpr auto i64min = std::numeric_limits<std::int64_t>::min();
  constexpr auto i64max = std::numeric_limits<std::int64_t>::max();

  if (key == "connect_string") c.connect_string = value;
  else if (key == "db_name") c.db_name = value;
  else if (key == "sqlite_db_path" || key == "db_path") {
    if (!value.empty()) c.db_path = value;
  } else if (key == "server_id") c.server_id = first_scalars(value, 255);
  else if (key == "plugins") c.plugins = value;
  else if (key == "mode") c.mode = value;
  else if (key == "warden_mode") c.warden_mode = value;
  else if (key == "env") c.env = value;
  else if (key == "log_level" || key == "logging") {
    // No non-ASCII letter lower-cases to a letter of these words.
    const std::string l = lower(value);
    if (ascii(value) && any_of(l, {"trace", "debug", "info", "warn", "error"})) c.log_level = l;
  } else if (key == "db_timeout") return unsigned_field(c.db_timeout, u64);
  else if (key == "timeout") return unsigned_field(c.timeout, u64);
  else if (key == "interval") return unsigned_field(c.interval, u64);
  else if (key == "aggregation_period") return unsigned_field(c.aggregation_period, u64);
  else if (key == "keep_history_days")
    return unsigned_field(c.keep_history_days, std::numeric_limits<std::uint32_t>::max());
  else if (key == "period_between_incidents")
    return signed_field(c.period_between_incidents, i64min, i64max);
  else if (key == "max_snapshots_per_incident")
    return signed_field(c.max_snapshots_per_incident, i64min, i64max);
  else if (key == "snapshots_per_minute") {
    if (!signed_field(c.snapshots_per_minute, i64min, i64max)) return false;
    if (c.snapshots_per_minute < 1) c.snapshots_per_minute = 1;
  } else if (key == "compresslevel") {
    if (!signed_field(c.compresslevel, std::numeric_limits<std::int32_t>::min(),
                      std::numeric_limits<std::int32_t>::max()))
      return false;
    c.compresslevel = std::clamp(c.compresslevel, 1, 9);
  } else if (key == "collect_usernames") yes(m.collect_usernames);
  else if (key == "use_big_uids") yes(m.use_big_uids);
  else if (key == "disable_mysql_snapshots") yes(m.disable_mysql_snapshots);
  else if (key == "disable_snapshots") yes(m.disable_snapshots);
  else if (key == "normalized_user_cpu")
    m.normalized_user_cpu =
        ascii(value) ? Judged(!any_of(upper(value), {"N", "0", "NO", "FALSE"})) : std::nullopt;
  else if (key == "hide_kro_more_than_maxuid")
    m.hide_kro = ascii(value)
                     ? Judged(!any_of(upper(value), {"N", "F", "0", "NO", "OFF", "FALSE"}))
                     : std::nullopt;
  else if (key == "db_type") {
    const std::string l = ascii(value) ? lower(value) : std::string();
    if (l == "sqlite") c.db_type = core::DbType::Sqlite;
    else if (l == "mysql") c.db_type = core::DbType::Mysql;
    else if (l == "postgres" || l == "postgresql") c.db_type = core::DbType::Postgres;
    else {
      m.error = "Unknown db_type: " + std::string(value);
      return false;
    }
  } else if (key == "litespeed") {
    const std::string l = ascii(value) ? lower(value) : std::string();
    c.litespeed = l == "on" || l == "1"    ? core::Litespeed::On
                  : l == "off" || l == "0" ? core::Litespeed::Off
                                           : core::Litespeed::Unspecified;
  }
  return true;
}

Model model(std::string_view text) {
  Model m;
  for (std::string_view raw : ref_lines(text)) {
    const std::string_view line = ref_trim(raw);
    if (line.empty() || line[0] == '#' || line[0] == ';' || line[0] == '[') continue;
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    const std::string_view key = ref_trim(line.substr(0, eq));
    const std::string_view value = ref_trim(line.substr(eq + 1));
    m.config.raw_values.insert_or_assign(std::string(key), std::string(value));
    if (!apply(m, key, value)) return m;
  }
  if (m.config.interval == 0) m.error = "interval must be > 0 (got 0)";
  else if (m.config.timeout == 0) m.error = "timeout must be > 0 (got 0)";
  else if (m.config.aggregation_period == 0) m.error = "aggregation_period must be > 0 (got 0)";
  return m;
}

bool judged_equal(const Judged& expected, bool got) { return !expected || *expected == got; }

}  // namespace

const char* check_config(std::string_view text) {
  auto parsed = core::parse_config(text);
  if (!is_utf8(text)) return nullptr;  // the loader refuses such text before parsing
  const Model m = model(text);
  if (m.error) {
    if (parsed) return "accepted a text the rules refuse";
    return parsed.error().message == *m.error ? nullptr : "another error than the rules give";
  }
  if (!parsed) return "refused a text the rules accept";
  const Config& c = *parsed;
  const Config& e = m.config;
  // Unconditional invariants first: they hold whatever the model says.
  if (c.interval == 0 || c.timeout == 0 || c.aggregation_period == 0) return "accepted a zero";
  if (c.compresslevel < 1 || c.compresslevel > 9) return "compresslevel outside 1..9";
  if (c.snapshots_per_minute < 1) return "snapshots_per_minute below 1";
  if (c.raw_values != e.raw_values) return "raw pairs differ";
  if (c.connect_string != e.connect_string || c.db_name != e.db_name || c.db_path != e.db_path ||
      c.server_id != e.server_id || c.plugins != e.plugins || c.mode != e.mode ||
      c.warden_mode != e.warden_mode || c.env != e.env || c.log_level != e.log_level)
    return "text fields differ";
  if (c.db_timeout != e.db_timeout || c.timeout != e.timeout || c.interval != e.interval ||
      c.aggregation_period != e.aggregation_period ||
      c.period_between_incidents != e.period_between_incidents ||
      c.max_snapshots_per_incident != e.max_snapshots_per_incident ||
      c.snapshots_per_minute != e.snapshots_per_minute ||
      c.keep_history_days != e.keep_history_days || c.compresslevel != e.compresslevel)
    return "integer fields differ";
  if (!judged_equal(m.collect_usernames, c.collect_usernames) ||
      !judged_equal(m.normalized_user_cpu, c.normalized_user_cpu) ||
      !judged_equal(m.use_big_uids, c.use_big_uids) ||
      !judged_equal(m.hide_kro, c.hide_kro_more_than_maxuid) ||
      !judged_equal(m.disable_mysql_snapshots, c.disable_mysql_snapshots) ||
      !judged_equal(m.disable_snapshots, c.disable_snapshots))
    return "boolean fields differ";
  if (c.db_type != e.db_type || c.litespeed != e.litespeed) return "enumerations differ";
  return nullptr;
}

}  // namespace kestrix::fuzz
