// The statistics configuration file shared by the daemon and its tools.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

#include "kestrix/core/diagnostics.h"
#include "kestrix/error.h"

namespace kestrix::core {

inline constexpr const char* CONFIG_PATH = "/etc/sysconfig/kestrix2";

enum class DbType { Sqlite = 0, Mysql = 1, Postgres = 2 };
enum class Litespeed { Off = 0, On = 1, Unspecified = 2 };

// Every member starts at its default, so a plain `Config c;` is the defaults.
struct Config {
  std::string connect_string = "localhost/kestrix2";
  std::string db_name = "kestrix2";
  std::string db_path = "/var/kro/kestrix2.db";
  std::string server_id = "localhost";
  std::string plugins = "/usr/share/kestrix/plugins";
  std::string mode = "v1";
  std::string warden_mode = "none";
  std::string log_level = "info";
  std::string env = "production";
  std::uint64_t db_timeout = 60;
  std::uint64_t timeout = 5;
  std::uint64_t interval = 5;
  std::uint64_t aggregation_period = 60;
  std::int64_t period_between_incidents = 300;
  std::int64_t max_snapshots_per_incident = 10;
  std::int64_t snapshots_per_minute = 2;
  std::uint32_t keep_history_days = 30;
  std::int32_t compresslevel = 1;
  bool collect_usernames = false;
  bool normalized_user_cpu = true;
  bool use_big_uids = false;
  bool hide_kro_more_than_maxuid = true;
  bool disable_mysql_snapshots = false;
  bool disable_snapshots = false;
  DbType db_type = DbType::Sqlite;
  Litespeed litespeed = Litespeed::Unspecified;
  std::unordered_map<std::string, std::string> raw_values;

  static Config defaults();
};

struct ConfigError {
  std::string message;
};

std::expected<Config, ConfigError> parse_config(std::string_view text, EventSink* events = nullptr);

// Reads and parses the file; any failure gives Config::defaults().
Config load_config(const std::string& path = CONFIG_PATH);

}  // namespace kestrix::core
