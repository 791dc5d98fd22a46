#include "kestrix/core/config.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <new>
#include <fstream>
#include <string>
#include <vector>

#include "kestrix/testing/scratch_dir.h"

namespace kestrix::core {
namespace {

struct RecordingSink : EventSink {
  std::vector<Event> events;
  void emit(const Event& event) override { events.push_back(event); }
};

Config parsed(std::string_view text, EventSink* sink = nullptr) {
  auto result = parse_config(text, sink);
  EXPECT_TRUE(result.has_value()) << (result ? "" : result.error().message);
  return result ? *result : Config::defaults();
}

std::string error_of(std::string_view text) {
  auto result = parse_config(text);
  return result ? "<no error>" : result.error().message;
}

TEST(ConfigTest, TheTwoNoWordSetsDiffer) {
  struct Case {
    std::string value;
    bool normalized_user_cpu;
    bool hide_kro;
  };
  const Case cases[] = {
      {"N", false, false},       {"no", false, false},   {"0", false, false},
      {"FaLsE", false, false},   {"false  ", false, false},
      {"OFF", true, false},      {"off", true, false},   {"f", true, false},
      {"oﬀ", true, false},  // ligature upper-cases to "OFF"
      {"disabled", true, true},  {"", true, true},       {"nope", true, true},
      {"0.0", true, true},
  };
  for (const auto& c : cases) {
    const Config config = parsed("normalized_user_cpu = " + c.value +
                                 "\nhide_kro_more_than_maxuid = " + c.value);
    EXPECT_EQ(config.normalized_user_cpu, c.normalized_user_cpu) << '"' << c.value << '"';
    EXPECT_EQ(config.hide_kro_more_than_maxuid, c.hide_kro) << '"' << c.value << '"';
  }
}

TEST(ConfigTest, YesWordsTurnOnlyTheirSwitchesOn) {
  const std::pair<std::string, bool> cases[] = {
      {"y", true}, {"1", true}, {"Yes", true}, {"TRUE", true}, {"yeſ", true},
      {"on", false}, {"", false}, {"2", false}, {"yes please", false},
  };
  for (const auto& [value, expected] : cases) {
    const Config c = parsed("collect_usernames=" + value + "\nuse_big_uids=" + value +
                            "\ndisable_mysql_snapshots=" + value + "\ndisable_snapshots=" + value);
    EXPECT_EQ(c.collect_usernames, expected) << value;
    EXPECT_EQ(c.use_big_uids, expected) << value;
    EXPECT_EQ(c.disable_mysql_snapshots, expected) << value;
    EXPECT_EQ(c.disable_snapshots, expected) << value;
  }
}

// What ends up in a numeric field, as text, or the error message.
std::string number_outcome(const std::string& line) {
  auto result = parse_config(line);
  if (!result) return "error: " + result.error().message;
  const Config& c = *result;
  const std::string key = line.substr(0, line.find('='));
  if (key == "db_timeout") return std::to_string(c.db_timeout);
  if (key == "interval") return std::to_string(c.interval);
  if (key == "keep_history_days") return std::to_string(c.keep_history_days);
  if (key == "period_between_incidents") return std::to_string(c.period_between_incidents);
  if (key == "compresslevel") return std::to_string(c.compresslevel);
  if (key == "snapshots_per_minute") return std::to_string(c.snapshots_per_minute);
  return "untested key";
}

TEST(ConfigTest, NumbersFollowTheSyntaxAndWidthOfTheirField) {
  const std::pair<std::string, std::string> cases[] = {
      {"interval=+7", "7"},
      {"interval=007", "7"},
      {"interval=-0", "error: Invalid interval: -0"},
      {"interval=", "error: Invalid interval: "},
      {"interval=+", "error: Invalid interval: +"},
      {"interval=1_000", "error: Invalid interval: 1_000"},
      {"interval=0x10", "error: Invalid interval: 0x10"},
      {"interval=1.5", "error: Invalid interval: 1.5"},
      {"interval=1 0", "error: Invalid interval: 1 0"},
      {"interval=１", "error: Invalid interval: １"},  // fullwidth digit
      {"db_timeout=0", "0"},
      {"db_timeout=18446744073709551615", "18446744073709551615"},
      {"db_timeout=18446744073709551616", "error: Invalid db_timeout: 18446744073709551616"},
      {"keep_history_days=4294967295", "4294967295"},
      {"keep_history_days=4294967296", "error: Invalid keep_history_days: 4294967296"},
      {"keep_history_days=-1", "error: Invalid keep_history_days: -1"},
      {"period_between_incidents=-9223372036854775808", "-9223372036854775808"},
      {"period_between_incidents=9223372036854775807", "9223372036854775807"},
      {"period_between_incidents=-9223372036854775809",
       "error: Invalid period_between_incidents: -9223372036854775809"},
      {"period_between_incidents=--1", "error: Invalid period_between_incidents: --1"},
      {"period_between_incidents=-", "error: Invalid period_between_incidents: -"},
      {"compresslevel=5", "5"},
      {"compresslevel=0", "1"},
      {"compresslevel=-3", "1"},
      {"compresslevel=12", "9"},
      {"compresslevel=-2147483648", "1"},
      {"compresslevel=2147483648", "error: Invalid compresslevel: 2147483648"},
      {"snapshots_per_minute=-5", "1"},
      {"snapshots_per_minute=0", "1"},
      {"snapshots_per_minute=3", "3"},
  };
  for (const auto& [line, expected] : cases) EXPECT_EQ(number_outcome(line), expected) << line;
}

TEST(ConfigTest, EveryNumericKeyNamesItselfInItsError) {
  for (std::string key : {"db_timeout", "timeout", "interval", "aggregation_period",
                          "keep_history_days", "compresslevel", "period_between_incidents",
                          "max_snapshots_per_incident", "snapshots_per_minute"}) {
    EXPECT_EQ(error_of(key + " =  5s \t"), "Invalid " + key + ": 5s");
  }
}

TEST(ConfigTest, FirstErrorStopsAndZeroChecksRunInOrder) {
  EXPECT_EQ(error_of("timeout = 5s\ndb_type = pg\ninterval = x"), "Invalid timeout: 5s");
  EXPECT_EQ(error_of("interval = 0\nkeep_history_days = -1"), "Invalid keep_history_days: -1");
  EXPECT_EQ(error_of("aggregation_period=0\ntimeout=0\ninterval=0"),
            "interval must be > 0 (got 0)");
  EXPECT_EQ(error_of("aggregation_period=0\ntimeout=0"), "timeout must be > 0 (got 0)");
  EXPECT_EQ(error_of("aggregation_period=0"), "aggregation_period must be > 0 (got 0)");
  // A zero that a later line repairs is fine; only the final value counts.
  EXPECT_EQ(parsed("interval=0\ninterval=3").interval, 3u);
  EXPECT_EQ(parsed("db_timeout=0").db_timeout, 0u);
}

TEST(ConfigTest, ABadLaterLineVoidsAnEarlierGoodOne) {
  EXPECT_EQ(error_of("hide_kro_more_than_maxuid = no\ninterval = 0"),
            "interval must be > 0 (got 0)");
  EXPECT_EQ(error_of("hide_kro_more_than_maxuid = no\ndb_type = pg"), "Unknown db_type: pg");
}

TEST(ConfigTest, LineSyntax) {
  const Config c = parsed(
      "  # interval = 1\n"
      "; interval = 2\n"
      "[main]\n"
      "\t[interval = 3\n"
      "interval 4\n"
      "env = my env # test\n"
      "connect_string = host=db;user=x\r\n"
      "\xC2\xA0mode\xE3\x80\x80=\xE2\x80\x83 \"v2\" \xC2\xA0\r\n"  // NBSP, ideographic and em spaces
      " = empty key\n"
      "HIDE_KRO_MORE_THAN_MAXUID = no\n"
      "warden_mode = first\n"
      "warden_mode = second\n"
      "not_a_key = kept\n"
      "last = no newline");
  EXPECT_EQ(c.interval, 5u);
  EXPECT_EQ(c.env, "my env # test");
  EXPECT_EQ(c.connect_string, "host=db;user=x");
  EXPECT_EQ(c.mode, "\"v2\"");
  EXPECT_TRUE(c.hide_kro_more_than_maxuid);
  EXPECT_EQ(c.warden_mode, "second");

  const std::unordered_map<std::string, std::string> raw = {
      {"env", "my env # test"},
      {"connect_string", "host=db;user=x"},
      {"mode", "\"v2\""},
      {"", "empty key"},
      {"HIDE_KRO_MORE_THAN_MAXUID", "no"},
      {"warden_mode", "second"},
      {"not_a_key", "kept"},
      {"last", "no newline"},
  };
  EXPECT_EQ(c.raw_values, raw);
}

TEST(ConfigTest, RawValuesKeepTheTextBeforeCaseChanges) {
  const Config c = parsed("log_level = WARN\ndb_type = MySQL\nlitespeed = ON");
  EXPECT_EQ(c.log_level, "warn");
  EXPECT_EQ(c.raw_values.at("log_level"), "WARN");
  EXPECT_EQ(c.raw_values.at("db_type"), "MySQL");
}

TEST(ConfigTest, PathsAndServerId) {
  EXPECT_EQ(parsed("db_path =").db_path, "/var/kro/kestrix2.db");
  EXPECT_EQ(parsed("sqlite_db_path = /a\ndb_path = ").db_path, "/a");
  EXPECT_EQ(parsed("db_path = /a\nsqlite_db_path = /b").db_path, "/b");
  EXPECT_EQ(parsed("plugins =").plugins, "");

  std::string e_acute;
  for (int i = 0; i < 300; ++i) e_acute += "\xC3\xA9";
  EXPECT_EQ(parsed("server_id = " + e_acute).server_id, e_acute.substr(0, 2 * 255));
  const std::string mixed = std::string(254, 'a') + "\xF0\x9F\x98\x80" + "bc";
  EXPECT_EQ(parsed("server_id=" + mixed).server_id, std::string(254, 'a') + "\xF0\x9F\x98\x80");
  const std::string exact(255, 'x');
  EXPECT_EQ(parsed("server_id=" + exact).server_id, exact);
  EXPECT_EQ(parsed("server_id=" + e_acute).raw_values.at("server_id"), e_acute);
}

TEST(ConfigTest, DbTypeAndLitespeed) {
  EXPECT_EQ(parsed("db_type = PostgreSQL").db_type, DbType::Postgres);
  EXPECT_EQ(parsed("db_type = POSTGRES").db_type, DbType::Postgres);
  EXPECT_EQ(parsed("db_type = MySQL").db_type, DbType::Mysql);
  EXPECT_EQ(parsed("db_type = mysql\ndb_type = Sqlite").db_type, DbType::Sqlite);
  EXPECT_EQ(error_of("db_type = pg"), "Unknown db_type: pg");
  EXPECT_EQ(error_of("db_type ="), "Unknown db_type: ");

  const std::pair<std::string, Litespeed> cases[] = {
      {"On", Litespeed::On},   {"1", Litespeed::On},
      {"OFF", Litespeed::Off}, {"0", Litespeed::Off},
      {"", Litespeed::Unspecified}, {"yes", Litespeed::Unspecified},
  };
  for (const auto& [value, expected] : cases)
    EXPECT_EQ(parsed("litespeed = off\nlitespeed = " + value).litespeed, expected) << value;
}

TEST(ConfigTest, LogLevelIsLowerCasedOrWarnedAbout) {
  RecordingSink sink;
  EXPECT_EQ(parsed("log_level = WARN", &sink).log_level, "warn");
  EXPECT_EQ(parsed("logging = Debug", &sink).log_level, "debug");
  EXPECT_TRUE(sink.events.empty());

  // An unknown level keeps whatever was set before and parsing goes on.
  const Config c = parsed("logging = error\nlog_level = Verbose\ninterval = 9", &sink);
  EXPECT_EQ(c.log_level, "error");
  EXPECT_EQ(c.interval, 9u);
  ASSERT_EQ(sink.events.size(), 1u);
  EXPECT_EQ(sink.events[0].level, Level::Warn);
  EXPECT_EQ(sink.events[0].target, "kestrix_core::config");
  EXPECT_EQ(sink.events[0].message, "Unknown log_level 'Verbose', using default 'info'");

  // Without a sink the warning simply goes nowhere.
  EXPECT_EQ(parsed("log_level = verbose").log_level, "info");
}

class ConfigFileTest : public ::testing::Test {
 protected:
  std::string write(const std::string& content) {
    const std::string path = dir_ + "/kestrix2";
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }
  testing::ScratchDir scratch_;
  std::string dir_ = scratch_.root().string();
};

TEST_F(ConfigFileTest, AnyFailureGivesTheDefaults) {
  EXPECT_TRUE(load_config(dir_ + "/missing").hide_kro_more_than_maxuid);
  EXPECT_TRUE(load_config(dir_).raw_values.empty());  // a directory cannot be read

  const Config voided = load_config(write("hide_kro_more_than_maxuid = no\ninterval = 0\n"));
  EXPECT_TRUE(voided.hide_kro_more_than_maxuid);
  EXPECT_TRUE(voided.raw_values.empty());

  const Config not_utf8 = load_config(write("hide_kro_more_than_maxuid = no\nenv = \xFF\n"));
  EXPECT_TRUE(not_utf8.hide_kro_more_than_maxuid);
  EXPECT_TRUE(not_utf8.raw_values.empty());
}

TEST_F(ConfigFileTest, AGoodFileIsApplied) {
  const Config c = load_config(write("hide_kro_more_than_maxuid = OFF\r\ninterval = 10\r\n"));
  EXPECT_FALSE(c.hide_kro_more_than_maxuid);
  EXPECT_EQ(c.interval, 10u);
}

}  // namespace
}  // namespace kestrix::core

namespace kestrix::core {
namespace {

// A default-initialised record built over dirty memory must hold the
// defaults, not whatever the storage held before.
TEST(ConfigTest, APlainConfigIsTheDefaults) {
  alignas(Config) unsigned char storage[sizeof(Config)];
  std::memset(storage, 0xA5, sizeof storage);
  Config* c = new (storage) Config;
  const Config d = Config::defaults();
  EXPECT_EQ(c->connect_string, d.connect_string);
  EXPECT_EQ(c->db_name, d.db_name);
  EXPECT_EQ(c->db_path, d.db_path);
  EXPECT_EQ(c->server_id, d.server_id);
  EXPECT_EQ(c->plugins, d.plugins);
  EXPECT_EQ(c->mode, d.mode);
  EXPECT_EQ(c->warden_mode, d.warden_mode);
  EXPECT_EQ(c->log_level, d.log_level);
  EXPECT_EQ(c->env, d.env);
  EXPECT_EQ(c->db_timeout, d.db_timeout);
  EXPECT_EQ(c->timeout, d.timeout);
  EXPECT_EQ(c->interval, d.interval);
  EXPECT_EQ(c->aggregation_period, d.aggregation_period);
  EXPECT_EQ(c->period_between_incidents, d.period_between_incidents);
  EXPECT_EQ(c->max_snapshots_per_incident, d.max_snapshots_per_incident);
  EXPECT_EQ(c->snapshots_per_minute, d.snapshots_per_minute);
  EXPECT_EQ(c->keep_history_days, d.keep_history_days);
  EXPECT_EQ(c->compresslevel, d.compresslevel);
  EXPECT_EQ(c->collect_usernames, d.collect_usernames);
  EXPECT_EQ(c->normalized_user_cpu, d.normalized_user_cpu);
  EXPECT_EQ(c->use_big_uids, d.use_big_uids);
  EXPECT_EQ(c->hide_kro_more_than_maxuid, d.hide_kro_more_than_maxuid);
  EXPECT_EQ(c->disable_mysql_snapshots, d.disable_mysql_snapshots);
  EXPECT_EQ(c->disable_snapshots, d.disable_snapshots);
  EXPECT_EQ(c->db_type, d.db_type);
  EXPECT_EQ(c->litespeed, d.litespeed);
  EXPECT_TRUE(c->raw_values.empty());
  c->~Config();
}

}  // namespace
}  // namespace kestrix::core
