// The statistics configuration file shared by the daemon and its tools.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

#include "kestrix/core/diagnostics.h"
#include "kestrix/error.h"

namespace kestrix::core {

inline constexpr std::string_view CONFIG_PATH = "/etc/sysconfig/kestrix2";

enum class DbType { Sqlite = 0, Mysql = 1, Postgres = 2 };
enum class Litespeed { Off = 0, On = 1, Unspecified = 2 };

struct Config {
  std::string connect_string;
  std::string db_name;
  std::string db_path;
  std::string server_id;
  std::string plugins;
  std::string mode;
  std::string warden_mode;
  std::string log_level;
  std::string env;
  std::uint64_t db_timeout;
  std::uint64_t timeout;
  std::uint64_t interval;
  std::uint64_t aggregation_period;
  std::int64_t period_between_incidents;
  std::int64_t max_snapshots_per_incident;
  std::int64_t snapshots_per_minute;
  std::uint32_t keep_history_days;
  std::int32_t compresslevel;
  bool collect_usernames;
  bool normalized_user_cpu;
  bool use_big_uids;
  bool hide_kro_more_than_maxuid;
  bool disable_mysql_snapshots;
  bool disable_snapshots;
  DbType db_type;
  Litespeed litespeed;
  std::unordered_map<std::string, std::string> raw_values;

  static Config defaults();
};

struct ConfigError {
  std::string message;
};

std::expected<Config, ConfigError> parse_config(std::string_view text, EventSink* events = nullptr);

// Reads and parses the file; any failure gives Config::defaults().
Config load_config(const std::string& path = std::string(CONFIG_PATH));

}  // namespace kestrix::core
