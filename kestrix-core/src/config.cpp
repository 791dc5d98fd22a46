#include "kestrix/core/config.h"

#include <array>
#include <initializer_list>
#include <optional>
#include <utility>

#include "kestrix/io.h"
#include "kestrix/text.h"

#include <new>

namespace kestrix::core {
namespace {

constexpr std::string_view TARGET = "kestrix_core::config";
constexpr std::size_t SERVER_ID_MAX_CHARS = 255;

using Outcome = std::optional<ConfigError>;  // set when the value is invalid

ConfigError invalid(std::string_view key, std::string_view value) {
  return ConfigError{"Invalid " + std::string(key) + ": " + std::string(value)};
}

template <class T>
Outcome set_number(T& field, std::string_view key, std::string_view value) {
  auto n = text::parse_decimal<T>(value);
  if (!n) return invalid(key, value);
  field = *n;
  return std::nullopt;
}

bool is_one_of(std::string_view value, std::initializer_list<std::string_view> words) {
  const auto upper = text::ascii_upper(value);
  if (!upper) return false;
  for (std::string_view w : words)
    if (*upper == w) return true;
  return false;
}

bool yes_word(std::string_view value) { return is_one_of(value, {"Y", "1", "YES", "TRUE"}); }

// The two switches know different "no" words on purpose: existing files
// rely on "off" and "f" leaving normalized_user_cpu on.
bool not_no_word(std::string_view value) { return !is_one_of(value, {"N", "0", "NO", "FALSE"}); }

bool not_no_or_off_word(std::string_view value) {
  return !is_one_of(value, {"N", "F", "0", "NO", "OFF", "FALSE"});
}

struct Line {
  std::string_view key;
  std::string_view value;
};

// Applies one recognised key; unknown keys are left alone.
Outcome apply(Config& c, Line line, EventSink* events) {
  const std::string_view k = line.key;
  const std::string_view v = line.value;

  if (k == "connect_string") c.connect_string = v;
  else if (k == "db_name") c.db_name = v;
  else if (k == "sqlite_db_path" || k == "db_path") {
    if (!v.empty()) c.db_path = v;
  } else if (k == "server_id") c.server_id = text::first_chars(v, SERVER_ID_MAX_CHARS);
  else if (k == "plugins") c.plugins = v;
  else if (k == "mode") c.mode = v;
  else if (k == "warden_mode") c.warden_mode = v;
  else if (k == "env") c.env = v;
  else if (k == "log_level" || k == "logging") {
    const auto lower = text::ascii_lower(v);
    static constexpr std::array<std::string_view, 5> levels = {"trace", "debug", "info", "warn",
                                                               "error"};
    bool known = false;
    for (std::string_view level : levels)
      if (lower && *lower == level) known = true;
    if (known) {
      c.log_level = *lower;
    } else {
      emit(events, Level::Warn, std::string(TARGET),
           "Unknown log_level '" + std::string(v) + "', using default 'info'");
    }
  } else if (k == "db_timeout") return set_number(c.db_timeout, k, v);
  else if (k == "timeout") return set_number(c.timeout, k, v);
  else if (k == "interval") return set_number(c.interval, k, v);
  else if (k == "aggregation_period") return set_number(c.aggregation_period, k, v);
  else if (k == "period_between_incidents") return set_number(c.period_between_incidents, k, v);
  else if (k == "max_snapshots_per_incident") return set_number(c.max_snapshots_per_incident, k, v);
  else if (k == "snapshots_per_minute") {
    if (auto e = set_number(c.snapshots_per_minute, k, v)) return e;
    if (c.snapshots_per_minute < 1) c.snapshots_per_minute = 1;
  } else if (k == "keep_history_days") return set_number(c.keep_history_days, k, v);
  else if (k == "compresslevel") {
    if (auto e = set_number(c.compresslevel, k, v)) return e;
    if (c.compresslevel < 1) c.compresslevel = 1;
    if (c.compresslevel > 9) c.compresslevel = 9;
  } else if (k == "collect_usernames") c.collect_usernames = yes_word(v);
  else if (k == "normalized_user_cpu") c.normalized_user_cpu = not_no_word(v);
  else if (k == "use_big_uids") c.use_big_uids = yes_word(v);
  else if (k == "hide_kro_more_than_maxuid") c.hide_kro_more_than_maxuid = not_no_or_off_word(v);
  else if (k == "disable_mysql_snapshots") c.disable_mysql_snapshots = yes_word(v);
  else if (k == "disable_snapshots") c.disable_snapshots = yes_word(v);
  else if (k == "db_type") {
    const auto lower = text::ascii_lower(v).value_or("");
    if (lower == "sqlite") c.db_type = DbType::Sqlite;
    else if (lower == "mysql") c.db_type = DbType::Mysql;
    else if (lower == "postgres" || lower == "postgresql") c.db_type = DbType::Postgres;
    else return ConfigError{"Unknown db_type: " + std::string(v)};
  } else if (k == "litespeed") {
    const auto lower = text::ascii_lower(v).value_or("");
    if (lower == "on" || lower == "1") c.litespeed = Litespeed::On;
    else if (lower == "off" || lower == "0") c.litespeed = Litespeed::Off;
    else c.litespeed = Litespeed::Unspecified;
  }
  return std::nullopt;
}

// A key=value line, or nothing for blank lines, comments, section headers
// and lines without "=".
std::optional<Line> split_line(std::string_view raw) {
  const std::string_view line = text::trim(raw);
  if (line.empty() || line.front() == '#' || line.front() == ';' || line.front() == '[')
    return std::nullopt;
  const std::size_t eq = line.find('=');
  if (eq == std::string_view::npos) return std::nullopt;
  return Line{text::trim(line.substr(0, eq)), text::trim(line.substr(eq + 1))};
}

}  // namespace

Config Config::defaults() {
  return Config{
      .connect_string = "localhost/kestrix2",
      .db_name = "kestrix2",
      .db_path = "/var/kro/kestrix2.db",
      .server_id = "localhost",
      .plugins = "/usr/share/kestrix/plugins",
      .mode = "v1",
      .warden_mode = "none",
      .log_level = "info",
      .env = "production",
      .db_timeout = 60,
      .timeout = 5,
      .interval = 5,
      .aggregation_period = 60,
      .period_between_incidents = 300,
      .max_snapshots_per_incident = 10,
      .snapshots_per_minute = 2,
      .keep_history_days = 30,
      .compresslevel = 1,
      .collect_usernames = false,
      .normalized_user_cpu = true,
      .use_big_uids = false,
      .hide_kro_more_than_maxuid = true,
      .disable_mysql_snapshots = false,
      .disable_snapshots = false,
      .db_type = DbType::Sqlite,
      .litespeed = Litespeed::Unspecified,
      .raw_values = {},
  };
}

std::expected<Config, ConfigError> parse_config(std::string_view text_in, EventSink* events) {
  Config config = Config::defaults();
  for (std::string_view raw : text::lines(text_in)) {
    const auto line = split_line(raw);
    if (!line) continue;
    config.raw_values.insert_or_assign(std::string(line->key), std::string(line->value));
    if (auto error = apply(config, *line, events)) return std::unexpected(std::move(*error));
  }
  if (config.interval == 0) return std::unexpected(ConfigError{"interval must be > 0 (got 0)"});
  if (config.timeout == 0) return std::unexpected(ConfigError{"timeout must be > 0 (got 0)"});
  if (config.aggregation_period == 0)
    return std::unexpected(ConfigError{"aggregation_period must be > 0 (got 0)"});
  return config;
}

Config load_config(const std::string& path) try {
  // The tool must run without a usable file, so every failure means the
  // defaults; only the diagnostic log says why.
  const auto content = load_text_file(path);
  if (!content) {
    log::event(Level::Info, TARGET, [&] {
      return "cannot read " + path + ": " + content.error().message + "; using the defaults";
    });
    return Config::defaults();
  }
  EventSink* events = log::enabled(Level::Warn) ? &log::process_logger() : nullptr;
  auto config = parse_config(*content, events);
  if (!config) {
    log::event(Level::Warn, TARGET, [&] {
      return path + ": " + config.error().message + "; using the defaults";
    });
    return Config::defaults();
  }
  return std::move(*config);
} catch (const std::bad_alloc&) {
  return Config::defaults();
}

}  // namespace kestrix::core
