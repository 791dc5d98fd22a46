// Per-user database usage: the saved usage file and the live usage tool.
#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

namespace kestrix::core {

inline constexpr const char* DBPEEK_FILE_PATH = "/var/kro/nimbrel_dbpeek.json";
inline constexpr const char* DBPEEK_PATH = "/usr/sbin/dbpeek";
// A usage tool still running after this long counts as a failed run.
inline constexpr std::uint64_t DBPEEK_TIMEOUT_SECS = 15;

struct DbWardStats {
  double cpu = 0.0;
  double io = 0.0;
  std::string cause_of_restrict = "-";
  std::int64_t time_of_restrict = 0;
};

using DbUsageTable = std::unordered_map<std::string, DbWardStats>;

// Decodes the file's text; the error is the reader's message with position.
std::expected<DbUsageTable, std::string> decode_dbpeek_file(std::string_view text);
// Decodes the file's text; any fault gives an empty table.
DbUsageTable parse_dbpeek_file(std::string_view text);
DbUsageTable load_dbpeek_file(const std::string& path = DBPEEK_FILE_PATH);

// Merges the usage tool's output (header line first) into `table`.
void merge_dbpeek_output(DbUsageTable& table, std::string_view output);
// Runs "dbpeek -c" and merges its output; a failed run changes nothing.
void merge_dbpeek_command(DbUsageTable& table, const std::string& program = DBPEEK_PATH,
                          std::uint64_t limit_secs = DBPEEK_TIMEOUT_SECS);

double parse_size(std::string_view text);
std::pair<std::string, std::int64_t> parse_restriction(std::string_view text);

}  // namespace kestrix::core
