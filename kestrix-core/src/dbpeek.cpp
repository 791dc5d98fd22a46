#include "kestrix/core/dbpeek.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <optional>
#include <vector>

#include "kestrix/io.h"
#include "kestrix/json/record.h"
#include "kestrix/log.h"
#include "kestrix/plugins/helper_runner.h"
#include "kestrix/text.h"
#include "kestrix/utf8.h"

#include <new>

namespace kestrix::core {

namespace kj = kestrix::json;

namespace {

constexpr std::string_view TARGET = "kestrix_core::dbpeek";

struct DbPeekData {
  DbUsageTable dbward_data;
};

}  // namespace

// Every member is optional, but none may be null: a writer that emits null
// is broken and its whole file is distrusted.
bool read(kj::Reader& r, DbWardStats& v) {
  static constexpr kj::RecordType<DbWardStats, 4> type{
      "DbWardStats",
      {{kj::field<&DbWardStats::cpu>("cpu", kj::Need::Defaulted),
        kj::field<&DbWardStats::io>("io", kj::Need::Defaulted),
        kj::field<&DbWardStats::cause_of_restrict>("cause_of_restrict", kj::Need::Defaulted),
        kj::field<&DbWardStats::time_of_restrict>("time_of_restrict", kj::Need::Defaulted)}}};
  return kj::read_record(r, type, v);
}

namespace {

bool read(kj::Reader& r, DbPeekData& v) {
  static constexpr kj::RecordType<DbPeekData, 1> type{
      "DbPeekData", {{kj::field<&DbPeekData::dbward_data>("dbward_data", kj::Need::Defaulted)}}};
  return kj::read_record(r, type, v);
}

bool equals_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char c = a[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != b[i]) return false;
  }
  return true;
}

bool all_digits(std::string_view s) {
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

// The usual decimal syntax: optional sign, digits with an optional fraction
// (either side of the point may be empty, not both) and exponent, or the
// words inf, infinity and nan in any case. Nothing else, not even blanks.
std::optional<double> parse_f64(std::string_view text) {
  bool negative = false;
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  const double sign = negative ? -1.0 : 1.0;
  if (equals_ignoring_case(text, "inf") || equals_ignoring_case(text, "infinity"))
    return sign * std::numeric_limits<double>::infinity();
  if (equals_ignoring_case(text, "nan")) return std::numeric_limits<double>::quiet_NaN();

  std::string_view mantissa = text, exponent;
  if (const auto e = text.find_first_of("eE"); e != std::string_view::npos) {
    mantissa = text.substr(0, e);
    exponent = text.substr(e + 1);
    if (!exponent.empty() && (exponent[0] == '+' || exponent[0] == '-')) exponent.remove_prefix(1);
    if (exponent.empty() || !all_digits(exponent)) return std::nullopt;
  }
  const auto point = mantissa.find('.');
  const std::string_view whole = mantissa.substr(0, point);
  const std::string_view fraction =
      point == std::string_view::npos ? std::string_view() : mantissa.substr(point + 1);
  if (whole.empty() && fraction.empty()) return std::nullopt;
  if (!all_digits(whole) || !all_digits(fraction)) return std::nullopt;

  double value = 0.0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec == std::errc::result_out_of_range) {
    // Too large or too small for a double: the nearest value is infinity or zero.
    long long magnitude = 0;
    for (char c : whole)
      if (c != '0' || magnitude > 0) ++magnitude;
    if (magnitude == 0) {
      std::size_t zeros = 0;
      while (zeros < fraction.size() && fraction[zeros] == '0') ++zeros;
      magnitude = -static_cast<long long>(zeros);
    }
    if (!exponent.empty()) {
      const bool exp_negative = text[text.size() - exponent.size() - 1] == '-';
      long long e = 0;
      for (char c : exponent) e = std::min(e * 10 + (c - '0'), 1LL << 40);
      magnitude += exp_negative ? -e : e;
    }
    value = magnitude > 0 ? std::numeric_limits<double>::infinity() : 0.0;
  } else if (ec != std::errc() || end != text.data() + text.size()) {
    return std::nullopt;
  }
  return sign * value;
}

// The first two "/"-separated parts of a field; the second may be absent.
std::pair<std::string_view, std::string_view> first_two_parts(std::string_view field) {
  const auto slash = field.find('/');
  if (slash == std::string_view::npos) return {field, std::string_view()};
  std::string_view rest = field.substr(slash + 1);
  return {field.substr(0, slash), rest.substr(0, rest.find('/'))};
}

// The tool reports the current figure first and a longer-term one after the
// slash; the latter stands in when the former is zero.
double size_pair(std::string_view field) {
  const auto [first, second] = first_two_parts(field);
  const double a = parse_size(first);
  return a > 0 ? a : parse_size(second);
}

double cpu_pair(std::string_view field) {
  const auto [first, second] = first_two_parts(field);
  const double a = parse_f64(first).value_or(0.0);
  return a > 0 ? a : parse_f64(second).value_or(0.0);
}

void merge_line(DbUsageTable& table, std::string_view line) {
  const auto fields = text::fields(line);
  if (fields.size() < 5) return;
  DbWardStats stats;
  stats.cpu = cpu_pair(fields[1]);
  stats.io = size_pair(fields[2]) + size_pair(fields[3]);
  std::tie(stats.cause_of_restrict, stats.time_of_restrict) = parse_restriction(fields[4]);

  // A user seen for the first time keeps his line as it is: a default entry
  // would hide a restriction that came with zero usage.
  const auto [it, inserted] = table.try_emplace(std::string(fields[0]), stats);
  if (inserted) return;
  if (stats.cpu > it->second.cpu || stats.io > it->second.io) it->second = std::move(stats);
}

}  // namespace

double parse_size(std::string_view text) {
  if (const auto whole = parse_f64(text)) return *whole;
  if (text.empty()) return 0.0;
  // The unit is the last character, which may be more than one byte long.
  std::size_t last = text.size() - 1;
  while (last > 0 && utf8::is_continuation(static_cast<unsigned char>(text[last]))) --last;
  const std::string_view unit = text.substr(last);
  double factor = 0.0;
  if (unit == "K" || unit == "k") {
    factor = 1024.0;
  } else if (unit == "M" || unit == "m") {
    factor = 1024.0 * 1024.0;
  } else if (unit == "G" || unit == "g") {
    factor = 1024.0 * 1024.0 * 1024.0;
  } else {
    return 0.0;
  }
  return parse_f64(text.substr(0, last)).value_or(0.0) * factor;
}

std::pair<std::string, std::int64_t> parse_restriction(std::string_view text) {
  if (text.empty() || text == "-") return {"-", 0};
  std::string cause = "unknown";
  for (const char* kind : {"cpu", "read", "write"}) {
    if (text.find(kind) != std::string_view::npos) {
      cause = kind;
      break;
    }
  }
  const auto slash = text.rfind('/');
  const std::string_view time = slash == std::string_view::npos ? text : text.substr(slash + 1);
  return {std::move(cause), text::parse_decimal<std::int64_t>(time).value_or(0)};
}

std::expected<DbUsageTable, std::string> decode_dbpeek_file(std::string_view text) {
  auto data = kj::decode<DbPeekData>(text);
  if (!data) return std::unexpected(std::move(data.error()));
  return std::move(data->dbward_data);
}

DbUsageTable parse_dbpeek_file(std::string_view text) {
  auto table = decode_dbpeek_file(text);
  if (!table) return {};
  return std::move(*table);
}

DbUsageTable load_dbpeek_file(const std::string& path) try {
  const auto text = load_text_file(path, DATA_FILE_LIMIT);
  if (!text) {
    log::event(log::Level::Info, TARGET, [&] {
      return "cannot read " + path + ": " + text.error().message + "; no database usage from it";
    });
    return {};
  }
  auto data = kj::decode<DbPeekData>(*text);
  if (!data) {
    log::event(log::Level::Warn, TARGET, [&] {
      return "cannot decode " + path + ": " + data.error() + "; no database usage from it";
    });
    return {};
  }
  return std::move(data->dbward_data);
} catch (const std::bad_alloc&) {
  return {};
}

void merge_dbpeek_output(DbUsageTable& table, std::string_view output) {
  const std::string text = text::decode_lossy(output);
  std::string_view rest = text;
  for (bool header = true; !rest.empty(); header = false) {
    const auto newline = rest.find('\n');
    const std::string_view line = rest.substr(0, newline);
    rest = newline == std::string_view::npos ? std::string_view() : rest.substr(newline + 1);
    if (!header) merge_line(table, line);
  }
}

void merge_dbpeek_command(DbUsageTable& table, const std::string& program,
                          std::uint64_t limit_secs) try {
  const auto run = plugins::run_with_timeout(program, {"-c"}, limit_secs, plugins::Stdin::Empty);
  if (!run) {
    log::event(log::Level::Warn, TARGET, [&] {
      return program + " -c failed, database usage not refreshed: " + run.error().message();
    });
    return;
  }
  if (run->status != 0) {
    log::event(log::Level::Warn, TARGET, [&] {
      return program + " -c exited with " + plugins::status_text(run->status) +
             ", database usage not refreshed: " +
             std::string(utf8::excerpt(text::trim(text::decode_lossy(run->stderr_bytes)), 500));
    });
    return;
  }
  merge_dbpeek_output(table, run->stdout_bytes);
} catch (const std::bad_alloc&) {
  // Lines merged so far stay: each is a complete entry of its own.
}

}  // namespace kestrix::core
